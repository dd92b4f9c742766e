// Diagnostics: the one stop routine that ends every run, the warnings that
// go beside it, the file problems named on standard error, and the console.
// Every part may include this header; it knows nothing of the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The value the stop routine unwinds with. The entry of the run catches it,
// closes the files, prints the console line and returns the exit status.
struct Stop {
  int code;      // the stop site, printed in parentheses
  int message;   // index into message_table
  int64_t line;  // line_number when the stop was raised
};

// Ends the run: never returns. Code 4 with message 0 is the successful end.
[[noreturn]] void fatal_error(int code, int message);

// ORDER MESSAGES: indexed by the msg_ constants of include/run_state.h.
extern const char* const message_table[];

// --- Console ------------------------------------------------------------------

// The language's console text: standard output, or standard error when the
// PDF itself goes to standard output, or console_capture when it is set.
void console_put_text(const char* text);
void console_put_int(int64_t value);
extern std::string* console_capture;
extern std::FILE* console_file;  // stdout unless the PDF is written there

// --- Standard error -------------------------------------------------------------

// Everything below goes to standard error, or to diagnostics_capture when it
// is set; none of it changes the PDF or the console text.
extern std::string* diagnostics_capture;

// "kestrin: TEXT" and a line end.
void report_problem(const std::string& text);

// "kestrin: NAME: " and the system's reason for `error_number` (an errno).
void report_file_problem(const char* name, int error_number);

// --- Warnings -------------------------------------------------------------------

enum WarningKind : int {
  warn_below_page,         // a line's baseline falls below the paper
  warn_too_wide,           // a line of page text is wider than the paper
  warn_font_name,          // a font other than /F1 .. /F14
  warn_unknown_operator,   // an operator PDF does not define
  warn_control_character,  // a tab or other control character in page text
  warn_unescaped_bracket,  // "<", ">", "{", "}" or "[" inside a bracket block
  warn_undeclared_utf8,    // UTF-8 text in a document read as Windows-1252
  warn_media_kind,         // a picture file of another kind than its command reads
  warn_arithmetic_jpeg,    // an arithmetic-coded JPEG
  warn_missing_character,  // a character no font of the page text has
  warn_unshaped_text,      // a string shown by an operator in a registered font
  warning_kind_count,
};

// The name warnings give the input: as on the command line, "<stdin>" for -.
extern std::string warning_file_name;

// Whether warnings are reported at all (-w turns them off); reset per run.
extern bool warnings_enabled;

// Reports "FILE:LINE: warning: TEXT". Each kind is shown at most
// warning_show_limit times per run; the rest are counted.
constexpr int warning_show_limit = 3;
void warn(WarningKind kind, int64_t line, const std::string& text);

// Forgets the warnings of an earlier run.
void reset_warnings();

// How many warnings the run has had so far, shown or not.
int64_t warnings_so_far();

// Says how many warnings of each kind were not shown; returns how many
// warnings the run had in all.
int64_t finish_warnings();
