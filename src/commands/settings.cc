// Settings commands: paper size, rotation, initial text state, lines per page
// and full-screen mode. Every setting holds until changed; nothing is reset
// per page.
#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "page.h"

// The paper size holds for the whole document, so it may only be set before
// anything of the first page is written.
void command_paper() {
  if (run.stream_open || run.page_count != 0) fatal_error(20, msg_paper_before_text);
  run.paper_width = read_number();
  run.paper_height = read_number();
}

void command_rotate() { run.rotate = read_number(); }

void command_lines() { run.lines_per_page = read_number(); }

// A positive value is the page duration in seconds; any other non-zero value
// is full screen without a duration (-1); 0 asks for the latter too.
void command_fullscreen() {
  int32_t seconds = read_number();
  run.fullscreen_duration = seconds > 0 ? seconds : -1;
}

// The operators written after the first BT of every page from now on, in
// place of the default text state.
void command_inittext() {
  for (;;) {  // skip to the "[": characters are passed over silently
    int t = next_token();
    if (t == tok_open_bracket) break;
    if (t < 0 || t > 255) fatal_error(21, msg_error_in_string);
  }
  int32_t length = 0;
  int64_t first_line = current_input_line();
  BlockCheck* check = block_check_begin();
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error(65, msg_unexpected_end);
    if (length >= max_inittext) fatal_error(22, msg_inittext_too_long);
    if (check) block_check_token(check, t);
    run.inittext_buffer[length++] = static_cast<unsigned char>(t);
  }
  run.inittext_buffer[length] = '\n';
  run.inittext_buffer[length + 1] = 0;
  run.inittext_set = 1;
  run.inittext_layout_ready = 0;
  if (check) block_check_end(check, BlockPlace::inittext, first_line);
}
