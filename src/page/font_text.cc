// Page text in the fonts the document registers, and the characters the
// standard fonts lack.
//
// The page's font is followed through the operators that set it (Tf, Ts,
// and q and Q around them) in "{" blocks before the text, the initial text
// state and "[" blocks. While it is a registered font, page text is
// collected up to the line's end (or the next bracket or command), then
// shaped, put in visual order and written as glyph ids:
//
//   [(\0H\0e) -12 (\0l)] TJ        glyph ids, two bytes each, kerning as numbers
//   ] TJ /L5 12 Tf [                another font for characters it lacks
//   ] TJ 2.1 Ts [                   a mark raised by its offset
//
// A line whose first strong character is right to left is moved flush with
// the right margin (the left margin mirrored) by a number before its first
// glyph, when the text state is known well enough to measure it.
//
// In a standard font under <encoding utf8>, a character Windows-1252 lacks
// is drawn from the metric-compatible Liberation face of that font, then
// from the <fallback> fonts; one no font has is listed at the end, with all
// the others, and stops the run.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "input.h"
#include "page.h"
#include "pdf.h"

namespace {

const char* const standard_font_names[14] = {
    "Courier",        "Courier-Bold",      "Courier-Oblique", "Courier-BoldOblique",
    "Helvetica",      "Helvetica-Bold",    "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Symbol",         "Times-Roman",       "Times-Bold",      "Times-Italic",
    "Times-BoldItalic", "ZapfDingbats",
};

constexpr size_t max_saved_fonts = 64;     // q nesting followed
constexpr size_t max_font_text = 1 << 16;  // characters shaped at once

std::string number_text(double value) { return decimal_text(value, 3); }

// The font index of the page's font when it is registered, else -1.
int16_t current_font_index() {
  int32_t f = run.text_font.font;
  if (f < 15 || f > 99 || run.fonts.by_number[f] == 0) return -1;
  return static_cast<int16_t>(run.fonts.by_number[f] - 1);
}

std::string character_text(uint32_t code_point) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X \"", code_point);
  unsigned char bytes[4];
  int count = put_utf8(static_cast<int>(code_point), bytes);
  return text + std::string(reinterpret_cast<char*>(bytes), count) + "\"";
}

bool already_warned(uint32_t code_point) {
  for (uint32_t c : run.fonts.warned)
    if (c == code_point) return true;
  run.fonts.warned.push_back(code_point);
  return false;
}

// The name of a font for messages: "/F15 (DejaVuSans)".
std::string font_label(int32_t number) {
  std::string label = "/F" + std::to_string(number);
  if (number >= 1 && number <= 14) return label + " (" + standard_font_names[number - 1] + ")";
  if (number >= 15 && number <= 99 && run.fonts.by_number[number]) {
    const Font& font = *run.fonts.fonts[run.fonts.by_number[number] - 1];
    if (!font.facts.postscript_name.empty()) label += " (" + font.facts.postscript_name + ")";
  }
  return label;
}

// A glyph id as the two bytes of a literal string, each escaped when it is a
// parenthesis, a backslash or a line end, which a reader would take for
// something else.
inline char* put_glyph_id(char* out, uint16_t glyph) {
  for (unsigned char byte : {static_cast<unsigned char>(glyph >> 8),
                             static_cast<unsigned char>(glyph & 0xFF)}) {
    if (byte == '(' || byte == ')' || byte == '\\') {
      *out++ = '\\';
    } else if (byte == '\r' || byte == '\n') {
      *out++ = '\\';
      byte = byte == '\r' ? 'r' : 'n';
    }
    *out++ = static_cast<char>(byte);
  }
  return out;
}

// The marked-content operator that gives the glyphs after it the text of
// the line from `from`: "/Span << /ActualText <FEFF...> >> BDC ".
std::string actual_text(uint32_t from, uint16_t length) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "/Span << /ActualText <FEFF";
  auto put = [&](uint32_t unit) {
    for (int shift = 12; shift >= 0; shift -= 4) out += hex[unit >> shift & 15];
  };
  const std::u32string& text = run.font_text;
  for (size_t i = from; i < from + length && i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out + "> >> BDC ";
}

// Writes the glyphs of `text` (visual order) as TJ arrays in `font`, with
// a first shift of `shift` thousandths (a right-to-left line's indent).
void write_glyphs(const LaidOutText& text, int16_t font, int64_t shift) {
  std::string& buffer = run.glyph_operators;
  // Room for every glyph with a number before it; operators that switch
  // fonts or raise glyphs are appended with room made for them.
  size_t room = text.glyphs.size() * 28 + 64;
  if (buffer.size() < room) buffer.resize(room);  // grows only: no bytes cleared per line
  char* out = &buffer[0];
  const TextFont& state = run.text_font;
  std::string size;  // the font size as written, when a font switch needs it
  int16_t current = font;
  int32_t raised = 0;
  bool array_open = false, in_string = false;
  int64_t pdf_pen = 0, pen = 0, pending = -shift;
  auto append = [&](const std::string& operators) {
    size_t at = out - &buffer[0];
    if (buffer.size() < at + operators.size() + room) buffer.resize(at + operators.size() + room);
    out = &buffer[0] + at;
    std::memcpy(out, operators.data(), operators.size());
    out += operators.size();
  };
  auto close_array = [&] {
    if (in_string) *out++ = ')';
    if (array_open) {
      std::memcpy(out, "] TJ ", 5);
      out += 5;
    }
    array_open = in_string = false;
  };
  auto put_pending = [&] {
    if (in_string) *out++ = ')';
    in_string = false;
    out += std::snprintf(out, 24, " %lld ", static_cast<long long>(pending));
    pending = 0;
  };
  Font* shown = run.fonts.fonts[font].get();
  int span_left = 0;  // glyphs still inside a span that carries its text
  for (const PlacedGlyph& g : text.glyphs) {
    if (g.span_glyphs != 0 && span_left == 0) {
      close_array();
      append(actual_text(g.span_from, g.span_length));
      span_left = g.span_glyphs;
    }
    if (g.font != current || g.y_offset != raised) {
      close_array();
      if (size.empty()) size = number_text(state.size);
      if (g.font != current) {
        current = g.font;
        shown = run.fonts.fonts[current].get();
        append('/' + shown->resource_name + ' ' + size + " Tf ");
      }
      if (g.y_offset != raised) {
        raised = g.y_offset;
        append(number_text(state.rise + raised * state.size / 1000.0) + " Ts ");
      }
    }
    int64_t at = pen + g.x_offset;
    pending += pdf_pen - at;
    if (!array_open) {
      *out++ = '[';
      array_open = true;
    }
    if (pending != 0) put_pending();
    if (!in_string) {
      *out++ = '(';
      in_string = true;
    }
    out = put_glyph_id(out, g.glyph);
    pdf_pen = at + glyph_width(*shown, g.glyph);
    pen += g.advance;
    if (span_left > 0 && --span_left == 0) {
      close_array();
      append("EMC ");
    }
  }
  pending += pdf_pen - pen;
  if (pending != 0 && array_open) put_pending();
  close_array();
  if (current != font || raised != 0) {
    if (current != font) append('/' + run.fonts.fonts[font]->resource_name + ' ' + size + " Tf ");
    if (raised != 0) append(number_text(state.rise) + " Ts ");
  }
  emit_raw_bytes(reinterpret_cast<const unsigned char*>(buffer.data()), out - &buffer[0]);
}

// How far a right-to-left line moves right to end at the right margin, in
// thousandths of the font size; 0 when the layout is not known.
int64_t right_margin_shift(int64_t width) {
  const TextLayout& layout = run.page_layout;
  if (!layout.position_known || !layout.width_known || !(run.text_font.size > 0)) return 0;
  double room = (run.paper_width - 2 * layout.x) * 1000.0 / run.text_font.size;
  double shift = room - static_cast<double>(width);
  return shift > 0 && shift < 1e12 ? static_cast<int64_t>(std::lround(shift)) : 0;
}

void apply_font_operator(const ContentOperator& op) {
  TextFont& font = run.text_font;
  const ContentOperand* operands = op.operands;
  int n = op.operand_count;
  switch (op.code) {
    case operator_code("Tf"):
      if (n >= 2 && operands[n - 2].kind == ContentOperand::name &&
          operands[n - 1].kind == ContentOperand::number) {
        font.font = font_number_of_name(operands[n - 2].text, operands[n - 2].length);
        font.size = operands[n - 1].value;
      } else {
        font.font = 0;
      }
      break;
    case operator_code("Ts"):
      if (n >= 1 && operands[n - 1].kind == ContentOperand::number) font.rise = operands[n - 1].value;
      break;
    case operator_code("q"):
      if (run.text_font_saved.size() < max_saved_fonts) run.text_font_saved.push_back(font);
      break;
    case operator_code("Q"):
      if (!run.text_font_saved.empty()) {
        font = run.text_font_saved.back();
        run.text_font_saved.pop_back();
      }
      break;
    default: break;
  }
}

void follow_inittext_operator(const ContentOperator& op, void*) { apply_font_operator(op); }

}  // namespace

int32_t font_number_of_name(const unsigned char* text, size_t length) {
  if (length < 2 || length > 3 || text[0] != 'F' || text[1] < '1' || text[1] > '9') return 0;
  int number = text[1] - '0';
  if (length == 3) {
    if (text[2] < '0' || text[2] > '9') return 0;
    number = number * 10 + (text[2] - '0');
  }
  if (number <= 14) return number;
  return run.fonts.by_number[number] ? number : 0;
}

void follow_text_font(const ContentOperator& op) { apply_font_operator(op); }

void text_font_begin_page() {
  run.text_font = TextFont{0, 0, 0};
  run.text_font_saved.clear();
}

void text_font_after_inittext() {
  const char* text = reinterpret_cast<const char*>(run.inittext_buffer);
  size_t length = std::strlen(text);
  const TextFont& now = run.text_font;
  bool from_none = now.font == 0 && now.size == 0 && !std::signbit(now.size) && now.rise == 0 &&
                   !std::signbit(now.rise) && run.text_font_saved.empty();
  InittextFont& memo = run.inittext_font;
  if (from_none && memo.valid && memo.registered == run.fonts.registered &&
      memo.text.compare(0, std::string::npos, text, length) == 0) {
    run.text_font = memo.font;
    run.text_font_saved = memo.saved;
    return;
  }
  lex_content_operators(reinterpret_cast<const unsigned char*>(text), length,
                        follow_inittext_operator, nullptr);
  if (!from_none) return;
  memo.valid = true;
  memo.text.assign(text, length);
  memo.registered = run.fonts.registered;
  memo.font = run.text_font;
  memo.saved = run.text_font_saved;
}

bool in_embedded_font() { return current_font_index() >= 0; }

void add_font_text(int t) {
  uint32_t c = t >= tok_unicode ? static_cast<uint32_t>(t - tok_unicode)
                                : static_cast<uint32_t>(unicode_of_winansi(t & 0xFF));
  if (c < ' ') {
    if (c == '\t' && run.tab_width != 0) {
      int64_t column = run.column + static_cast<int64_t>(run.font_text.size());
      for (int64_t blanks = run.tab_width - column % run.tab_width; blanks > 0; --blanks)
        run.font_text += U' ';
      return;
    }
    if (t == static_cast<int>(c))
      note_control_character(static_cast<int>(c), current_input_line());
    else if (t == tok_close_bracket || t == tok_close_brace || t == tok_close_angle)
      note_stray_closer(t);
    return;
  }
  if (run.font_text.empty() && !run.text_open) open_text_object();
  run.font_text += static_cast<char32_t>(c);
  if (run.font_text.size() >= max_font_text) show_font_text();
}

void add_font_text_run() {
  if (!run.host.text_in_runs) return;
  // Printable ASCII that the token reader delivers as itself.
  static const struct Plain {
    bool of[256];
    Plain() : of() {
      for (int c = ' '; c < 0x7F; ++c) of[c] = true;
      for (unsigned char c : {'\\', '[', ']', '{', '}', '<', '>'}) of[c] = false;
    }
  } plain;
  InputStream& in = run.input_file;
  const int ahead = run.lookahead_char;
  if (ahead < 0 || ahead > 255 || !plain.of[ahead]) return;
  std::u32string& text = run.font_text;
  size_t room = max_font_text - std::min(text.size(), max_font_text);
  const unsigned char* const source = in.next;
  const unsigned char* const limit = source + std::min<size_t>(room, in.end - source);
  const unsigned char* p = source;
  while (p < limit && plain.of[*p]) ++p;
  // Delivered: `ahead` and the bytes before `next`, which becomes the
  // lookahead: a byte the character source keeps as it is (no carriage
  // return, nothing beyond ASCII), after no blank the reader would drop
  // before an opening bracket.
  const unsigned char* next = p;
  if (p == limit || *p == '\r' || *p >= 0x80) {
    if (p == source) return;
    next = p - 1;
  }
  int last = next > source ? next[-1] : ahead;
  if (last == ' ' && (*next == '[' || *next == '{' || *next == '<')) {
    if (next == source) return;
    --next;
  }
  size_t count = static_cast<size_t>(next - source) + 1, at = text.size();
  text.resize(at + count);
  text[at] = static_cast<char32_t>(ahead);
  for (size_t i = 1; i < count; ++i) text[at + i] = source[i - 1];
  run.previous_char = count >= 2 ? static_cast<int>(text[at + count - 2]) : run.current_char;
  run.current_char = static_cast<int>(text.back());
  run.lookahead_char = *next;
  if (*next == '\n') ++run.line_number;
  in.next = next + 1;
}

void show_font_text() {
  if (run.font_text.empty()) return;
  int16_t font = current_font_index();
  std::u32string& text = run.font_text;
  if (font < 0) {  // the font changed under the text: cannot happen between flushes
    text.clear();
    return;
  }
  std::vector<uint32_t> missing;
  lay_out_text(run.fonts, font, text.data(), text.size(), &run.laid_out,
               run.options.warnings ? &missing : nullptr);
  for (uint32_t c : missing) {
    if (already_warned(c)) continue;
    warn(warn_missing_character, current_input_line(),
         character_text(c) + " is not in " + font_label(run.text_font.font) +
             (run.fonts.fallbacks.empty() ? "" : " nor in its <fallback> fonts") +
             "; it shows as the font's missing glyph");
  }
  if (run.lines_on_page >= run.below_page_line) note_below_page();
  const LaidOutText& laid = run.laid_out;
  int64_t shift = laid.right_to_left && run.column == 0 ? right_margin_shift(laid.width) : 0;
  write_glyphs(laid, font, shift);
  run.line_width += laid.width + shift;
  run.column += static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX / 2));
  text.clear();
}

bool wrap_font_text(bool at_end) {
  int16_t font = current_font_index();
  std::u32string& text = run.font_text;
  if (font < 0 || text.empty()) return false;
  Font& shown = *run.fonts.fonts[font];
  uint32_t zero = font_glyph(shown, '0');
  int64_t limit = int64_t{run.wrap_width} * (zero ? glyph_width(shown, zero) : 600);
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;  // blanks at the end take no room
  size_t word = end;
  while (word > 0 && text[word - 1] != ' ') --word;
  if (word == 0) return false;  // one word: it stays, however wide
  lay_out_text(run.fonts, font, text.data(), end, &run.laid_out, nullptr);
  int64_t width = run.laid_out.width;
  if (width + run.line_width <= limit) return false;
  if (at_end && run.lines_on_page + 1 >= run.lines_per_page) return false;
  std::u32string rest = text.substr(word);
  text.resize(word);
  show_font_text();
  text = rest;
  return end_line();
}

bool show_fallback_char(int t) {
  uint32_t c = static_cast<uint32_t>(t - tok_unicode);
  if (!run.text_open) open_text_object();  // its text state sets the font
  int32_t standard = run.text_font.font;
  FontState& fonts = run.fonts;
  int16_t face = -1;
  if (standard >= 1 && standard <= 13) {
    int16_t liberation = liberation_face(fonts, standard);
    if (liberation >= 0 && font_glyph(*fonts.fonts[liberation], c) != 0) face = liberation;
  }
  if (face < 0 && standard != 0) face = font_for_character(fonts, -1, c);
  if (face < 0 || !(run.text_font.size > 0)) {
    int64_t line = current_char_line();
    bool known = false;
    for (const MissingCharacter& m : fonts.missing) known = known || m.code_point == c;
    if (!known) fonts.missing.push_back(MissingCharacter{c, line, standard});
    return false;
  }
  Font& font = *fonts.fonts[face];
  uint32_t glyph = font_glyph(font, c);
  char32_t text = static_cast<char32_t>(c);
  record_glyph(font, glyph, &text, 1);
  close_string();
  open_text_object();
  if (run.lines_on_page >= run.below_page_line) note_below_page();
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", glyph);
  std::string size = number_text(run.text_font.size);
  std::string operators = "/" + font.resource_name + " " + size + " Tf <" + digits + "> Tj /F" +
                          std::to_string(standard) + " " + size + " Tf ";
  emit_raw_bytes(reinterpret_cast<const unsigned char*>(operators.data()), operators.size());
  run.line_width += glyph_width(font, glyph);
  return true;
}

void stop_for_missing_characters() {
  const std::vector<MissingCharacter>& missing = run.fonts.missing;
  if (missing.empty()) return;
  bool liberation_absent[14] = {};
  for (const MissingCharacter& m : missing) {
    std::string where = m.font == 0 ? "the page font is not known here"
                                    : "not in " + font_label(m.font);
    if (m.font >= 1 && m.font <= 13) {
      std::string family = liberation_family(m.font);
      if (!family.empty()) {
        if (run.fonts.liberation[m.font - 1] < 0) liberation_absent[m.font - 1] = true;
        where += ", " + family;
      }
    }
    if (m.font != 0) where += run.fonts.fallbacks.empty() ? "" : " or the <fallback> fonts";
    report_problem("line " + std::to_string(m.line) + ": " + character_text(m.code_point) + " " +
                   where);
  }
  for (int f = 0; f < 14; ++f)
    if (liberation_absent[f]) {
      report_problem(liberation_family(f + 1) + " is not installed in " + run.host.fallback_font_folder +
                     " (Debian package fonts-liberation2)");
      for (int g = f; g < 14; ++g)  // one line per family
        if (liberation_family(g + 1) == liberation_family(f + 1)) liberation_absent[g] = false;
    }
  run.line_number = missing.front().line;
  fatal_error(84, msg_not_in_winansi);
}
