// Warnings about the page: text below the bottom edge or past the right
// edge, control characters and stray brackets in page text, and the
// operators of bracket blocks (unknown operators, fonts other than /F1 to
// /F14, unescaped brackets).
//
// The layout is followed as far as plain operators allow: the initial text
// state sets the first baseline, the leading, the font and its size; a "["
// block may move the line or change the font; a "{" block before the page's
// text may change the font state or the coordinates. What cannot be
// followed turns the check off for the rest of the page, so that a warning
// is never a false alarm. The page text loop only adds widths and compares
// against the limits computed here.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "diagnostics.h"
#include "page.h"

namespace {

bool warnings_wanted() { return warnings_enabled && run.options.warnings; }

constexpr int64_t unmeasured_line = INT64_MIN / 4;  // stays negative whatever is added
constexpr size_t block_check_room = size_t{1} << 20;

// Bits of pre_text_unknown.
constexpr int32_t unknown_position = 1, unknown_width = 2, leading_changed = 4;

// The collector of block bytes; its room is kept from block to block.
std::string block_bytes;
bool block_bracket_seen;  // an unescaped bracket: the bytes are not what was meant
bool block_too_long;      // more than block_check_room bytes

// An octal escape can give a bracket token's value; it ends in a digit.
bool is_octal_digit(int c) { return c >= '0' && c <= '7'; }

// Recomputes the limits the page text loop compares against.
void refresh_limits() {
  const TextLayout& layout = run.page_layout;
  if (run.below_page_warned || !layout.position_known) {
    run.below_page_line = INT32_MAX;
  } else {
    int64_t first_below;
    if (layout.y < 0)
      first_below = run.layout_lines;
    else if (layout.leading <= 0)
      first_below = INT32_MAX;
    else
      first_below = run.layout_lines + 1 +
                    static_cast<int64_t>(std::min(std::floor(layout.y / layout.leading), 1e10));
    run.below_page_line = static_cast<int32_t>(std::min<int64_t>(first_below, INT32_MAX));
  }
  if (!layout.width_known || layout.font < 1 || layout.font > 14 || !(layout.size > 0)) {
    run.line_width_limit = INT64_MAX;
    run.width_table = nullptr;
    run.fixed_char_width = 0;
    return;
  }
  double room = (run.paper_width - layout.x) * 1000.0 / layout.size;
  run.line_width_limit = room < 0 ? -1 : room > 1e15 ? INT64_MAX : static_cast<int64_t>(room);
  run.width_table = standard_font_widths(layout.font);
  run.fixed_char_width = run.width_table ? 0 : 600;
}

// The font number of a name "F1" .. "F14", else 0.
int standard_font_number(const unsigned char* text, size_t length) {
  if (length < 2 || length > 3 || text[0] != 'F' || text[1] < '1' || text[1] > '9') return 0;
  int number = text[1] - '0';
  if (length == 3) {
    if (text[2] < '0' || text[2] > '9') return 0;
    number = number * 10 + (text[2] - '0');
  }
  return number <= 14 ? number : 0;
}

std::string printable(const unsigned char* text, size_t length) {
  std::string shown;
  for (size_t i = 0; i < length && i < 24; ++i) {
    unsigned char c = text[i];
    if (c >= 32 && c < 127) {
      shown += static_cast<char>(c);
    } else {
      const char* digits = "0123456789ABCDEF";
      shown += "\\x";
      shown += digits[c >> 4];
      shown += digits[c & 15];
    }
  }
  if (length > 24) shown += "...";
  return shown;
}

// One block being read: where it stands, and the layout it changes.
struct BlockAnalysis {
  BlockPlace place;
  int64_t first_line;
  const char* where;      // "in a bracket block", "in inittext"
  TextLayout* layout;     // null for held-back blocks
  int32_t lines_now;      // lines_on_page as the block is read
  int32_t* layout_lines;  // the line at which layout->y holds
  int compatibility = 0;  // open BX sections: unknown operators allowed
  int save_depth = 0;     // open q before the text object
  int32_t pre_text_bits = 0;
};

bool in_page_text(const BlockAnalysis& a) { return a.place == BlockPlace::in_text; }

// The baseline of the current line becomes the reference of layout->y.
void rebase(BlockAnalysis& a) {
  TextLayout& layout = *a.layout;
  layout.y -= (a.lines_now - *a.layout_lines) * layout.leading;
  *a.layout_lines = a.lines_now;
}

// The text after this point starts a new stretch of the line; the stretch
// before it is checked against the limit it was shown under.
void end_stretch(int64_t line) {
  if (run.line_width > run.line_width_limit) note_wide_line(run.line_width, line);
  run.line_width = 0;
}

void move_line(BlockAnalysis& a, double dx, double dy, int64_t line) {
  rebase(a);
  a.layout->x += dx;
  a.layout->y += dy;
  if (in_page_text(a)) end_stretch(line);
}

bool numbers(const ContentOperator& op, int count) {
  if (op.operand_count < count) return false;
  for (int i = op.operand_count - count; i < op.operand_count; ++i)
    if (op.operands[i].kind != ContentOperand::number) return false;
  return true;
}

double operand(const ContentOperator& op, int count, int index) {
  return op.operands[op.operand_count - count + index].value;
}

bool is(std::string_view name, const char* text) { return name == text; }

// What an operator does to the text layout inside the text object.
void follow_in_text(BlockAnalysis& a, std::string_view name, const ContentOperator& op,
                    int64_t line) {
  TextLayout& layout = *a.layout;
  if (is(name, "Tf")) {
    if (in_page_text(a)) run.line_width = unmeasured_line;  // silent for this line
    const ContentOperand* font =
        op.operand_count >= 2 ? &op.operands[op.operand_count - 2] : nullptr;
    if (!font || font->kind != ContentOperand::name || !numbers(op, 1)) {
      layout.width_known = false;
      return;
    }
    layout.font = standard_font_number(font->text, font->length);
    layout.size = operand(op, 1, 0);
  } else if (is(name, "Td") || is(name, "TD")) {
    if (!numbers(op, 2)) {
      layout.position_known = layout.width_known = false;
      return;
    }
    move_line(a, operand(op, 2, 0), operand(op, 2, 1), line);
    if (is(name, "TD")) {
      layout.leading = -operand(op, 2, 1);
      layout.leading_set = true;
    }
  } else if (is(name, "TL")) {
    if (!numbers(op, 1)) {
      layout.position_known = false;
      return;
    }
    rebase(a);
    layout.leading = operand(op, 1, 0);
    layout.leading_set = true;
  } else if (is(name, "T*") || is(name, "'") || is(name, "\"")) {
    move_line(a, 0, -layout.leading, line);
    if (is(name, "\"")) layout.width_known = false;  // sets word and character spacing
    if (!is(name, "T*") && in_page_text(a)) run.line_width = unmeasured_line;
  } else if (is(name, "Tm")) {
    if (!numbers(op, 6) || operand(op, 6, 0) != 1 || operand(op, 6, 1) != 0 ||
        operand(op, 6, 2) != 0 || operand(op, 6, 3) != 1) {
      layout.position_known = layout.width_known = false;
      return;
    }
    rebase(a);
    move_line(a, operand(op, 6, 4) - layout.x, operand(op, 6, 5) - layout.y, line);
  } else if (is(name, "Tc") || is(name, "Tw") || is(name, "Tz")) {
    double plain = is(name, "Tz") ? 100 : 0;
    if (!numbers(op, 1) || operand(op, 1, 0) != plain) layout.width_known = false;
  } else if (is(name, "Tj") || is(name, "TJ")) {
    if (in_page_text(a)) run.line_width = unmeasured_line;
  } else if (is(name, "cm") || is(name, "BT") || is(name, "ET") || is(name, "q") || is(name, "Q")) {
    layout.position_known = layout.width_known = false;
  }
}

// What an operator before the text object leaves in the graphics state.
void follow_before_text(BlockAnalysis& a, std::string_view name) {
  if (is(name, "q")) ++a.save_depth;
  if (is(name, "Q") && a.save_depth > 0) --a.save_depth;
  if (a.save_depth > 0) return;  // restored by its Q
  if (is(name, "cm")) a.pre_text_bits |= unknown_position | unknown_width;
  if (is(name, "Tc") || is(name, "Tw") || is(name, "Tz")) a.pre_text_bits |= unknown_width;
  if (is(name, "TL")) a.pre_text_bits |= leading_changed;
}

void check_operator(const ContentOperator& op, void* context) {
  BlockAnalysis& a = *static_cast<BlockAnalysis*>(context);
  int64_t line = a.first_line + op.newlines;
  std::string_view name(reinterpret_cast<const char*>(op.text), op.length);
  if (!op.known) {
    if (a.compatibility == 0)
      warn(warn_unknown_operator, line,
           "unknown operator '" + printable(op.text, op.length) + "' " + a.where);
    return;
  }
  if (is(name, "BX")) ++a.compatibility;
  if (is(name, "EX") && a.compatibility > 0) --a.compatibility;
  if (is(name, "Tf") && op.operand_count >= 2 &&
      op.operands[op.operand_count - 2].kind == ContentOperand::name) {
    const ContentOperand& font = op.operands[op.operand_count - 2];
    if (!standard_font_number(font.text, font.length))
      warn(warn_font_name, line,
           "font /" + printable(font.text, font.length) + " " + a.where +
               " is not one of the fonts /F1 to /F14");
  }
  if (a.place == BlockPlace::before_text) follow_before_text(a, name);
  if (a.layout) follow_in_text(a, name, op, line);
}

// Reads a text state with the PDF defaults before it: no font, the origin,
// no leading.
void analyse_text_state(const unsigned char* bytes, size_t size, int64_t first_line,
                        bool bracket_seen) {
  TextLayout& layout = run.inittext_layout;
  layout = TextLayout{true, true, false, 0, 0, 0, 0, 0};
  int32_t lines = 0;
  BlockAnalysis a{BlockPlace::inittext, first_line, "in inittext", &layout, 0, &lines};
  if (bracket_seen)
    layout.position_known = layout.width_known = false;
  else
    lex_content_operators(bytes, size, check_operator, &a);
  run.inittext_layout_ready = 1;
}

}  // namespace

void layout_begin_page() {
  run.line_width = 0;
  run.below_page_warned = 0;
  run.layout_lines = 0;
  if (!warnings_wanted()) {
    run.below_page_line = INT32_MAX;
    run.line_width_limit = INT64_MAX;
    run.width_table = nullptr;
    run.fixed_char_width = 0;
    return;
  }
  if (!run.inittext_layout_ready) {  // the default text state, or one read with warnings off
    const unsigned char* text = run.inittext_buffer;
    analyse_text_state(text, std::strlen(reinterpret_cast<const char*>(text)), 0, false);
  }
  run.page_layout = run.inittext_layout;
  int32_t bits = run.pre_text_unknown;
  if (bits & leading_changed && !run.page_layout.leading_set) bits |= unknown_position;
  if (bits & unknown_position) run.page_layout.position_known = false;
  if (bits & unknown_width) run.page_layout.width_known = false;
  refresh_limits();
}

void note_below_page() {
  int32_t fitting = run.below_page_line;
  run.below_page_warned = 1;
  run.below_page_line = INT32_MAX;
  std::string text = "line " + std::to_string(int64_t{run.lines_on_page} + 1) + " of page " +
                     std::to_string(run.page_count + 1) + " falls below the bottom of the page; ";
  if (fitting > 0)
    text += "<lines " + std::to_string(fitting) + "> fits this paper and text state";
  else
    text += "the text state starts below it";
  warn(warn_below_page, current_input_line(), text);
}

void note_wide_line(int64_t width, int64_t line) {
  if (!warnings_wanted()) return;
  const TextLayout& layout = run.page_layout;
  double over = width * layout.size / 1000.0 + layout.x - run.paper_width;
  int64_t points = static_cast<int64_t>(std::min(std::max(std::ceil(over - 0.005), 1.0), 1e15));
  std::string text = "page text runs " + std::to_string(points) +
                     (points == 1 ? " point" : " points") + " past the right edge of the page";
  if (!run.width_table)  // the same width for every character: say where it leaves
    text += " (it leaves the page at column " +
            std::to_string(std::max<int64_t>(run.line_width_limit, -1) / 600 + 1) + ")";
  warn(warn_too_wide, line, text);
}

void note_control_character(int byte, int64_t line) {
  if (!warnings_wanted() || line == run.control_warned_line) return;
  run.control_warned_line = line;  // once per input line
  if (byte == '\t') {
    warn(warn_control_character, line,
         "a tab in page text shows as nothing; expand it to blanks (or use <tabs 8>)");
    return;
  }
  warn(warn_control_character, line,
       "control character " + std::to_string(byte) + " in page text shows as nothing");
}

void note_stray_closer(int token) {
  static const char closer_char[] = {']', 0, '}', 0, '>'};
  char bracket = closer_char[token - tok_close_bracket];
  if (!warnings_wanted() || is_octal_digit(run.current_char)) return;  // an octal escape
  warn(warn_unescaped_bracket, current_input_line(),
       std::string("a '") + bracket + "' outside a bracket block shows as nothing; write \\" +
           bracket + " for the character");
}

std::string* block_check_begin() {
  if (!warnings_wanted()) return nullptr;
  block_bytes.clear();
  block_bracket_seen = false;
  block_too_long = false;
  return &block_bytes;
}

void block_check_token(std::string* block, int token) {
  if (token >= tok_open_bracket && token <= tok_close_angle && !block_bracket_seen) {
    static const char bracket_char[] = "[]{}<>";
    char bracket = bracket_char[token - tok_open_bracket];
    if (!is_octal_digit(run.current_char)) {  // written, not an octal escape
      block_bracket_seen = true;
      std::string text = std::string("an unescaped '") + bracket +
                         "' inside a bracket block is written as byte " +
                         std::to_string(token & 0xFF);
      if (bracket == '<') text += " and turns on comment removal";
      warn(warn_unescaped_bracket, current_input_line(), text + "; escape it as \\" + bracket);
    }
  }
  if (block->size() < block_check_room)
    block->push_back(static_cast<char>(token));
  else
    block_too_long = true;
}

void block_check_end(std::string* block, BlockPlace place, int64_t first_line) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(block->data());
  bool unreadable = block_bracket_seen || block_too_long;
  if (place == BlockPlace::inittext) {  // written up to its first zero byte
    size_t written = std::min(block->size(), block->find('\0'));
    analyse_text_state(bytes, written, first_line, unreadable);
    return;
  }
  BlockAnalysis a{place,   first_line,        "in a bracket block",
                  nullptr, run.lines_on_page, &run.layout_lines};
  if (place == BlockPlace::in_text) a.layout = &run.page_layout;
  if (unreadable) {
    if (place == BlockPlace::in_text) {
      run.page_layout.position_known = run.page_layout.width_known = false;
      run.line_width = unmeasured_line;
    }
    if (place == BlockPlace::before_text) run.pre_text_unknown |= unknown_position | unknown_width;
  } else {
    lex_content_operators(bytes, block->size(), check_operator, &a);
    if (place == BlockPlace::before_text) run.pre_text_unknown |= a.pre_text_bits;
  }
  if (place == BlockPlace::in_text) refresh_limits();
}
