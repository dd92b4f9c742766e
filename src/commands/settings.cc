// Settings commands: paper size, rotation, initial text state, lines per page,
// full-screen mode, the input's encoding, tabs and wrapping. Every setting
// holds until changed; nothing is reset per page.
#include <string>

#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "page.h"

// The paper size holds for the whole document, so it may only be set before
// anything of the first page is written.
void command_paper() {
  if (run.stream_open || run.page_count != 0)
    fatal_error_at(20, msg_paper_before_text, run.places.command);
  run.paper_width = read_number();
  run.paper_height = read_number();
}

void command_rotate() { run.rotate = read_number(); }

void command_lines() {
  run.lines_per_page = read_number();
  run.lines_derived = 0;
}

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
    if (t < 0 || is_bracket_token(t)) fatal_error(21, msg_error_in_string);
  }
  run.places.block = current_place();
  int32_t length = 0;
  int64_t first_line = current_input_line();
  BlockCheck* check = block_check_begin();
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error_at(65, msg_unexpected_end, run.places.block);
    if (length >= max_inittext) fatal_error_at(22, msg_inittext_too_long, run.places.block);
    int byte = winansi_byte(t, 85);
    if (check) block_check_token(check, is_bracket_token(t) ? t : byte);
    run.inittext_buffer[length++] = static_cast<unsigned char>(byte);
  }
  run.inittext_buffer[length] = '\n';
  run.inittext_buffer[length + 1] = 0;
  run.inittext_set = 1;
  run.inittext_layout_ready = 0;
  if (check) block_check_end(check, BlockPlace::inittext, first_line);
}

// From the next character on, the input is read as UTF-8 or as Windows-1252
// bytes. Either word also ends the test for undeclared UTF-8.
void command_encoding() {
  char word[word_buffer_size];
  read_word(word);
  if (words_equal(word, "utf8")) {
    run.utf8 = 1;
  } else if (words_equal(word, "winansi")) {
    run.utf8 = 0;
  } else {
    report_problem("line " + std::to_string(run.line_number) + ": unknown encoding \"" + word +
                   "\": use utf8 or winansi");
    fatal_error_at(86, msg_unknown_encoding, run.places.word);
  }
  run.utf8_checks = 0;
}

namespace {

int32_t read_in_range(int32_t low, int32_t high, int code, const char* command) {
  int32_t value = read_number();
  if (value == 0 || (value >= low && value <= high)) return value;
  report_problem("line " + std::to_string(run.line_number) + ": " + command + " " +
                 std::to_string(value) + ": use 0 (off) or " + std::to_string(low) + " to " +
                 std::to_string(high));
  fatal_error_at(code, msg_value_out_of_range, run.places.word);
}

}  // namespace

void command_tabs() { run.tab_width = read_in_range(1, max_tabs, 87, "tabs"); }

void command_wrap() { run.wrap_width = read_in_range(min_wrap, max_wrap, 88, "wrap"); }
