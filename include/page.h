// Page composition: the page's content stream with its one text object, the
// two raw operator blocks, the page text loop, the page and resources
// objects, and the page tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "input.h"
#include "run_state.h"

// Content stream and text state.
void open_content_stream();   // begins the page's stream if not yet begun
void open_text_object();      // BT and, once per page, the initial text state
void close_string();          // ") Tj " if a string operand is open
void close_text_object();     // ) Tj, ET, then the held-back operators
void close_content_stream();  // endstream and the length object
void copy_raw_block();        // "[...]" into the text object
void copy_deferred_block();   // "{...}" outside the text object

// Running heads and feet (src/page/running.cc). As the page's stream opens:
// its number, and the heads and feet drawn. The index + 1 of the set of
// lines the page draws late in a form of its own, 0 for none. The forms, in
// the document tail, and the catalogue's /PageLabels when numbers are not
// 1, 2, 3, ...
void running_begin_page();
int32_t running_form_of_page();
void write_running_forms();
void write_page_labels();

// Listings (src/page/listing.cc): the layout of --plain, set before the
// first page; line numbers, from the width of a digit in the text state's
// font (start_numbering, for verbatim+) and shown before each line; the
// move to the second column.
void set_up_listing();
void start_numbering();
void show_line_number();
void break_column();

// Composes one page's content stream from the input; sets input_ended when
// the page ended at the end of input.
void compose_page();

// The page object and its resources object; counts the page.
void write_page_object();

// Object 3 and the intermediate Pages nodes, at the end of the document.
void write_page_tree();

// --- Operators of a content stream (src/page/operator_lexer.cc) -------------

constexpr int content_operand_room = 6;  // operands kept before an operator

struct ContentOperand {
  enum Kind : int { number, name, other } kind;
  double value;               // a number's value
  const unsigned char* text;  // a name's bytes after "/", a number's digits
  size_t length;
};

// An operator of up to three bytes as a number, for comparisons.
constexpr uint32_t operator_code(const char* text) {
  uint32_t code = 0;
  for (; *text; ++text) code = code << 8 | static_cast<unsigned char>(*text);
  return code;
}

struct ContentOperator {
  const unsigned char* text;  // the operator as written
  size_t length;
  uint32_t code;                   // operator_code of the text, 0 if longer
  bool known;                      // PDF defines it
  int64_t newlines;                // line feeds in the content before it
  const ContentOperand* operands;  // the last ones before it, oldest first
  int operand_count;
};

using OperatorVisitor = void (*)(const ContentOperator& op, void* context);

// What the PDF operator `text` takes and does ("x y m : begins a subpath at
// (x, y)"), or null for an operator PDF does not define.
const char* pdf_operator_description(const unsigned char* text, size_t length);

// Calls `visit` for every operator in `content`, whatever the bytes.
void lex_content_operators(const unsigned char* content, size_t size, OperatorVisitor visit,
                           void* context);

// --- Page text in registered fonts (src/page/font_text.cc) ------------------

// The page font, followed through the operators that set it: the page's
// start, the initial text state once written, and each operator of a block
// before the text or inside it.
void text_font_begin_page();
void text_font_after_inittext();
void follow_text_font(const ContentOperator& op);

// The number of font name "F1" .. "F99" when it is a standard or a
// registered font, else 0.
int32_t font_number_of_name(const unsigned char* text, size_t length);

// Whether the page font is a registered font: page text is then collected
// with add_font_text and shown, shaped, by show_font_text at the end of
// the line or before a block or command.
bool in_embedded_font();
bool end_line();  // as a line feed: T*; true if the line filled the page

// Under <wrap N>: when the collected text is wider than N columns (a column
// is the width of the font's digit zero), the text before its last word is
// shown and the line ended; true if that filled the page. At a line's end
// (`at_end`) the break is made only if the page has room for it.
bool wrap_font_text(bool at_end);
void add_font_text(int token);
void add_font_text_run();  // plain characters that follow, from the input window
void show_font_text();

// A character Windows-1252 lacks, in a standard font: drawn from the
// Liberation face of that font or a <fallback> font (true), or recorded for
// the stop at the end (false).
bool show_fallback_char(int token);

// After the last page: the characters no font had, all of them named on
// standard error, stop the run (code 84).
void stop_for_missing_characters();

// --- Warnings about the page (src/page/layout_warnings.cc) ------------------
// Only standard error hears of them; with warnings off they cost a compare.

// Widths of the standard font /F`font` (1 .. 14) by byte, in thousandths of
// the font size; null for the Courier fonts, whose every byte is 600 wide.
const uint16_t* standard_font_widths(int font);

// Where a bracket block stands: inside the text object ("[" blocks), before
// the page's text object, held back until after it ("{" blocks), or as the
// initial text state.
enum class BlockPlace { in_text, before_text, held_back, inittext };

// A block's bytes are collected as they are copied: block_check_begin
// returns the collector, or null when warnings are off; every token goes to
// block_check_token; block_check_end checks the operators.
BlockCheck* block_check_begin();
void block_check_grow(BlockCheck* check);
void block_check_bracket(BlockCheck* check, int token);
inline void block_check_token(BlockCheck* check, int token) {
  if (token > 255) block_check_bracket(check, token);
  if (check->length == check->room) block_check_grow(check);
  if (!check->too_long) check->bytes[check->length++] = static_cast<unsigned char>(token);
}
void block_check_end(BlockCheck* check, BlockPlace place, int64_t first_line);

// The page's text object opened: the layout from the initial text state.
void layout_begin_page();

// The text layout the initial text state sets up (the default or inittext's).
TextLayout initial_text_layout();

// The text line moved by (dx, dy) points, as a Td of the page text does.
void layout_move_line(double dx, double dy);

// Out of line, called when the page text crosses a limit.
void note_below_page();
void note_page_full();  // the page ended because its lines were used up
void note_wide_line(int64_t width, int64_t line);
void note_control_character(int byte, int64_t line);
void note_stray_closer(int token);

// A text line ended at the current character.
inline void end_text_line() {
  if (run.line_width > run.line_width_limit) note_wide_line(run.line_width, current_input_line());
  run.line_width = 0;
}
