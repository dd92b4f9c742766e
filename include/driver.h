// Driver and diagnostics: the program entry, the document loop and the one
// stop routine through which every run ends, the successful one included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The value the stop routine unwinds with. The entry of the run catches it,
// closes the files, prints the console line and returns the exit status.
struct Stop {
  int code;     // the stop site, printed in parentheses
  int message;  // index into message_table
  int line;     // line_number when the stop was raised
};

// Ends the run: never returns. Code 4 with message 0 is the successful end.
[[noreturn]] void fatal_error(int code, int message);

// Console writers: standard output, or console_capture when it is set.
void console_put_text(const char* text);
void console_put_int(int64_t value);
extern std::string* console_capture;

// ORDER MESSAGES: indexed by the msg_ constants of include/run_state.h.
extern const char* const message_table[];

// One whole run of `kestrin infile outfile`; argv[0] is the program name.
// Returns the exit status: 0 after "no errors", 1 after any error.
int run_kestrin(int argc, const char* const* argv);

// The same run with the input text taken from memory instead of a file.
int run_kestrin_on_text(const unsigned char* text, size_t size, const char* output_path);

// The document loop: fonts, pages until the end of input, the document tail.
void run_document();
