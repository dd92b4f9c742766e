// String pool: outline titles, annotation contents, URLs and launch
// parameters, kept from the moment they are read until the document tail.
// Each is stored as the body of a PDF literal string, escaped and ended by a
// zero byte; a string is known by its offset.
//
// The limit is tested before each character; the longest escape takes four
// bytes and the terminator one more, which the arena's reserve holds.
#include "diagnostics.h"
#include "input.h"
#include "pdf.h"

// Stores one character of a string, escaped for a literal string: "(", ")"
// and backslash get a backslash, and a zero byte becomes the octal escape
// \000 so that it does not end the string early.
static void pool_put_char(int byte) {
  unsigned char* pool = run.string_pool;
  if (byte == '(' || byte == ')' || byte == '\\') {
    pool[run.pool_length++] = '\\';
  } else if (byte == 0) {
    pool[run.pool_length++] = '\\';
    pool[run.pool_length++] = '0';
    pool[run.pool_length++] = '0';
    byte = '0';
  }
  pool[run.pool_length++] = static_cast<unsigned char>(byte);
}

void pool_put_string(const char* text) {
  for (; *text; ++text) {
    if (run.pool_length >= max_text) fatal_error(47, msg_text_buffer_too_small);
    pool_put_char(static_cast<unsigned char>(*text));
  }
  run.string_pool[run.pool_length++] = 0;
}

// The character a token inside a bracketed string stands for: bracket tokens
// other than the closing "]" stand for their own characters.
static int string_char_of(int t) {
  switch (t) {
    case tok_open_bracket: return '[';
    case tok_open_brace: return '{';
    case tok_close_brace: return '}';
    case tok_open_angle: return '<';
    case tok_close_angle: return '>';
    default: return t & 0xFF;
  }
}

void pool_read_bracketed() {
  for (;;) {  // skip to the "[": characters before it are passed over
    int t = next_token();
    if (t == tok_open_bracket) break;
    if (t < 0 || t > 255) fatal_error(45, msg_error_in_string);
  }
  int32_t start = run.pool_length;
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error(64, msg_unexpected_end);
    if (run.pool_length >= max_text) fatal_error(46, msg_text_buffer_too_small);
    pool_put_char(string_char_of(t));
  }
  if (run.pool_length == start && run.pool_length >= max_text)  // "[]" on a full pool
    fatal_error(46, msg_text_buffer_too_small);
  run.string_pool[run.pool_length++] = 0;
}

int32_t emit_pool_string(int32_t offset) {
  while (run.string_pool[offset] != 0) emit_char(run.string_pool[offset++]);
  return offset + 1;
}
