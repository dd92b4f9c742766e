// Operators of a content stream, read as a PDF reader reads them: numbers,
// names, literal strings (nested, with escapes), hex strings, arrays,
// dictionaries and comments are operands or skipped; every other run of
// regular characters is an operator, checked against the operators PDF 1.7
// defines for content streams. The data of an inline image (after ID, up to
// EI) is skipped. The warnings read the bracket blocks with it; it reads
// any bytes without fault.
#include <algorithm>
#include <cstring>

#include "page.h"

namespace {

// Text, graphics state, path, colour, XObject, inline image, marked
// content, compatibility and Type 3 operators, with their operands and what
// they do (shown by the language server's hover).
struct KnownOperator {
  const char* name;
  const char* description;
};
constexpr KnownOperator known_operator_table[] = {
    {"\"",
     "aw ac string \" : sets word and character spacing, moves to the next line, shows a string"},
    {"'", "string ' : moves to the next line and shows a string"},
    {"B", "B : fills (non-zero winding) and strokes the path"},
    {"B*", "B* : fills (even-odd) and strokes the path"},
    {"BDC", "tag properties BDC : begins marked content with properties"},
    {"BI", "BI : begins an inline image"},
    {"BMC", "tag BMC : begins marked content"},
    {"BT", "BT : begins a text object"},
    {"BX", "BX : begins a section whose unknown operators are ignored"},
    {"CS", "name CS : sets the stroking colour space"},
    {"DP", "tag properties DP : a marked-content point with properties"},
    {"Do", "name Do : draws an XObject (a picture listed as /Im<number>)"},
    {"EI", "EI : ends an inline image"},
    {"EMC", "EMC : ends marked content"},
    {"ET", "ET : ends a text object"},
    {"EX", "EX : ends a BX section"},
    {"F", "F : fills the path (non-zero winding; an old spelling of f)"},
    {"G", "gray G : sets the stroking colour to a grey level (0 black to 1 white)"},
    {"ID", "ID : begins an inline image's data"},
    {"J", "cap J : sets the line cap (0 butt, 1 round, 2 square)"},
    {"K", "c m y k K : sets the stroking colour in CMYK"},
    {"M", "limit M : sets the miter limit"},
    {"MP", "tag MP : a marked-content point"},
    {"Q", "Q : restores the graphics state saved by q"},
    {"RG", "r g b RG : sets the stroking colour in RGB (0 to 1 each)"},
    {"S", "S : strokes the path"},
    {"SC", "c1 ... SC : sets the stroking colour in its colour space"},
    {"SCN", "c1 ... [name] SCN : sets the stroking colour, pattern or separation"},
    {"T*", "T* : moves to the start of the next line (by the leading)"},
    {"TD", "tx ty TD : moves to the next line by (tx, ty) and sets the leading to -ty"},
    {"TJ", "[strings and numbers] TJ : shows strings, moving back by each number in 1/1000 em"},
    {"TL", "leading TL : sets the distance from one baseline to the next"},
    {"Tc", "spacing Tc : sets extra space after every character"},
    {"Td", "tx ty Td : moves to the start of the next line, offset by (tx, ty)"},
    {"Tf", "font size Tf : selects a font and size, e.g. /F1 12 Tf"},
    {"Tj", "string Tj : shows a string"},
    {"Tm", "a b c d e f Tm : sets the text matrix and the line matrix"},
    {"Tr", "mode Tr : sets the text render mode (0 fill, 1 stroke, 2 both, 3 invisible, 4-7 clip)"},
    {"Ts", "rise Ts : raises the baseline (superscript, subscript)"},
    {"Tw", "spacing Tw : sets extra space after every blank"},
    {"Tz", "percent Tz : scales characters horizontally"},
    {"W", "W : clips to the path (non-zero winding)"},
    {"W*", "W* : clips to the path (even-odd)"},
    {"b", "b : closes, fills (non-zero winding) and strokes the path"},
    {"b*", "b* : closes, fills (even-odd) and strokes the path"},
    {"c", "x1 y1 x2 y2 x3 y3 c : appends a Bezier curve"},
    {"cm", "a b c d e f cm : concatenates a matrix to the current transformation"},
    {"cs", "name cs : sets the filling colour space"},
    {"d", "[dashes] phase d : sets the dash pattern"},
    {"d0", "wx wy d0 : sets a Type 3 glyph's width"},
    {"d1", "wx wy llx lly urx ury d1 : sets a Type 3 glyph's width and box"},
    {"f", "f : fills the path (non-zero winding)"},
    {"f*", "f* : fills the path (even-odd)"},
    {"g", "gray g : sets the filling colour to a grey level (0 black to 1 white)"},
    {"gs", "name gs : applies a graphics state parameter dictionary"},
    {"h", "h : closes the subpath"},
    {"i", "flatness i : sets the flatness tolerance"},
    {"j", "join j : sets the line join (0 miter, 1 round, 2 bevel)"},
    {"k", "c m y k k : sets the filling colour in CMYK"},
    {"l", "x y l : appends a straight line"},
    {"m", "x y m : begins a subpath at (x, y)"},
    {"n", "n : ends the path without filling or stroking"},
    {"q", "q : saves the graphics state"},
    {"re", "x y width height re : appends a rectangle"},
    {"rg", "r g b rg : sets the filling colour in RGB (0 to 1 each); text is filled"},
    {"ri", "intent ri : sets the colour rendering intent"},
    {"s", "s : closes and strokes the path"},
    {"sc", "c1 ... sc : sets the filling colour in its colour space"},
    {"scn", "c1 ... [name] scn : sets the filling colour, pattern or separation"},
    {"sh", "name sh : paints a shading"},
    {"v", "x2 y2 x3 y3 v : appends a Bezier curve starting at the current point"},
    {"w", "width w : sets the line width"},
    {"y", "x1 y1 x3 y3 y : appends a Bezier curve ending at (x3, y3)"},
};
constexpr size_t known_operator_count = sizeof known_operator_table / sizeof *known_operator_table;

// Their codes in increasing order, for a binary search.
struct KnownOperators {
  uint32_t code[known_operator_count];
  constexpr KnownOperators() : code() {
    for (size_t i = 0; i < known_operator_count; ++i) {
      uint32_t value = operator_code(known_operator_table[i].name);
      size_t at = i;
      for (; at > 0 && code[at - 1] > value; --at) code[at] = code[at - 1];
      code[at] = value;
    }
  }
};
constexpr KnownOperators known_operators;

// The code of an operator of up to three bytes, 0 for a longer one.
uint32_t code_of(const unsigned char* text, size_t length) {
  if (length == 0 || length > 3) return 0;
  uint32_t code = 0;
  for (size_t i = 0; i < length; ++i) code = code << 8 | text[i];
  return code;
}

bool is_known_code(uint32_t code) {
  const uint32_t* end = known_operators.code + known_operator_count;
  const uint32_t* found = std::lower_bound(known_operators.code, end, code);
  return code != 0 && found != end && *found == code;
}

// Byte classes: white space, delimiters, and regular bytes (all others).
enum : unsigned char { regular = 0, white = 1, delimiter = 2 };
struct ByteClass {
  unsigned char of[256];
  constexpr ByteClass() : of() {
    for (unsigned char c : {0, 9, 10, 12, 13, 32}) of[c] = white;
    for (unsigned char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) of[c] = delimiter;
  }
};
constexpr ByteClass byte_class;

bool is_white(unsigned char c) { return byte_class.of[c] == white; }
bool is_regular(unsigned char c) { return byte_class.of[c] == regular; }

// A plain number: an optional sign, digits with at most one point, at least
// one digit; values beyond a few million are left unread (no layout needs
// them, and no arithmetic on them can overflow).
bool read_plain_number(const unsigned char* text, size_t length, double* value) {
  size_t i = 0;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  double result = 0, scale = 0;
  int digits = 0;
  for (; i < length; ++i) {
    unsigned char c = text[i];
    if (c == '.' && scale == 0) {
      scale = 1;
    } else if (c >= '0' && c <= '9') {
      if (scale != 0) {
        scale /= 10;
        result += (c - '0') * scale;
      } else {
        result = result * 10 + (c - '0');
      }
      if (result > 1e7) return false;
      ++digits;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  *value = negative ? -result : result;
  return true;
}

class Lexer {
 public:
  Lexer(const unsigned char* data, size_t size, OperatorVisitor visit, void* context)
      : data_(data), size_(size), visit_(visit), context_(context) {}

  void run() {
    while (at_ < size_) {
      unsigned char c = data_[at_];
      if (byte_class.of[c] == white) {
        ++at_;
      } else if (byte_class.of[c] == regular) {
        size_t start = at_;
        while (at_ < size_ && is_regular(data_[at_])) ++at_;
        word(data_ + start, at_ - start);
      } else if (c == '%') {
        while (at_ < size_ && data_[at_] != '\n' && data_[at_] != '\r') ++at_;
      } else if (c == '(') {
        skip_literal_string();
        push_other();
      } else if (c == '<' && at_ + 1 < size_ && data_[at_ + 1] == '<') {
        at_ += 2;
        ++depth_;
      } else if (c == '>' && at_ + 1 < size_ && data_[at_ + 1] == '>') {
        at_ += 2;
        close_composite();
      } else if (c == '<') {
        while (at_ < size_ && data_[at_] != '>') ++at_;
        at_ = std::min(at_ + 1, size_);
        push_other();
      } else if (c == '[') {
        ++at_;
        ++depth_;
      } else if (c == ']') {
        ++at_;
        close_composite();
      } else if (c == '/') {
        size_t start = ++at_;
        while (at_ < size_ && is_regular(data_[at_])) ++at_;
        push(ContentOperand{ContentOperand::name, 0, data_ + start, at_ - start});
      } else {
        ++at_;  // a stray ")", ">", "{" or "}"
      }
    }
  }

 private:
  void skip_literal_string() {
    int nesting = 0;
    while (at_ < size_) {
      unsigned char c = data_[at_++];
      if (c == '\\') {
        if (at_ < size_) ++at_;
      } else if (c == '(') {
        ++nesting;
      } else if (c == ')' && --nesting == 0) {
        return;
      }
    }
  }

  void close_composite() {
    if (depth_ > 0) --depth_;
    push_other();
  }

  void push_other() { push(ContentOperand{ContentOperand::other, 0, nullptr, 0}); }

  // Operands inside an array or dictionary make up one operand, pushed when
  // the outermost one closes.
  void push(const ContentOperand& operand) {
    if (depth_ > 0) return;
    if (count_ == content_operand_room) {
      std::copy(operands_ + 1, operands_ + count_, operands_);
      --count_;
    }
    operands_[count_++] = operand;
  }

  void word(const unsigned char* text, size_t length) {
    double value;
    if (read_plain_number(text, length, &value)) {
      push(ContentOperand{ContentOperand::number, value, text, length});
      return;
    }
    if ((length == 4 && (std::memcmp(text, "true", 4) == 0 || std::memcmp(text, "null", 4) == 0)) ||
        (length == 5 && std::memcmp(text, "false", 5) == 0) ||
        std::all_of(text, text + length, [](unsigned char c) {
          return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9');
        })) {
      push_other();  // a keyword, or a number too large to read
      return;
    }
    newlines_ += std::count(data_ + counted_, text, '\n');
    counted_ = text - data_;
    uint32_t code = code_of(text, length);
    ContentOperator op{text, length, code, is_known_code(code), newlines_, operands_, count_};
    visit_(op, context_);
    count_ = 0;
    if (length == 2 && text[0] == 'I' && text[1] == 'D') skip_image_data();
  }

  // The bytes after ID and one white-space byte, up to an EI that stands
  // between white space (or the end).
  void skip_image_data() {
    if (at_ < size_) ++at_;
    for (size_t i = at_; i + 1 < size_; ++i) {
      if (data_[i] == 'E' && data_[i + 1] == 'I' && i > 0 && is_white(data_[i - 1]) &&
          (i + 2 == size_ || is_white(data_[i + 2]))) {
        at_ = i;
        return;
      }
    }
    at_ = size_;
  }

  const unsigned char* data_;
  size_t size_;
  OperatorVisitor visit_;
  void* context_;
  size_t at_ = 0;
  int depth_ = 0;  // open arrays and dictionaries
  ContentOperand operands_[content_operand_room];
  int count_ = 0;
  int64_t newlines_ = 0;  // line feeds before counted_
  size_t counted_ = 0;
};

}  // namespace

void lex_content_operators(const unsigned char* content, size_t size, OperatorVisitor visit,
                           void* context) {
  Lexer(content, size, visit, context).run();
}

const char* pdf_operator_description(const unsigned char* text, size_t length) {
  for (const KnownOperator& known : known_operator_table)
    if (std::strlen(known.name) == length && std::memcmp(known.name, text, length) == 0)
      return known.description;
  return nullptr;
}
