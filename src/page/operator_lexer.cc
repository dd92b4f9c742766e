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
// content, compatibility and Type 3 operators.
constexpr const char* known_operator_names[] = {
    "\"", "'",  "B",  "B*", "BDC", "BI", "BMC", "BT", "BX",  "CS", "DP", "Do", "EI",  "EMC", "ET",
    "EX", "F",  "G",  "ID", "J",   "K",  "M",   "MP", "Q",   "RG", "S",  "SC", "SCN", "T*",  "TD",
    "TJ", "TL", "Tc", "Td", "Tf",  "Tj", "Tm",  "Tr", "Ts",  "Tw", "Tz", "W",  "W*",  "b",   "b*",
    "c",  "cm", "cs", "d",  "d0",  "d1", "f",   "f*", "g",   "gs", "h",  "i",  "j",   "k",   "l",
    "m",  "n",  "q",  "re", "rg",  "ri", "s",   "sc", "scn", "sh", "v",  "w",  "y",
};
constexpr size_t known_operator_count = sizeof known_operator_names / sizeof *known_operator_names;

// Their codes in increasing order, for a binary search.
struct KnownOperators {
  uint32_t code[known_operator_count];
  constexpr KnownOperators() : code() {
    for (size_t i = 0; i < known_operator_count; ++i) {
      uint32_t value = operator_code(known_operator_names[i]);
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
