// Tokens, words and numbers.
//
//   [ { < > } ]    bracket tokens 256..261; "<" and ">" switch in_command
//   \f \n \r       form feed, line feed, carriage return
//   \d \dd \ddd    octal character code, not reduced to 8 bits (up to 511)
//   \x             the character x itself, brackets and backslash included
//
// Under <encoding utf8> a character beyond ASCII arrives as tok_unicode plus
// its code point; in a word it stands for its UTF-8 bytes.
//
// Blank rules: outside commands one blank or line feed right before an
// opening bracket is dropped; one blank or line feed right after a closing
// bracket is dropped everywhere; and a ">" that follows any character other
// than a blank gets a blank delivered before it, so a word written against
// ">" still ends at a blank.
#include "diagnostics.h"
#include "input.h"

namespace {

bool is_octal_digit(int c) { return c >= '0' && c <= '7'; }

// An empty line whose line end is dropped before a bracket or group does not
// show; the author usually meant it to.
void note_vanished_line() {
  if (!run.options.warnings) return;
  char opener[] = {static_cast<char>(run.lookahead_char), 0};
  warn(warn_vanished_line, current_input_line(),
       std::string("this empty line does not show: the line end before the '") + opener +
           "' that follows is dropped; write \\n on the line to keep it");
}

// Drops one blank or line feed that directly follows a closing bracket.
void drop_blank_after_closer() {
  if (run.lookahead_char == ' ' || run.lookahead_char == '\n') next_char();
}

int read_escape() {
  int esc = next_char();
  switch (esc) {
    case 'f': return 12;
    case 'n': return 10;
    case 'r': return 13;
    default: break;
  }
  if (!is_octal_digit(esc)) return esc;  // the character itself, -1 included
  int value = esc - '0';
  for (int digits = 1; digits < 3 && is_octal_digit(run.lookahead_char); ++digits)
    value = value * 8 + (next_char() - '0');
  return value;
}

}  // namespace

int next_token() {
  if (run.plain_text) {  // every character, and the end of a verbatim file
    int ch = next_char();
    if (ch != tok_end || !run.verbatim.active) return ch;
    end_verbatim();
    return next_token();
  }
  if (run.lookahead_char == '>' && run.current_char != ' ') {  // blank before ">"
    run.current_char = ' ';
    return ' ';
  }
  int ch = next_char();
  if ((ch == ' ' || ch == '\n') && !run.in_command) {  // blank before an opener?
    int ahead = run.lookahead_char;
    if (ahead == '[' || ahead == '{' || ahead == '<') {
      if (ch == '\n' && run.previous_char == '\n') note_vanished_line();
      ch = next_char();
    }
  }
  switch (ch) {
    case '[': return tok_open_bracket;
    case ']': drop_blank_after_closer(); return tok_close_bracket;
    case '{': return tok_open_brace;
    case '}': drop_blank_after_closer(); return tok_close_brace;
    case '<': run.in_command = 1; return tok_open_angle;
    case '>':
      run.in_command = 0;
      drop_blank_after_closer();
      return tok_close_angle;
    case '\\': return read_escape();
    default: return ch;
  }
}

int read_word(char* word) {
  int t;
  do {
    t = next_token();
    if (is_bracket_token(t)) {
      word[0] = 0;
      return t;
    }
    if (t == tok_end) fatal_error_at(62, msg_unexpected_end, run.places.group);
  } while (t <= ' ');
  run.places.word = current_place();
  int length = 0;
  for (;;) {
    if (t >= tok_unicode) {  // a character read as UTF-8: its bytes as written
      unsigned char bytes[4];
      int count = put_utf8(t - tok_unicode, bytes);
      for (int i = 0; i < count; ++i) {
        if (length == max_sting) fatal_error_at(58, msg_string_too_long, run.places.word);
        word[length++] = static_cast<char>(bytes[i]);
      }
    } else {
      if (length == max_sting) fatal_error_at(58, msg_string_too_long, run.places.word);
      word[length++] = static_cast<char>(t);
    }
    t = next_token();
    if (is_bracket_token(t) || t <= ' ') {
      word[length] = 0;
      return t >= 256 ? t : 0;
    }
  }
}

int32_t read_number() {
  int t;
  do {
    t = next_token();
    if (t >= 256) fatal_error(59, msg_error_reading_number);
    if (t == tok_end) fatal_error_at(63, msg_unexpected_end, run.places.group);
  } while (t <= ' ');
  run.places.word = current_place();
  int32_t sign = 1;
  if (t == '-') {
    sign = -1;
    t = next_token();
    if (t >= 256) fatal_error(59, msg_error_reading_number);
  }
  uint32_t value = 0;  // wraps modulo 2^32 on long digit strings
  while (t > ' ') {
    if (t >= 256) fatal_error(60, msg_error_reading_number);
    if (t < '0' || t > '9') fatal_error(61, msg_error_reading_number);
    value = value * 10 + static_cast<uint32_t>(t - '0');
    t = next_token();
  }
  return wrap32(int64_t{sign} * static_cast<int32_t>(value));
}

int words_equal(const char* a, const char* b) {
  for (; *a == *b; ++a, ++b)
    if (*a == 0) return 1;
  return 0;
}
