// Running heads and feet, and page numbers.
//
//   <head POSITION FONT SIZE [TEXT]>   a line of text at the top of every page
//   <foot POSITION FONT SIZE [TEXT]>   the same at the bottom
//   <head off>  <foot off>             no head or foot from then on
//   <margins LEFT RIGHT TOP BOTTOM>    where heads and feet stand
//   <pagenumber N>                     the page is numbered N, the next N + 1, ...
//   <bare>                             the page shows no head or foot
//
// POSITION is left, centre (or center) or right; FONT the number of a font
// (/F1 to /F14); in TEXT, %p stands for the page's number, %n for the
// number of the last page, %f for the document's file name and %% for a
// percent sign. Like inittext, each applies from the page whose content
// begins next: the current page if nothing of it is written yet, else the
// next one. The lines themselves are drawn by src/page/running.cc.
#include <string>

#include "commands.h"
#include "diagnostics.h"
#include "input.h"

namespace {

// A number in `low` .. `high`; another stops the run with `code`, saying
// which values the command takes.
int32_t read_bounded(int32_t low, int32_t high, int code, const char* what) {
  int32_t value = read_number();
  if (value >= low && value <= high) return value;
  report_problem("line " + std::to_string(run.places.word.line) + ": " + what + " " +
                 std::to_string(value) + ": use " + std::to_string(low) + " to " +
                 std::to_string(high));
  fatal_error_at(code, msg_value_out_of_range, run.places.word);
}

// Reads "[TEXT]" into the slot as Windows-1252 bytes; line ends and tabs
// become blanks.
void read_running_text(RunningSlot& slot) {
  for (;;) {  // skip to the "[": characters are passed over
    int t = next_token();
    if (t == tok_open_bracket) break;
    if (t < 0 || is_bracket_token(t)) fatal_error(120, msg_error_in_string);
  }
  run.places.block = current_place();
  slot.length = 0;
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error_at(121, msg_unexpected_end, run.places.block);
    int byte;
    switch (t) {
      case tok_open_bracket: byte = '['; break;
      case tok_open_brace: byte = '{'; break;
      case tok_close_brace: byte = '}'; break;
      case tok_open_angle: byte = '<'; break;
      case tok_close_angle: byte = '>'; break;
      default: byte = winansi_byte(t, 122); break;
    }
    if (byte == '\n' || byte == '\r' || byte == '\t') byte = ' ';
    if (slot.length == max_running_text)
      fatal_error_at(123, msg_running_text_too_long, run.places.block);
    slot.text[slot.length++] = static_cast<unsigned char>(byte);
  }
}

// The head's slots are 0 to 2, the foot's 3 to 5.
void command_running_line(int first_slot, const char* what) {
  char word[word_buffer_size];
  read_word(word);
  int position;
  if (words_equal(word, "left")) {
    position = 0;
  } else if (words_equal(word, "centre") || words_equal(word, "center")) {
    position = 1;
  } else if (words_equal(word, "right")) {
    position = 2;
  } else if (words_equal(word, "off")) {
    for (int i = 0; i < 3; ++i) run.running.slot[first_slot + i].font = 0;
    ++run.running.version;
    return;
  } else {
    report_problem("line " + std::to_string(run.places.word.line) + ": " + what + " " + word +
                   ": use left, centre, right or off");
    fatal_error_at(124, msg_unknown_position, run.places.word);
  }
  RunningSlot& slot = run.running.slot[first_slot + position];
  int32_t font = read_bounded(1, 14, 125, "font");
  int32_t size = read_bounded(1, 1000, 126, "size");
  read_running_text(slot);
  slot.font = slot.length == 0 ? 0 : font;  // an empty text empties the slot
  slot.size = size;
  ++run.running.version;
}

}  // namespace

void command_head() { command_running_line(0, "head"); }

void command_foot() { command_running_line(3, "foot"); }

void command_margins() {
  RunningState& running = run.running;
  running.left = read_number();
  running.right = read_number();
  running.top = read_number();
  running.bottom = read_number();
  ++running.version;
}

void command_pagenumber() {
  run.running.next_number = read_bounded(0, INT32_MAX, 127, "pagenumber");
}

void command_bare() { run.running.bare_page = run.page_count + (run.stream_open ? 1 : 0); }
