// String pool: outline titles, annotation contents, URLs and launch
// parameters, kept from the moment they are read until the document tail.
// Each is stored as the body of a PDF literal string, escaped and ended by a
// zero byte; a string is known by its offset.
//
// The limit is tested before each character; the longest escape takes four
// bytes and the terminator one more, which the arena's reserve holds.
//
// Under <encoding utf8> a title or note with any character beyond ASCII is
// stored as a PDF text string in UTF-16BE after its byte order mark, each
// byte escaped as above and a line feed byte as \n; the limit then counts
// the bytes that form takes. An escape there stands for the
// Windows-1252 character of its byte, as it does on the page. Launch
// parameters keep the bytes as written.
#include <vector>

#include "diagnostics.h"
#include "input.h"
#include "pdf.h"

// Stores one character of a string, escaped for a literal string: "(", ")"
// and backslash get a backslash, a carriage return becomes \r (a reader
// takes a bare one for a line feed), and a zero byte becomes the octal
// escape \000 so that it does not end the string early.
static void pool_put_char(int byte) {
  unsigned char* pool = run.string_pool;
  if (byte == '(' || byte == ')' || byte == '\\') {
    pool[run.pool_length++] = '\\';
  } else if (byte == '\r') {
    pool[run.pool_length++] = '\\';
    byte = 'r';
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
    if (run.pool_length >= max_text) fatal_error_at(47, msg_text_buffer_too_small, run.places.word);
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

// Skips to the "[" of a bracketed string: characters before it are passed over.
static void skip_to_bracket() {
  for (;;) {
    int t = next_token();
    if (t == tok_open_bracket) break;
    if (t < 0 || is_bracket_token(t)) fatal_error(45, msg_error_in_string);
  }
  run.places.block = current_place();
}

// Ends a string begun at `start`.
static void pool_end_string(int32_t start) {
  if (run.pool_length == start && run.pool_length >= max_text)  // "[]" on a full pool
    fatal_error_at(46, msg_text_buffer_too_small, run.places.block);
  run.string_pool[run.pool_length++] = 0;
}

// Stores one byte of a UTF-16BE string body, where a line feed byte must
// not become the CR LF the channel writes for a line feed.
static void pool_put_utf16_byte(int byte) {
  if (byte == '\n') {
    run.string_pool[run.pool_length++] = '\\';
    byte = 'n';
  }
  pool_put_char(byte);
}

static int utf16_stored_size(int byte) {
  return byte == 0                                                                      ? 4
         : (byte == '(' || byte == ')' || byte == '\\' || byte == '\n' || byte == '\r') ? 2
                                                                                        : 1;
}

// A bracketed title or note read as UTF-8: its characters are gathered first,
// then stored plain if all are ASCII, else in UTF-16BE.
static void pool_read_text_utf8() {
  std::vector<int> chars;
  bool beyond_ascii = false;
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error_at(64, msg_unexpected_end, run.places.block);
    if (run.pool_length + static_cast<int64_t>(chars.size()) >= max_text)
      fatal_error_at(46, msg_text_buffer_too_small, run.places.block);
    int c = t >= tok_unicode ? t - tok_unicode : unicode_of_winansi(string_char_of(t));
    beyond_ascii |= c >= 0x80;
    chars.push_back(c);
  }
  int32_t start = run.pool_length;
  if (!beyond_ascii) {
    for (int c : chars) {
      if (run.pool_length >= max_text)
        fatal_error_at(46, msg_text_buffer_too_small, run.places.block);
      pool_put_char(c);
    }
    pool_end_string(start);
    return;
  }
  unsigned char units[4] = {0xFE, 0xFF};
  int count = 2;
  size_t next = 0;
  for (;;) {
    int size = 0;
    for (int i = 0; i < count; ++i) size += utf16_stored_size(units[i]);
    if (run.pool_length + size > max_text)
      fatal_error_at(46, msg_text_buffer_too_small, run.places.block);
    for (int i = 0; i < count; ++i) pool_put_utf16_byte(units[i]);
    if (next == chars.size()) break;
    int c = chars[next++];
    if (c >= 0x10000) {  // a surrogate pair
      int high = 0xD800 + ((c - 0x10000) >> 10), low = 0xDC00 + ((c - 0x10000) & 0x3FF);
      units[0] = high >> 8, units[1] = high & 0xFF, units[2] = low >> 8, units[3] = low & 0xFF;
      count = 4;
    } else {
      units[0] = c >> 8, units[1] = c & 0xFF;
      count = 2;
    }
  }
  pool_end_string(start);
}

void pool_read_bracketed() {
  skip_to_bracket();
  if (run.utf8) {
    pool_read_text_utf8();
    return;
  }
  int32_t start = run.pool_length;
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error_at(64, msg_unexpected_end, run.places.block);
    if (run.pool_length >= max_text)
      fatal_error_at(46, msg_text_buffer_too_small, run.places.block);
    pool_put_char(string_char_of(t));
  }
  pool_end_string(start);
}

void pool_read_bracketed_bytes() {
  skip_to_bracket();
  int32_t start = run.pool_length;
  for (int t = next_token(); t != tok_close_bracket; t = next_token()) {
    if (t == tok_end) fatal_error_at(64, msg_unexpected_end, run.places.block);
    unsigned char bytes[4] = {static_cast<unsigned char>(string_char_of(t))};
    int count = t >= tok_unicode ? put_utf8(t - tok_unicode, bytes) : 1;
    for (int i = 0; i < count; ++i) {
      if (run.pool_length >= max_text)
        fatal_error_at(46, msg_text_buffer_too_small, run.places.block);
      pool_put_char(bytes[i]);
    }
  }
  pool_end_string(start);
}

int32_t emit_pool_string(int32_t offset) {
  while (run.string_pool[offset] != 0) emit_char(run.string_pool[offset++]);
  return offset + 1;
}
