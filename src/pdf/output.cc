// Output channel: every byte of the PDF passes here and is counted in
// bytes_written, the offset the object table records.
//
// The newline rule: text is composed with the line feed as line end; the
// channel writes each line feed as CR LF and drops a line feed that directly
// follows a written line feed, so the text path never writes a blank line.
// Raw bytes (copied files, GIF data) pass unchanged and reset that memory.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "input.h"
#include "pdf.h"

bool output_write_buffer() {
  OutputStream& out = run.output_file;
  if (flate_active()) flate_write_buffer();
  int fill = out.fill;
  out.fill = 0;
  if (run.output_queued) {
    queue_raw(out.buffer, fill);
    return true;
  }
  if (fill > 0) {
    if (std::fwrite(out.buffer, 1, fill, out.file) != static_cast<size_t>(fill))
      output_failed(errno);
    output_file_wrote(static_cast<size_t>(fill));
  }
  return !out.failed;
}

void output_failed(int error_number) {
  OutputStream& out = run.output_file;
  if (!out.failed) out.error_number = error_number;
  out.failed = true;
}

void output_flush() {
  if (!output_write_buffer()) fatal_error(72, msg_cant_write_output);
}

void emit_raw_bytes(const unsigned char* data, size_t size) {
  if (size == 0) return;
  OutputStream& out = run.output_file;
  while (size > 0) {
    if (out.fill == io_buffer_size) output_flush();
    size_t room = static_cast<size_t>(io_buffer_size - out.fill);
    size_t part = size < room ? size : room;
    std::memcpy(out.buffer + out.fill, data, part);
    out.fill += static_cast<int>(part);
    run.bytes_written += static_cast<int64_t>(part);
    data += part;
    size -= part;
  }
  run.last_char_written = 0;
}

// The newline rule of emit_char, with the buffer position, the count and the
// last character kept in locals for the length of the text.
void emit_text(const char* text) {
  OutputStream& out = run.output_file;
  int fill = out.fill, counted_from = fill, last = run.last_char_written;
  int64_t written = 0;
  for (; *text != 0; ++text) {
    int c = static_cast<unsigned char>(*text);
    if (fill > io_buffer_size - 2) {  // room for CR LF
      written += fill - counted_from;
      out.fill = fill;
      output_flush();
      fill = counted_from = 0;
    }
    if (c == '\n') {
      if (last == '\n') continue;
      out.buffer[fill++] = '\r';
    }
    out.buffer[fill++] = static_cast<unsigned char>(c);
    last = static_cast<signed char>(c);
  }
  out.fill = fill;
  run.bytes_written += written + fill - counted_from;
  run.last_char_written = last;
}

// Writes `value` in decimal into `text` ("-" first when negative, at least
// `min_digits` digits, the most negative value included); returns the length.
static int format_int(int64_t value, int min_digits, char* text) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 || count < min_digits);
  int length = 0;
  if (value < 0) text[length++] = '-';
  while (count > 0) text[length++] = digits[--count];
  return length;
}

static void emit_formatted(int64_t value, int min_digits) {
  char text[24];
  int length = format_int(value, min_digits, text);
  for (int i = 0; i < length; ++i) emit_char(text[i]);
}

void emit_int(int64_t value) { emit_formatted(value, 1); }
void emit_int10(int64_t value) { emit_formatted(value, 10); }

std::string points_text(int64_t milli) {
  uint64_t magnitude = milli < 0 ? 0 - static_cast<uint64_t>(milli) : static_cast<uint64_t>(milli);
  std::string out = (milli < 0 ? "-" : "") + std::to_string(magnitude / 1000);
  if (uint64_t fraction = magnitude % 1000) {
    std::string digits = std::to_string(1000 + fraction).substr(1);
    digits.erase(digits.find_last_not_of('0') + 1);
    out += "." + digits;
  }
  return out;
}

std::string decimal_text(double value, int decimals) {
  if (!(value > -1e9)) value = value < 0 ? -1e9 : 0;  // what no page needs, NaN included
  if (value > 1e9) value = 1e9;
  char text[40];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

void emit_reference(int32_t object) {
  emit_int(object);
  emit_text(" 0 R");
}

std::string external_path(const char* path) {
  if (!run.host.base_folder || path[0] == '/' || path[0] == 0) return path;
  return std::string(run.host.base_folder) + "/" + path;
}

std::FILE* open_external_file(const char* path, int open_code) {
  FileId id;
  std::string opened = external_path(path);
  if (run.host.files_opened) run.host.files_opened->push_back(opened);
  struct stat info;  // looked at before opening: opening a FIFO waits for its writer
  if (run.host.regular_files_only && stat(opened.c_str(), &info) == 0 &&
      !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    report_problem(std::string(path) + ": not a plain file (a pipe or a device is not read here)");
    fatal_error_at(open_code, msg_cant_open_external, run.places.word);
  }
  std::FILE* file = open_for_reading(opened.c_str(), &id, false);
  int open_error = errno;
  if (run.output_file.file &&
      (file ? id == run.output_file.id : output_would_replace(opened.c_str()))) {
    if (file) std::fclose(file);
    report_problem(std::string(path) + ": is the output file");
    fatal_error_at(71, msg_output_is_input, run.places.word);
  }
  if (!file) {
    report_file_problem(path, open_error);
    fatal_error_at(open_code, msg_cant_open_external, run.places.word);
  }
  std::snprintf(run.external_name, sizeof run.external_name, "%s", path);
  std::setvbuf(file, nullptr, _IOFBF, io_buffer_size);  // one read call per 64 KB
  return file;
}

void check_external_read(std::FILE* file) {
  if (!std::ferror(file)) return;
  report_file_problem(run.external_name, errno);
  fatal_error_at(74, msg_cant_read_external, run.places.word);
}

int64_t copy_open_file_into_output(std::FILE* source) {
  OutputStream& out = run.output_file;
  int64_t start = run.bytes_written;
  // Read straight into the free part of the channel's buffer: the same bytes
  // and count as a byte-by-byte copy, without a per-byte call.
  for (;;) {
    if (out.fill == io_buffer_size) output_flush();
    size_t room = static_cast<size_t>(io_buffer_size - out.fill);
    size_t got = std::fread(out.buffer + out.fill, 1, room, source);
    if (got == 0) break;
    out.fill += static_cast<int>(got);
    run.bytes_written += static_cast<int64_t>(got);
    run.last_char_written = 0;
  }
  check_external_read(source);
  return run.bytes_written - start;
}

int64_t copy_file_into_output(const char* path) {
  FileCloser source{open_external_file(path, 49)};
  return copy_open_file_into_output(source.file);
}

void builder_put_text(const char* text, char*& cursor) {
  while (*text) *cursor++ = *text++;
  *cursor = 0;
}

void builder_put_int(int64_t value, char*& cursor) {
  cursor += format_int(value, 1, cursor);
  *cursor = 0;
}
