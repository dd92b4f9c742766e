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
#include <vector>

#include "diagnostics.h"
#include "page.h"
#include "pdf.h"

namespace {

bool warnings_wanted() { return run.options.warnings; }

constexpr int64_t unmeasured_line = INT64_MIN / 4;  // stays negative whatever is added
constexpr size_t block_check_room = size_t{1} << 20;

// The operators the warnings follow.
enum : uint32_t {
  op_Tf = operator_code("Tf"),
  op_Td = operator_code("Td"),
  op_TD = operator_code("TD"),
  op_TL = operator_code("TL"),
  op_T_star = operator_code("T*"),
  op_quote = operator_code("'"),
  op_double_quote = operator_code("\""),
  op_Tm = operator_code("Tm"),
  op_Tc = operator_code("Tc"),
  op_Tw = operator_code("Tw"),
  op_Tz = operator_code("Tz"),
  op_Tj = operator_code("Tj"),
  op_TJ = operator_code("TJ"),
  op_cm = operator_code("cm"),
  op_BT = operator_code("BT"),
  op_ET = operator_code("ET"),
  op_q = operator_code("q"),
  op_Q = operator_code("Q"),
  op_BX = operator_code("BX"),
  op_EX = operator_code("EX"),
  // The colour text is filled with, and the render mode.
  op_g = operator_code("g"),
  op_rg = operator_code("rg"),
  op_k = operator_code("k"),
  op_cs = operator_code("cs"),
  op_sc = operator_code("sc"),
  op_scn = operator_code("scn"),
  op_Tr = operator_code("Tr"),
  // Path operators that fill.
  op_f = operator_code("f"),
  op_F = operator_code("F"),
  op_f_star = operator_code("f*"),
  op_B = operator_code("B"),
  op_B_star = operator_code("B*"),
  op_b = operator_code("b"),
  op_b_star = operator_code("b*"),
};

bool sets_text_colour(uint32_t name) {
  return name == op_g || name == op_rg || name == op_k || name == op_cs || name == op_sc ||
         name == op_scn || name == op_Tr;
}

bool fills(uint32_t name) {
  return name == op_f || name == op_F || name == op_f_star || name == op_B || name == op_B_star ||
         name == op_b || name == op_b_star;
}

// Bits of pre_text_unknown.
constexpr int32_t unknown_position = 1, unknown_width = 2, leading_changed = 4;

// An octal escape can give a bracket token's value; it ends in a digit.
bool is_octal_digit(int c) { return c >= '0' && c <= '7'; }

// Recomputes the limits the page text loop compares against.
void refresh_limits() {
  const TextLayout& layout = run.page_layout;
  if (!warnings_wanted()) {
    run.below_page_line = INT32_MAX;
    run.line_width_limit = INT64_MAX;
    run.width_table = nullptr;
    run.fixed_char_width = 0;
    return;
  }
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
  if (run.fill_colour_check) run.below_page_line = std::min(run.below_page_line, run.lines_on_page);
  if (!layout.width_known || layout.font < 1 || !(layout.size > 0)) {
    run.line_width_limit = INT64_MAX;
    run.width_table = nullptr;
    run.fixed_char_width = 0;
    return;
  }
  double room = (run.paper_width - layout.x) * 1000.0 / layout.size;
  run.line_width_limit = room < 0 ? -1 : room > 1e15 ? INT64_MAX : static_cast<int64_t>(room);
  // Text in a registered font adds its glyphs' advances itself.
  run.width_table = layout.font <= 14 ? standard_font_widths(layout.font) : nullptr;
  run.fixed_char_width = layout.font <= 4 ? 600 : 0;
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
  bool changed = false;  // the layout may have changed
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

// What an operator does to the text layout inside the text object.
void follow_in_text(BlockAnalysis& a, uint32_t name, const ContentOperator& op, int64_t line) {
  switch (name) {
    case op_Tf:
    case op_Td:
    case op_TD:
    case op_TL:
    case op_T_star:
    case op_quote:
    case op_double_quote:
    case op_Tm:
    case op_Tc:
    case op_Tw:
    case op_Tz:
    case op_Tj:
    case op_TJ:
    case op_cm:
    case op_BT:
    case op_ET:
    case op_q:
    case op_Q: break;
    default: return;  // no part of the layout
  }
  a.changed = true;
  TextLayout& layout = *a.layout;
  if (name == op_Tf) {
    if (in_page_text(a)) run.line_width = unmeasured_line;  // silent for this line
    const ContentOperand* font =
        op.operand_count >= 2 ? &op.operands[op.operand_count - 2] : nullptr;
    if (!font || font->kind != ContentOperand::name || !numbers(op, 1)) {
      layout.width_known = false;
      return;
    }
    layout.font = font_number_of_name(font->text, font->length);
    layout.size = operand(op, 1, 0);
  } else if (name == op_Td || name == op_TD) {
    if (!numbers(op, 2)) {
      layout.position_known = layout.width_known = false;
      return;
    }
    move_line(a, operand(op, 2, 0), operand(op, 2, 1), line);
    if (name == op_TD) {
      layout.leading = -operand(op, 2, 1);
      layout.leading_set = true;
    }
  } else if (name == op_TL) {
    if (!numbers(op, 1)) {
      layout.position_known = false;
      return;
    }
    rebase(a);
    layout.leading = operand(op, 1, 0);
    layout.leading_set = true;
  } else if (name == op_T_star || name == op_quote || name == op_double_quote) {
    move_line(a, 0, -layout.leading, line);
    if (name == op_double_quote) layout.width_known = false;  // sets word and character spacing
    if (name != op_T_star && in_page_text(a)) run.line_width = unmeasured_line;
  } else if (name == op_Tm) {
    if (!numbers(op, 6) || operand(op, 6, 0) != 1 || operand(op, 6, 1) != 0 ||
        operand(op, 6, 2) != 0 || operand(op, 6, 3) != 1) {
      layout.position_known = layout.width_known = false;
      return;
    }
    rebase(a);
    move_line(a, operand(op, 6, 4) - layout.x, operand(op, 6, 5) - layout.y, line);
  } else if (name == op_Tc || name == op_Tw || name == op_Tz) {
    double plain = name == op_Tz ? 100 : 0;
    if (!numbers(op, 1) || operand(op, 1, 0) != plain) layout.width_known = false;
  } else if (name == op_Tj || name == op_TJ) {
    if (in_page_text(a)) run.line_width = unmeasured_line;
  } else if (name == op_cm || name == op_BT || name == op_ET || name == op_q || name == op_Q) {
    layout.position_known = layout.width_known = false;
  }
}

// The colour an operator g, rg or k sets, as written ("0.9 0.85 0.7 rg"),
// or "" for black and for what cannot be read.
std::string non_black_colour(const ContentOperator& op, uint32_t name) {
  int count = name == op_g ? 1 : name == op_rg ? 3 : name == op_k ? 4 : 0;
  if (count == 0 || !numbers(op, count)) return "";
  bool black = true;
  std::string text;
  for (int i = 0; i < count; ++i) {
    double value = operand(op, count, i);
    black &= name == op_k && i == 3 ? value >= 1 : value <= 0;
    const ContentOperand& written = op.operands[op.operand_count - count + i];
    text += printable(written.text, written.length) + " ";
  }
  return black ? "" : text + printable(op.text, op.length);
}

// What an operator before the text object leaves in the graphics state.
void follow_before_text(BlockAnalysis& a, const ContentOperator& op, uint32_t name) {
  if (name == op_q) ++a.save_depth;
  if (name == op_Q && a.save_depth > 0) --a.save_depth;
  if (a.save_depth > 0) return;  // restored by its Q
  // A fill with a colour other than black, and no colour chosen after it:
  // the page's text will be drawn in that colour.
  if (sets_text_colour(name)) {
    std::snprintf(run.pre_text_colour, sizeof run.pre_text_colour, "%s",
                  non_black_colour(op, name).c_str());
    run.fill_colour[0] = 0;
  }
  if (fills(name) && run.pre_text_colour[0]) {
    std::snprintf(run.fill_colour, sizeof run.fill_colour, "%s", run.pre_text_colour);
    run.fill_colour_line = a.first_line + op.newlines;
  }
  if (name == op_cm) a.pre_text_bits |= unknown_position | unknown_width;
  if (name == op_Tc || name == op_Tw || name == op_Tz) a.pre_text_bits |= unknown_width;
  if (name == op_TL) a.pre_text_bits |= leading_changed;
}

void check_operator(const ContentOperator& op, void* context) {
  BlockAnalysis& a = *static_cast<BlockAnalysis*>(context);
  int64_t line = a.first_line + op.newlines;
  uint32_t name = op.code;
  if (!op.known) {
    if (a.compatibility == 0)
      warn(warn_unknown_operator, line,
           "unknown operator '" + printable(op.text, op.length) + "' " + a.where);
    return;
  }
  if (name == op_BX) ++a.compatibility;
  if (name == op_EX && a.compatibility > 0) --a.compatibility;
  if (name == op_Tf && op.operand_count >= 2 &&
      op.operands[op.operand_count - 2].kind == ContentOperand::name) {
    const ContentOperand& font = op.operands[op.operand_count - 2];
    if (!font_number_of_name(font.text, font.length))
      warn(warn_font_name, line,
           "font /" + printable(font.text, font.length) + " " + a.where +
               (run.fonts.registered ? " is neither a standard font (/F1 to /F14) nor registered"
                                     : " is not one of the fonts /F1 to /F14"));
  }
  // The page font: followed before the text and in it (not in the initial
  // text state, which each page's text object follows when it writes it).
  if (a.place == BlockPlace::in_text || a.place == BlockPlace::before_text) {
    bool shows = name == op_Tj || name == op_TJ || name == op_quote || name == op_double_quote;
    if (shows && in_embedded_font())
      warn(warn_unshaped_text, line,
           "a string shown by '" + printable(op.text, op.length) +
               "' in a registered font is not shaped and shows glyph ids; write it as page text");
    follow_text_font(op);
  }
  if (a.place == BlockPlace::before_text) follow_before_text(a, op, name);
  if (a.layout && sets_text_colour(name)) {  // the text's own colour: nothing to warn of
    a.layout->colour_set = true;
    if (in_page_text(a) && run.fill_colour_check) {
      run.fill_colour_check = 0;
      a.changed = true;
    }
  }
  if (a.layout) follow_in_text(a, name, op, line);
}

// Reads a text state with the PDF defaults before it: no font, the origin,
// no leading.
void analyse_text_state(const unsigned char* bytes, size_t size, int64_t first_line,
                        bool bracket_seen) {
  TextLayout& layout = run.inittext_layout;
  layout = TextLayout{true, true, false, 0, 0, 0, 0, 0, false};
  int32_t lines = 0;
  BlockAnalysis a{BlockPlace::inittext, first_line, "in inittext", &layout, 0, &lines};
  if (bracket_seen)
    layout.position_known = layout.width_known = false;
  else
    lex_content_operators(bytes, size, check_operator, &a);
  run.inittext_layout_ready = 1;
}

}  // namespace

TextLayout initial_text_layout() {
  if (!run.inittext_set)
    return TextLayout{true, true, true, 1, 12, 25, run.paper_height - 31.0, 12, false};
  if (!run.inittext_layout_ready) {  // read with warnings off: read now, silently
    const unsigned char* text = run.inittext_buffer;
    analyse_text_state(text, std::strlen(reinterpret_cast<const char*>(text)), 0, false);
  }
  return run.inittext_layout;
}

void layout_move_line(double dx, double dy) {
  if (!warnings_wanted()) return;
  TextLayout& layout = run.page_layout;
  layout.y -= (run.lines_on_page - run.layout_lines) * layout.leading;
  run.layout_lines = run.lines_on_page;
  layout.x += dx;
  layout.y += dy;
  refresh_limits();
}

void layout_begin_page() {
  run.line_width = 0;
  run.below_page_warned = 0;
  run.layout_lines = 0;
  if (!warnings_wanted() && run.fonts.registered == 0) {  // nothing needs the layout
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
  if (run.fill_colour[0] && !run.page_layout.colour_set) {
    run.fill_colour_check = 1;  // at the first character shown, see note_below_page
    run.below_page_line = run.lines_on_page;
  }
}

void note_below_page() {
  if (run.fill_colour_check) {  // the first character of the page's text: its colour
    run.fill_colour_check = 0;
    warn(warn_fill_colour_text, current_input_line(),
         std::string("page text is drawn in the colour '") + run.fill_colour +
             "' that the { } block on line " + std::to_string(run.fill_colour_line) +
             " fills its shapes with; end that block with 0 g (or put it between q and Q) to "
             "draw the text in black");
    refresh_limits();
    if (run.lines_on_page < run.below_page_line) return;
  }
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

void note_page_full() {
  if (!warnings_wanted() || !run.lines_derived || run.short_page_warned || run.below_page_warned)
    return;
  const TextLayout& layout = run.page_layout;
  if (!layout.position_known || !(layout.leading > 0)) return;
  // Lines that would still stand above the bottom margin a default page
  // keeps (31 points), after the baseline of the line that comes next.
  constexpr double bottom = 31;
  double next = layout.y - (run.lines_on_page - run.layout_lines) * layout.leading;
  if (next < bottom) return;
  double more = std::floor((next - bottom) / layout.leading) + 1;
  if (more <= 2 || more > 1e6) return;
  run.short_page_warned = 1;
  warn(warn_short_page, current_input_line(),
       "page " + std::to_string(run.page_count + 1) + " ends with its last line " +
           points_text(static_cast<int64_t>((next + layout.leading) * 1000)) +
           " points above the bottom: the lines per page (" + std::to_string(run.lines_per_page) +
           ") are derived for 12 points from line to line, the text state has " +
           points_text(static_cast<int64_t>(layout.leading * 1000)) + "; <lines " +
           std::to_string(run.lines_on_page + static_cast<int64_t>(more)) + "> fills the page");
}

void note_wide_line(int64_t width, int64_t line) {
  if (!warnings_wanted()) return;
  const TextLayout& layout = run.page_layout;
  double over = width * layout.size / 1000.0 + layout.x - run.paper_width;
  int64_t points = static_cast<int64_t>(std::min(std::max(std::ceil(over - 0.005), 1.0), 1e15));
  std::string text = "page text runs " + std::to_string(points) +
                     (points == 1 ? " point" : " points") + " past the right edge of the page";
  if (layout.font >= 1 && layout.font <= 4)  // Courier: say where it leaves
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

BlockCheck* block_check_begin() {
  BlockCheck& check = run.block_check;
  check.length = 0;
  check.bracket_seen = false;
  check.too_long = false;
  return &check;
}

void block_check_grow(BlockCheck* check) {
  if (check->room >= block_check_room) {
    check->too_long = true;
    check->length = 0;  // the rest is not kept; the block is not read
    return;
  }
  check->room = std::max<size_t>(4096, check->room * 2);
  run.block_storage.resize(check->room);
  check->bytes = run.block_storage.data();
}

void block_check_bracket(BlockCheck* check, int token) {
  if (token > tok_close_angle || check->bracket_seen) return;
  static const char bracket_char[] = "[]{}<>";
  char bracket = bracket_char[token - tok_open_bracket];
  if (is_octal_digit(run.current_char)) return;  // an octal escape, not a bracket
  check->bracket_seen = true;
  std::string text = std::string("an unescaped '") + bracket +
                     "' inside a bracket block is written as byte " + std::to_string(token & 0xFF);
  if (bracket == '<') text += " and turns on comment removal";
  warn(warn_unescaped_bracket, current_input_line(), text + "; escape it as \\" + bracket);
}

void block_check_end(BlockCheck* check, BlockPlace place, int64_t first_line) {
  const unsigned char* bytes = check->bytes;
  bool unreadable = check->bracket_seen || check->too_long;
  if (place == BlockPlace::inittext) {  // written up to its first zero byte
    size_t written = 0;
    while (written < check->length && bytes[written] != 0) ++written;
    analyse_text_state(bytes, written, first_line, unreadable);
    return;
  }
  BlockAnalysis a{place,   first_line,        "in a bracket block",
                  nullptr, run.lines_on_page, &run.layout_lines};
  if (place == BlockPlace::in_text) a.layout = &run.page_layout;
  if (unreadable) {
    if (place == BlockPlace::in_text || place == BlockPlace::before_text)
      run.text_font.font = 0;  // not followed: its bytes are not what was meant
    if (place == BlockPlace::in_text) {
      run.page_layout.position_known = run.page_layout.width_known = false;
      run.line_width = unmeasured_line;
    }
    if (place == BlockPlace::before_text) run.pre_text_unknown |= unknown_position | unknown_width;
  } else {
    lex_content_operators(bytes, check->length, check_operator, &a);
    if (place == BlockPlace::before_text) run.pre_text_unknown |= a.pre_text_bits;
  }
  if (place == BlockPlace::in_text && (unreadable || a.changed)) refresh_limits();
}
