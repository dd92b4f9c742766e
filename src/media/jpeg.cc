// JPEG images: the file's bytes are copied unchanged behind a DCTDecode
// filter and never decoded. `jpg` takes the size from the command; `jpg+`
// reads it, and the number of components, from the first frame header.
#include <string_view>

#include "diagnostics.h"
#include "input.h"
#include "media.h"
#include "pdf.h"

namespace {

int read_jpeg_byte(std::FILE* file) {
  int c = getc_unlocked(file);
  if (c == EOF) fatal_error(58, msg_string_too_long);
  return c;
}

int read_jpeg_word(std::FILE* file) {
  int high = read_jpeg_byte(file);
  return high << 8 | read_jpeg_byte(file);
}

// A frame header: SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC).
bool is_frame_marker(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: stuffed zero, TEM, RST0 to
// RST7, SOI and EOI.
bool is_lone_marker(int marker) { return marker <= 0x01 || (marker >= 0xD0 && marker <= 0xD9); }

// The colour space, the filter, the data and the length object.
void finish_jpeg_object(const char* colour_space, const char* path) {
  emit_text("\n/BitsPerComponent 8 /ColorSpace ");
  emit_text(colour_space);
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(" 0 R /Filter /DCTDecode >>\nstream\n");
  int64_t length = copy_file_into_output(path);
  end_stream_object(length);
}

}  // namespace

int32_t read_picture_number(int range_code) {
  int32_t picture = read_number();
  if (picture < 0 || picture >= max_pict) fatal_error(range_code, msg_too_many_pictures);
  return picture;
}

void begin_image_object(int32_t picture) {
  run.image_object[picture] = run.next_object;
  begin_object("<< /Type /XObject /Subtype /Image /Name /Im");
  emit_int(picture);
}

void write_image_size(int32_t picture, const JpegFrame* frame) {
  emit_text(" /Width ");
  int32_t width = frame ? frame->width : read_number();
  run.image_width[picture] = width;
  emit_int(width);
  emit_text(" /Height ");
  int32_t height = frame ? frame->height : read_number();
  run.image_height[picture] = height;
  emit_int(height);
}

JpegFrame scan_jpeg_frame(std::FILE* file) {
  JpegFrame frame{0, 0, 0, false};
  for (;;) {
    while (read_jpeg_byte(file) != 0xFF) {
    }
    int marker = read_jpeg_byte(file);
    while (marker == 0xFF) marker = read_jpeg_byte(file);  // fill bytes
    if (is_lone_marker(marker)) continue;
    if (is_frame_marker(marker)) {
      for (int i = 0; i < 3; ++i) read_jpeg_byte(file);  // length and precision
      frame.height = read_jpeg_word(file);
      frame.width = read_jpeg_word(file);
      frame.components = read_jpeg_byte(file);
      return frame;
    }
    int skip = read_jpeg_word(file) - 2;
    if (marker == 0xEE && skip >= 5) {  // APP14: Adobe's marks inverted CMYK
      char tag[5];
      for (char& c : tag) c = static_cast<char>(read_jpeg_byte(file));
      frame.adobe = std::string_view(tag, 5) == "Adobe";
      skip -= 5;
    }
    // A segment past the end of the file stops at the next read, as a
    // byte-by-byte skip would stop inside it; a file that cannot seek is read.
    if (skip > 0 && std::fseek(file, skip, SEEK_CUR) != 0)
      for (; skip > 0; --skip) read_jpeg_byte(file);
  }
}

void command_jpg() {
  if (run.stream_open) fatal_error(14, msg_not_in_page);
  int32_t picture = read_picture_number(15);
  begin_image_object(picture);
  write_image_size(picture, nullptr);
  char path[word_buffer_size];
  read_word(path);
  check_jpeg_file(path, current_input_line());
  finish_jpeg_object("/DeviceRGB", path);
}

void command_jpg_plus() {
  if (run.stream_open) fatal_error(14, msg_not_in_page);
  int32_t picture = read_picture_number(15);
  run.image_object[picture] = run.next_object;
  char path[word_buffer_size];
  read_word(path);
  check_jpeg_file(path, current_input_line());
  JpegFrame frame;
  {
    FileCloser file{open_external_file(path, 49)};
    frame = scan_jpeg_frame(file.file);
  }
  begin_image_object(picture);
  write_image_size(picture, &frame);
  const char* colour_space = "/DeviceRGB";
  if (frame.components == 1) colour_space = "/DeviceGray";
  if (frame.components == 4)
    colour_space = frame.adobe ? "/DeviceCMYK /Decode [1 0 1 0 1 0 1 0]" : "/DeviceCMYK";
  finish_jpeg_object(colour_space, path);
}
