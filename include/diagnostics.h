// Diagnostics: the one stop routine that ends every run, the warnings that
// go beside it, the file problems named on standard error, and the console.
// Every part may include this header; it knows nothing of the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Where in the input something stands: the line and the column of a
// character, as an editor counts them.
struct Place {
  int64_t line;    // 1-based; 0: no place in the input
  int64_t column;  // 1-based, in characters of the line
};
constexpr Place no_place{0, 0};
constexpr Place at_current_char{-1, 0};  // the character last read, found by the entry

// The value the stop routine unwinds with. The entry of the run catches it,
// closes the files, prints the console line and returns the exit status.
struct Stop {
  int code;      // the stop site, printed in parentheses
  int message;   // index into message_table
  int64_t line;  // line_number when the stop was raised: the console line's
  Place place;   // what caused it, for standard error: FILE:LINE:COLUMN: error: MESSAGE
};

// Ends the run: never returns. Code 4 with message 0 is the successful end.
// The stop's place is the character last read.
[[noreturn]] void fatal_error(int code, int message);

// The same, caused by what stands at `place` (an opening bracket, a word).
[[noreturn]] void fatal_error_at(int code, int message, Place place);

// Indices into the message table. ORDER MESSAGES: keep in step with
// message_table in src/diagnostics/messages.cc.
enum : int {
  msg_no_errors = 0,
  msg_usage = 1,
  msg_cant_open_input = 2,
  msg_cant_open_output = 3,
  msg_bad_page_number = 4,
  msg_too_many_pages = 5,
  msg_too_many_objects = 6,
  msg_unexpected_end = 7,
  msg_too_many_pdf_commands = 8,
  msg_not_in_page = 9,
  msg_too_many_pictures = 10,
  msg_error_in_string = 11,
  msg_inittext_too_long = 12,
  msg_picture_not_read = 13,
  msg_too_many_outlines = 14,
  msg_text_buffer_too_small = 15,
  msg_annotation_only_in_page = 16,
  msg_too_many_annotations = 17,
  msg_unknown_command = 18,
  msg_cant_open_external = 19,
  msg_string_too_long = 20,
  msg_error_reading_number = 21,
  msg_paper_before_text = 22,
  msg_no_action = 23,
  msg_too_many_sounds = 24,
  msg_too_many_parameters = 25,
  msg_unknown_action = 26,
  msg_too_many_outline_levels = 27,
  msg_bad_gif = 28,
  msg_never_29 = 29,
  msg_never_30 = 30,
  msg_sound_not_read = 31,
  msg_picture_size_zero = 32,
  msg_output_is_input = 33,
  msg_cant_write_output = 34,
  msg_cant_read_input = 35,
  msg_cant_read_external = 36,
  msg_output_too_large = 37,
  msg_warnings_as_errors = 38,
  msg_image_kind = 39,
  msg_image_damaged = 40,
  msg_unknown_encoding = 41,
  msg_not_in_winansi = 42,
  msg_invalid_utf8 = 43,
  msg_value_out_of_range = 44,
  msg_font_in_page = 45,
  msg_font_number = 46,
  msg_font_number_used = 47,
  msg_not_a_font = 48,
  msg_web_font = 49,
  msg_font_licence = 50,
  msg_colour_font = 51,
  msg_font_damaged = 52,
  msg_no_such_font = 53,
  msg_fallback_not_font = 54,
  msg_font_too_large = 55,
  msg_out_of_memory = 56,
  msg_internal_error = 57,
  msg_unknown_position = 58,
  msg_running_text_too_long = 59,
  msg_too_many_running = 60,
  msg_verbatim_twice = 61,
  msg_unknown_transition = 62,
  msg_unknown_transition_word = 63,
  message_count = 64,
};

// ORDER MESSAGES: indexed by the msg_ constants above.
extern const char* const message_table[];

// --- Console ------------------------------------------------------------------

// The language's console text: standard output, or standard error when the
// PDF itself goes to standard output, or the host's capture when it set one.
void console_put_text(const char* text);
void console_put_int(int64_t value);

// --- Standard error -------------------------------------------------------------

// Everything below goes to standard error, or to the host's capture when it
// set one; none of it changes the PDF or the console text.

// "kestrin: TEXT" and a line end.
void report_problem(const std::string& text);

// TEXT as it stands, and a line end.
void report_line(const std::string& text);

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
  warn_vanished_line,      // an empty line whose line end touches a bracket or group
  warn_short_page,         // pages end well above the bottom: lines does not follow the leading
  warn_fill_colour_text,   // page text in the fill colour a { } block set for its shapes
  warning_kind_count,
};

// A few words for each kind ("unknown operator"), as the count line names it.
const char* warning_kind_name(WarningKind kind);

// Reports "FILE:LINE: warning: TEXT" unless -w turned warnings off. Each kind
// is shown at most warning_show_limit times per run; the rest are counted.
constexpr int warning_show_limit = 3;
void warn(WarningKind kind, int64_t line, const std::string& text);

// How many warnings the run has had so far, shown or not.
int64_t warnings_so_far();

// Says how many warnings of each kind were not shown; returns how many
// warnings the run had in all.
int64_t finish_warnings();

// One stop or warning as a record, for programs that show them at their
// place (the language server, the npm package): besides, never instead of,
// the console line and standard error.
struct Diagnostic {
  enum Severity : int { error, warning } severity;
  int64_t line;      // 1-based input line; 0 when no place in the input caused it
  int64_t column;    // 1-based, in characters of the line; 0 when not known
  int code;          // the stop's code; for a warning, its WarningKind
  std::string text;  // the message: the stop's message text or the warning's text
};

// What the diagnostics keep for one run (a part of the run record).
struct DiagnosticsState {
  std::FILE* console_file = stdout;             // stdout unless the PDF is written there
  std::string file_name;                        // the input as warnings name it, "<stdin>" for -
  // While a verbatim file is read, places are in it: standard error names it,
  // and a record stands at the command that reads it, naming the place.
  std::string place_file;
  Place place_origin;
  int64_t warning_count[warning_kind_count]{};  // warnings of each kind, shown or not
  bool pdf_on_standard_error = false;           // standard error holds the PDF: nothing else there
};
