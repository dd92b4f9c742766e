// Characters beyond ASCII: UTF-8 as the character source reads it under
// <encoding utf8>, the byte order mark at the start of the input, and
// Windows-1252, the page fonts' WinAnsiEncoding, in both directions.
//
// UTF-8 is read strictly: a byte that cannot begin a character, a sequence
// cut short, an overlong form, a surrogate or a value beyond U+10FFFF stops
// the run on the line where it stands.
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "input.h"

namespace {

// The characters of Windows-1252 bytes 0x80 to 0x9F; 0 where the byte has
// none (0x81, 0x8D, 0x8F, 0x90 and 0x9D).
const uint16_t winansi_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Stops at the byte `lead`, whose offset in the input is `lead_offset`.
[[noreturn]] void invalid_utf8(int byte, const char* what, int64_t lead_offset) {
  char text[96];
  std::snprintf(text, sizeof text, "line %lld: byte 0x%02X %s",
                static_cast<long long>(run.line_number), byte, what);
  report_problem(std::string(text) + " (invalid UTF-8)");
  const InputStream& in = run.input_file;
  fatal_error_at(83, msg_invalid_utf8,
                 place_of_byte(in.start + (lead_offset - in.start_offset), run.line_number));
}

}  // namespace

int read_utf8_char(int lead) {
  const InputStream& in = run.input_file;
  const int64_t lead_offset = in.start_offset + (in.next - 1 - in.start);
  int more, code_point, least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1, code_point = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2, code_point = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3, code_point = lead & 0x07, least = 0x10000;
  } else {
    invalid_utf8(lead, lead < 0xC0 ? "continues no character" : "begins no character", lead_offset);
  }
  for (int i = 0; i < more; ++i) {
    int c = input_read_byte();
    if (c < 0 || (c & 0xC0) != 0x80)
      invalid_utf8(lead, "begins a character cut short", lead_offset);
    code_point = code_point << 6 | (c & 0x3F);
  }
  if (code_point < least || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF))
    invalid_utf8(lead, "begins an overlong form, a surrogate or a value beyond U+10FFFF",
                 lead_offset);
  return tok_unicode + code_point;
}

void skip_byte_order_mark(bool declared_by_option) {
  InputStream& in = run.input_file;
  if (in.next == in.end) {  // fill the window, then put the byte back
    if (input_refill() < 0) return;
    --in.next;
  }
  static const char declared[] = "\xEF\xBB\xBF<encoding utf8";
  const size_t length = declared_by_option ? 3 : sizeof declared - 1;
  if (static_cast<size_t>(in.end - in.next) <= length) return;
  if (std::memcmp(in.next, declared, length) != 0) return;
  int after = in.next[length];
  if (!declared_by_option && after > ' ' && after != '>') return;
  in.next += 3;
  in.start = in.next;  // columns do not count the mark
  in.start_offset += 3;
}

int unicode_of_winansi(int byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  int code_point = winansi_high[byte - 0x80];
  return code_point != 0 ? code_point : byte;
}

int winansi_byte_or_none(int token) {
  int code_point = token - tok_unicode;
  if (code_point >= 0xA0 && code_point <= 0xFF) return code_point;
  for (int i = 0; i < 32; ++i)
    if (winansi_high[i] == code_point) return 0x80 + i;
  return -1;
}

int winansi_byte_of_unicode(int token, int stop_code) {
  int byte = winansi_byte_or_none(token);
  if (byte >= 0) return byte;
  int code_point = token - tok_unicode;
  unsigned char bytes[4];
  int count = put_utf8(code_point, bytes);
  char text[64];
  std::snprintf(text, sizeof text, "line %lld: U+%04X \"",
                static_cast<long long>(current_char_line()), code_point);
  report_problem(std::string(text) + std::string(reinterpret_cast<char*>(bytes), count) +
                 "\" has no winansi code, which the page fonts need");
  Place place = current_place();
  run.line_number = current_char_line();  // the stop names the character's own line
  fatal_error_at(stop_code, msg_not_in_winansi, place);
}

int put_utf8(int code_point, unsigned char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<unsigned char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | code_point >> 6);
    out[1] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | code_point >> 12);
    out[1] = static_cast<unsigned char>(0x80 | (code_point >> 6 & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<unsigned char>(0xF0 | code_point >> 18);
  out[1] = static_cast<unsigned char>(0x80 | (code_point >> 12 & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (code_point >> 6 & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
  return 4;
}

bool starts_utf8_sequence(int lead) {
  int more = lead >= 0xC2 && lead <= 0xDF   ? 1
             : lead >= 0xE0 && lead <= 0xEF ? 2
             : lead >= 0xF0 && lead <= 0xF4 ? 3
                                            : 0;
  const InputStream& in = run.input_file;
  if (more == 0 || run.lookahead_char < 0 || in.end - in.next < more - 1) return false;
  unsigned char bytes[4] = {static_cast<unsigned char>(lead),
                            static_cast<unsigned char>(run.lookahead_char)};
  std::memcpy(bytes + 2, in.next, more - 1);
  int code_point = lead & (0x3F >> more);
  for (int i = 1; i <= more; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return false;
    code_point = code_point << 6 | (bytes[i] & 0x3F);
  }
  const int least[4] = {0, 0x80, 0x800, 0x10000};
  return code_point >= least[more] && code_point <= 0x10FFFF &&
         (code_point < 0xD800 || code_point > 0xDFFF);
}
