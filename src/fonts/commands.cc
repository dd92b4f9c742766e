// The font commands.
//
//   <font N file>          registers a font file as page font /FN (15 to 99)
//   <font N [Family Name]> the same, the file found by fontconfig
//   <fallback N M ...>     the registered fonts that draw, in this order,
//                          what the page font lacks (an empty list: none)
//
// Like the picture commands, <font> is given between pages, never while a
// page's content is open; its file is read and checked at once.
#include <string>

#include "diagnostics.h"
#include "input.h"
#include "run_state.h"

namespace {

constexpr int first_font_number = 15, last_font_number = 99;

std::string line_prefix() { return "line " + std::to_string(run.line_number) + ": "; }

// A bracketed name after its "[": the characters up to "]".
std::string read_font_name() {
  std::string name;
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error(62, msg_unexpected_end);
    if (name.size() >= max_sting) fatal_error(58, msg_string_too_long);
    if (t >= tok_unicode) {
      unsigned char bytes[4];
      name.append(reinterpret_cast<char*>(bytes), put_utf8(t - tok_unicode, bytes));
    } else if (!is_bracket_token(t)) {
      name += static_cast<char>(t);
    }
  }
  return name;
}

}  // namespace

void command_font() {
  if (run.stream_open) fatal_error(100, msg_font_in_page);
  int32_t number = read_number();
  if (number < first_font_number || number > last_font_number) {
    report_problem(line_prefix() + "font " + std::to_string(number) +
                   ": use a number from 15 to 99 (/F1 to /F14 are the standard fonts)");
    fatal_error(101, msg_font_number);
  }
  if (run.fonts.by_number[number] != 0) {
    report_problem(line_prefix() + "font " + std::to_string(number) + " is already " +
                   run.fonts.fonts[run.fonts.by_number[number] - 1]->path);
    fatal_error(102, msg_font_number_used);
  }
  char word[word_buffer_size];
  int ended = read_word(word);
  std::string path = word, shown = word;
  if (word[0] == 0 && ended == tok_open_bracket) {
    std::string name = read_font_name(), reason;
    path = find_font_by_name(name, &reason);
    if (path.empty()) {
      report_problem(line_prefix() + reason);
      fatal_error(109, msg_no_such_font);
    }
    shown = path;
  } else if (word[0] == 0) {
    fatal_error(103, msg_cant_open_external);
  }
  std::unique_ptr<Font> font = load_font_file(path, shown);
  font->resource_name = "F" + std::to_string(number);
  run.fonts.fonts.push_back(std::move(font));
  run.fonts.by_number[number] = static_cast<int16_t>(run.fonts.fonts.size());
  ++run.fonts.registered;
  run.inittext_layout_ready = 0;  // its font may be this one
}

void command_fallback() {
  std::vector<int16_t> fallbacks;
  char word[word_buffer_size];
  for (;;) {
    int ended = read_word(word);
    if (word[0] == 0) {
      if (ended == tok_close_angle) break;
      fatal_error(59, msg_error_reading_number);
    }
    int32_t number = 0;
    for (const char* c = word; *c; ++c) {
      if (*c < '0' || *c > '9' || number > last_font_number) fatal_error(61, msg_error_reading_number);
      number = number * 10 + (*c - '0');
    }
    if (number < first_font_number || number > last_font_number ||
        run.fonts.by_number[number] == 0) {
      report_problem(line_prefix() + "fallback " + std::to_string(number) +
                     ": give fonts registered with <font N file> first");
      fatal_error(110, msg_fallback_not_font);
    }
    fallbacks.push_back(static_cast<int16_t>(run.fonts.by_number[number] - 1));
    if (ended == tok_close_angle) break;
  }
  run.fonts.fallbacks = fallbacks;
  run.group_closed = true;
}
