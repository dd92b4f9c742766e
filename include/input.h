// Input front end: bytes to characters (carriage returns dropped, lines
// counted, comments removed inside commands), characters to tokens (escapes,
// brackets, blank rules), and the word and number readers of the commands.
#pragma once

#include <cstddef>

#include "run_state.h"

// Tokens delivered by next_token: -1 is the end of input, 0..255 a character
// (an octal escape may also yield 256..511, which then reads like the token of
// that value), and the six brackets follow the byte range.
enum : int {
  tok_end = -1,
  tok_open_bracket = 256,   // [
  tok_close_bracket = 257,  // ]
  tok_open_brace = 258,     // {
  tok_close_brace = 259,    // }
  tok_open_angle = 260,     // <
  tok_close_angle = 261,    // >
  // A character beyond ASCII read as UTF-8 is delivered as tok_unicode plus
  // its code point, above every byte, escape and bracket value.
  tok_unicode = 0x1000000,
};

// Opens a file for reading bytes ("-": standard input); null, with errno
// set, if it cannot be opened, is a directory, or is a character or block
// device while `devices` is false. `id`, when given, receives the file's
// identity.
std::FILE* open_for_reading(const char* path, FileId* id, bool devices);

// Attaches the input text: a file (false if it cannot be opened) or memory.
bool input_open_file(const char* path);
void input_open_memory(const unsigned char* text, size_t size);
void input_close();

// Refills the input window; the next byte, or -1 at the end of the file.
// The last input_history bytes of the window stay in memory before it.
int input_refill();
constexpr size_t input_history = 16;

// --- Places (src/input/places.cc) -----------------------------------------------

// The place of the character last delivered (current_char).
Place current_place();

// The place of the input byte at `at`, still in memory, on input line `line`.
Place place_of_byte(const unsigned char* at, int64_t line);

// Moves the last `keep` bytes of the window to `into` before the window is
// refilled, counting the characters of the line in progress that leave memory.
void input_keep_history(InputStream& in, size_t keep, unsigned char* into);

inline int input_read_byte() {
  InputStream& in = run.input_file;
  if (in.next < in.end) return *in.next++;
  return input_refill();
}

// The rest of a UTF-8 sequence whose first byte is `lead`: the character as
// tok_unicode plus its code point. Invalid UTF-8 stops the run (code 83).
int read_utf8_char(int lead);

// The next byte of the input with every carriage return skipped; a line feed
// raises line_number as it is read. -1 at the end of input, for good. Under
// <encoding utf8> a byte beyond ASCII begins a character of several bytes.
inline int read_raw_char() {
  for (;;) {
    int c = input_read_byte();
    if (c == '\r') continue;
    if (c == '\n') ++run.line_number;
    if (c >= 0x80 && run.utf8) return read_utf8_char(c);
    return c;
  }
}

// Skips a UTF-8 byte order mark at the very start of the input when the
// input goes on with "<encoding utf8", or when the command line declared
// UTF-8: before the first character is read.
void skip_byte_order_mark(bool declared_by_option);

// --- Characters beyond ASCII ---------------------------------------------------

// The Windows-1252 (WinAnsiEncoding) byte of a character token: a byte as it
// is, a character read as UTF-8 by its code point. A character the encoding
// lacks stops the run with `stop_code`, naming it on standard error.
int winansi_byte_of_unicode(int token, int stop_code);
inline int winansi_byte(int token, int stop_code) {
  return token < tok_unicode ? token & 0xFF : winansi_byte_of_unicode(token, stop_code);
}

// The same, or -1 when Windows-1252 lacks the character.
int winansi_byte_or_none(int token);

// The character a Windows-1252 byte stands for (a code point).
int unicode_of_winansi(int byte);

// Whether the character last delivered, `lead`, and the bytes after it form
// a valid UTF-8 sequence of several bytes (page text read as Windows-1252).
bool starts_utf8_sequence(int lead);

// Writes the UTF-8 bytes of `code_point` at `out`; returns their count (1 to 4).
int put_utf8(int code_point, unsigned char* out);

// The line of the character last delivered (current_char): line_number, less
// one when the lookahead is the line feed that ends that line.
inline int64_t current_char_line() { return run.line_number - (run.lookahead_char == '\n'); }

// Removes a comment whose opening "*" is current_char: everything up to the
// next "*", which is replaced by the character after it.
void skip_comment();

// Advances the one-character window and returns the new current_char. Inside
// a command a "*" not preceded by a backslash opens a comment.
inline int next_char() {
  run.previous_char = run.current_char;
  run.current_char = run.lookahead_char;
  if (run.in_command && run.current_char == '*' && run.previous_char != '\\') skip_comment();
  run.lookahead_char = read_raw_char();
  return run.current_char;
}

// The input line of the character just delivered (the line feeds of the
// current and the lookahead character are already counted).
inline int64_t current_input_line() {
  return run.line_number - (run.current_char == '\n') - (run.lookahead_char == '\n');
}

// The next token: tok_end, a character value 0..511, a bracket token, or a
// character read as UTF-8 (tok_unicode and above). In plain text every
// character is one, escapes and brackets included.
int next_token();

// --- Verbatim files (src/input/verbatim.cc) -------------------------------------

// The file opened by a verbatim command is read from here on as plain text,
// in place of the document; at its end the document's reading goes on.
void begin_verbatim();
void end_verbatim();

// Whether a token is a bracket, or an escape beyond 255 that reads like one.
inline bool is_bracket_token(int t) { return t >= 256 && t < tok_unicode; }

// Words hold up to max_sting bytes (UTF-8 characters in their bytes) and a
// terminating zero.
constexpr int word_buffer_size = max_sting + 1;

// Reads a blank-delimited word into `word`. Returns 0 if it ended at a
// character of value 32 or less, else the bracket token that ended it.
int read_word(char* word);

// Reads a signed decimal number; 32-bit arithmetic wraps.
int32_t read_number();

// 1 if the two zero-terminated words are equal, else 0.
int words_equal(const char* a, const char* b);
