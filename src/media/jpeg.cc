// JPEG images: the file's bytes are copied unchanged behind a DCTDecode
// filter and never decoded. `jpg` takes the size from the command; `jpg+`
// reads it, and the number of components, from the first frame header.
#include <string>
#include <string_view>

#include "diagnostics.h"
#include "input.h"
#include "media.h"
#include "pdf.h"

namespace {

// A JPEG file being scanned. Where the file cannot seek back, every byte
// read is kept, so that the copy can start from the first byte.
struct JpegSource {
  std::FILE* file;
  std::string* kept;  // null for a file that can seek

  int byte() {
    int c = getc_unlocked(file);
    if (c == EOF) {
      check_external_read(file);
      fatal_error(58, msg_string_too_long);
    }
    if (kept) kept->push_back(static_cast<char>(c));
    return c;
  }

  int word() {
    int high = byte();
    return high << 8 | byte();
  }

  // A segment past the end of the file stops at the next read, as a
  // byte-by-byte skip would stop inside it.
  void skip(int count) {
    if (count > 0 && (kept || std::fseek(file, count, SEEK_CUR) != 0))
      for (; count > 0; --count) byte();
  }
};

// A frame header: SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC).
bool is_frame_marker(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: stuffed zero, TEM, RST0 to
// RST7, SOI and EOI.
bool is_lone_marker(int marker) { return marker <= 0x01 || (marker >= 0xD0 && marker <= 0xD9); }

// The colour space, the filter and the start of the data.
void begin_jpeg_data(const char* colour_space) {
  emit_text("\n/BitsPerComponent 8 /ColorSpace ");
  emit_text(colour_space);
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(" 0 R /Filter /DCTDecode >>\nstream\n");
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

JpegFrame scan_jpeg_frame(std::FILE* file, std::string* kept) {
  JpegSource source{file, kept};
  JpegFrame frame{0, 0, 0, false};
  for (;;) {
    while (source.byte() != 0xFF) {
    }
    int marker = source.byte();
    while (marker == 0xFF) marker = source.byte();  // fill bytes
    if (is_lone_marker(marker)) continue;
    if (is_frame_marker(marker)) {
      for (int i = 0; i < 3; ++i) source.byte();  // length and precision
      frame.height = source.word();
      frame.width = source.word();
      frame.components = source.byte();
      return frame;
    }
    int skip = source.word() - 2;
    if (marker == 0xEE && skip >= 5) {  // APP14: Adobe's marks inverted CMYK
      char tag[5];
      for (char& c : tag) c = static_cast<char>(source.byte());
      if (std::string_view(tag, 5) == "Adobe") frame.adobe = true;  // kept once set
      skip -= 5;
    }
    source.skip(skip);
  }
}

void command_jpg() {
  if (run.stream_open) fatal_error(14, msg_not_in_page);
  int32_t picture = read_picture_number(15);
  begin_image_object(picture);
  write_image_size(picture, nullptr);
  char path[word_buffer_size];
  read_word(path);
  begin_jpeg_data("/DeviceRGB");
  end_stream_object(copy_file_into_output(path));
}

// The file is opened once: scanned for the frame header, then copied whole
// from its first byte (from the kept bytes where it cannot seek, as a pipe).
void command_jpg_plus() {
  if (run.stream_open) fatal_error(14, msg_not_in_page);
  int32_t picture = read_picture_number(15);
  run.image_object[picture] = run.next_object;
  char path[word_buffer_size];
  read_word(path);
  FileCloser file{open_external_file(path, 49)};
  bool seekable = std::fseek(file.file, 0, SEEK_CUR) == 0;
  std::string kept;
  JpegFrame frame = scan_jpeg_frame(file.file, seekable ? nullptr : &kept);
  if (seekable && std::fseek(file.file, 0, SEEK_SET) != 0) check_external_read(file.file);
  begin_image_object(picture);
  write_image_size(picture, &frame);
  const char* colour_space = "/DeviceRGB";
  if (frame.components == 1) colour_space = "/DeviceGray";
  if (frame.components == 4)
    colour_space = frame.adobe ? "/DeviceCMYK /Decode [1 0 1 0 1 0 1 0]" : "/DeviceCMYK";
  begin_jpeg_data(colour_space);
  int64_t start = run.bytes_written;
  for (char c : kept) emit_raw_byte(static_cast<unsigned char>(c));
  copy_open_file_into_output(file.file);
  end_stream_object(run.bytes_written - start);
}
