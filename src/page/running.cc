// Running heads and feet on the pages, and the page labels.
//
// As a page's content stream opens, the page takes its number, and the
// heads and feet in force are drawn first, each as "q BT /Fn size Tf x y Td
// (text) Tj ET Q", placed from the published widths of the standard fonts:
// left, centred or right-aligned between the margins. A line that shows %n,
// the number of the last page, cannot be placed until the end; the page
// draws instead a form of its own, /Rt, which the document tail writes
// after the last page, with every line exact whatever the widths of the
// numbers. Memory stays flat: a page keeps its number and the index of the
// set of lines in force, and sets are kept only as often as they change.
//
// When the printed numbers are not 1, 2, 3, ... the catalogue gets
// /PageLabels, so that viewers show the numbers printed on the pages.
#include <string>

#include "diagnostics.h"
#include "page.h"
#include "pdf.h"

namespace {

// Whether a text shows %n.
bool shows_last_number(const unsigned char* text, int32_t length) {
  for (int32_t i = 0; i + 1 < length; ++i) {
    if (text[i] != '%') continue;
    if (text[i + 1] == 'n') return true;
    ++i;  // "%%" and the rest stand for themselves or another value
  }
  return false;
}

// The file name as Windows-1252 bytes: UTF-8 characters that the encoding
// has become its bytes, others a "?"; a name that is not UTF-8 stays as it is.
std::string file_name_bytes() {
  const std::string& name = run.diagnostics.file_name;
  std::string out;
  for (size_t i = 0; i < name.size();) {
    unsigned char lead = static_cast<unsigned char>(name[i]);
    int more = lead < 0x80                    ? 0
               : lead >= 0xC2 && lead <= 0xDF ? 1
               : lead >= 0xE0 && lead <= 0xEF ? 2
               : lead >= 0xF0 && lead <= 0xF4 ? 3
                                              : -1;
    if (more < 0 || i + more >= name.size()) return name;
    int code_point = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      unsigned char next = static_cast<unsigned char>(name[i + k]);
      if ((next & 0xC0) != 0x80) return name;
      code_point = code_point << 6 | (next & 0x3F);
    }
    int byte = code_point < 0x80 ? code_point : winansi_byte_or_none(tok_unicode + code_point);
    out += static_cast<char>(byte < 0 ? '?' : byte);
    i += 1 + more;
  }
  return out;
}

// The text with its place-holders replaced; `last` is the number of the
// last page, when it is known.
std::string expand(const unsigned char* text, int32_t length, int32_t number, int32_t last) {
  std::string out;
  for (int32_t i = 0; i < length; ++i) {
    if (text[i] != '%' || i + 1 == length) {
      out += static_cast<char>(text[i]);
      continue;
    }
    switch (text[++i]) {
      case 'p': out += std::to_string(number); break;
      case 'n': out += std::to_string(last); break;
      case 'f': out += file_name_bytes(); break;
      case '%': out += '%'; break;
      default:
        out += '%';
        out += static_cast<char>(text[i]);
        break;
    }
  }
  return out;
}

// The operators that draw one line of slot `slot`; inside a form they need
// no q and Q of their own.
std::string line_operators(int slot, int32_t font, int32_t size, const std::string& text,
                           int32_t left, int32_t right, int32_t top, int32_t bottom, bool framed) {
  const uint16_t* widths = standard_font_widths(font);
  int64_t width = 0;  // thousandths of a point
  for (unsigned char byte : text) width += (widths ? widths[byte] : byte < ' ' ? 0 : 600);
  width *= size;
  const int64_t paper_width = run.paper_width, paper_height = run.paper_height;
  int64_t x;
  switch (slot % 3) {
    case 0: x = int64_t{left} * 1000; break;
    case 1: x = ((int64_t{left} + paper_width - right) * 1000 - width) / 2; break;
    default: x = (paper_width - right) * 1000 - width; break;
  }
  int64_t y = slot < 3 ? (paper_height - top) * 1000 : int64_t{bottom} * 1000;
  std::string out = framed ? "q BT /F" : "BT /F";
  out += std::to_string(font) + " " + std::to_string(size) + " Tf " + points_text(x) + " " +
         points_text(y) + " Td (";
  for (unsigned char byte : text) {
    if (byte == '(' || byte == ')' || byte == '\\') out += '\\';
    if (byte == 0) {
      out += "\\000";
      continue;
    }
    out += static_cast<char>(byte);
  }
  out += framed ? ") Tj ET Q\n" : ") Tj ET\n";
  return out;
}

// Keeps the lines in force that show %n as a set, unless the last set is
// still the one in force; returns its index.
int32_t current_set() {
  RunningState& running = run.running;
  if (running.set_count > 0 && running.set_version == running.version) return running.set_count - 1;
  if (running.set_count == max_running) fatal_error(128, msg_too_many_running);
  RunningSet& set = running.sets[running.set_count];
  for (int slot = 0; slot < running_slots; ++slot) {
    const RunningSlot& line = running.slot[slot];
    set.font[slot] = 0;
    if (line.font == 0 || !shows_last_number(line.text, line.length)) continue;
    if (running.pool_length + line.length > running_pool_size)
      fatal_error(128, msg_too_many_running);
    set.font[slot] = line.font;
    set.size[slot] = line.size;
    set.offset[slot] = running.pool_length;
    set.length[slot] = line.length;
    for (int32_t i = 0; i < line.length; ++i) running.pool[running.pool_length++] = line.text[i];
  }
  set.left = running.left, set.right = running.right;
  set.top = running.top, set.bottom = running.bottom;
  running.set_version = running.version;
  return running.set_count++;
}

}  // namespace

void running_begin_page() {
  RunningState& running = run.running;
  const int32_t index = run.page_count;
  if (index >= max_page) return;  // the page stops the run when it is written
  const int32_t number = running.next_number;
  running.next_number = wrap_add(number, 1);
  running.page_number[index] = number;
  running.page_set[index] = 0;
  bool continues = index == 0 ? number == 1
                              : running.page_number[index - 1] >= 1 &&
                                    number == wrap_add(running.page_number[index - 1], 1);
  if (!continues || number < 1) running.label_page[running.label_count++] = index;

  if (index == running.bare_page) return;
  bool late = false;
  for (int slot = 0; slot < running_slots; ++slot) {
    const RunningSlot& line = running.slot[slot];
    if (line.font == 0) continue;
    if (shows_last_number(line.text, line.length)) {
      late = true;
      continue;
    }
    emit_text(line_operators(slot, line.font, line.size, expand(line.text, line.length, number, 0),
                             running.left, running.right, running.top, running.bottom, true)
                  .c_str());
  }
  if (!late) return;
  running.page_set[index] = current_set() + 1;
  emit_text("/Rt Do\n");
}

int32_t running_form_of_page() {
  return run.page_count < max_page ? run.running.page_set[run.page_count] : 0;
}

void write_running_forms() {
  const RunningState& running = run.running;
  if (run.page_count == 0) return;
  const int32_t last = running.page_number[run.page_count - 1];
  for (int32_t page = 0; page < run.page_count; ++page) {
    if (running.page_set[page] == 0) continue;
    const RunningSet& set = running.sets[running.page_set[page] - 1];
    std::string content;
    for (int slot = 0; slot < running_slots; ++slot) {
      if (set.font[slot] == 0) continue;
      content += line_operators(slot, set.font[slot], set.size[slot],
                                expand(running.pool + set.offset[slot], set.length[slot],
                                       running.page_number[page], last),
                                set.left, set.right, set.top, set.bottom, false);
    }
    // The content is text of this program's own. Plain, it passes the
    // channel's newline rule, which its length counts; with -z it is
    // compressed in memory first, so that its length is known.
    size_t length = content.size();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(content.data());
    if (run.options.compress)
      bytes = flate_compress_small(bytes, length, &length);
    else
      for (char c : content) length += c == '\n';
    run.next_object = running.page_form[page];
    begin_object("<<\n/Type /XObject\n/Subtype /Form\n/BBox [0 0 ");
    emit_int(run.paper_width);
    emit_text(" ");
    emit_int(run.paper_height);
    emit_text("]\n/Resources << /Font ");
    emit_reference(obj_font_resources);
    emit_text(" >>\n/Length ");
    emit_int(static_cast<int64_t>(length));
    if (run.options.compress) {
      emit_text("\n/Filter /FlateDecode\n>>\nstream\n");
      emit_raw_bytes(bytes, length);
      emit_text("\nendstream\nendobj\n");
    } else {
      emit_text("\n>>\nstream\n");
      emit_text(content.c_str());
      emit_text("endstream\nendobj\n");
    }
  }
}

void write_page_labels() {
  const RunningState& running = run.running;
  if (running.label_count == 0) return;
  emit_text("/PageLabels << /Nums [");
  if (running.label_page[0] != 0) emit_text("0 << /S /D >> ");
  for (int32_t i = 0; i < running.label_count; ++i) {
    int32_t page = running.label_page[i], number = running.page_number[page];
    emit_int(page);
    if (number < 1) {  // a decimal label starts at 1: the number is the label's prefix
      emit_text(" << /P (");
      emit_int(number);
      emit_text(") >> ");
    } else if (number == 1) {
      emit_text(" << /S /D >> ");
    } else {
      emit_text(" << /S /D /St ");
      emit_int(number);
      emit_text(" >> ");
    }
  }
  emit_text("] >>\n");
}
