// Input front end: bytes to characters (carriage returns dropped, lines
// counted, comments removed inside commands), characters to tokens (escapes,
// brackets, blank rules), and the word and number readers of the commands.
#pragma once

#include <cstddef>

#include "run_state.h"

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
int input_refill();

inline int input_read_byte() {
  InputStream& in = run.input_file;
  if (in.next < in.end) return *in.next++;
  return input_refill();
}

// The next byte of the input with every carriage return skipped; a line feed
// raises line_number as it is read. -1 at the end of input, for good.
inline int read_raw_char() {
  for (;;) {
    int c = input_read_byte();
    if (c == '\r') continue;
    if (c == '\n') ++run.line_number;
    return c;
  }
}

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

// The next token: tok_end, a character value 0..511, or a bracket token.
int next_token();

// Words hold up to max_sting characters and a terminating zero.
constexpr int word_buffer_size = max_sting + 1;

// Reads a blank-delimited word into `word`. Returns 0 if it ended at a
// character of value 32 or less, else the bracket token that ended it.
int read_word(char* word);

// Reads a signed decimal number; 32-bit arithmetic wraps.
int32_t read_number();

// 1 if the two zero-terminated words are equal, else 0.
int words_equal(const char* a, const char* b);
