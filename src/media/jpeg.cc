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

// A JPEG file being scanned; its end stops the run with the caller's code
// and message. Where the file cannot seek back, every byte read is kept, so
// that the copy can start from the first byte.
struct JpegSource {
  std::FILE* file;
  std::string* kept;  // null for a file that can seek
  int end_code, end_message;

  int byte() {
    int c = getc_unlocked(file);
    if (c == EOF) {
      check_external_read(file);
      fatal_error_at(end_code, end_message, run.places.word);
    }
    if (kept) kept->push_back(static_cast<char>(c));
    return c;
  }
  int word() {
    int high = byte();
    return high << 8 | byte();
  }

  // A segment past the end of the file stops as a byte-by-byte skip would
  // stop inside it.
  void skip(int count) {
    if (kept) {
      for (; count > 0; --count) byte();
    } else if (count > 0 && !skip_file_bytes(file, static_cast<uint64_t>(count))) {
      check_external_read(file);
      fatal_error(end_code, end_message);
    }
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

int32_t read_registration(int page_code, int range_code, char* path) {
  if (run.stream_open) fatal_error_at(page_code, msg_not_in_page, run.places.command);
  int32_t picture = read_picture_number(range_code);
  run.image_object[picture] = run.next_object;
  read_word(path);
  return picture;
}

int32_t read_picture_number(int range_code) {
  int32_t picture = read_number();
  if (picture < 0 || picture >= max_pict)
    fatal_error_at(range_code, msg_too_many_pictures, run.places.word);
  return picture;
}

void begin_image_object(int32_t picture) {
  run.image_object[picture] = run.next_object;
  run.image_orientation[picture] = 0;
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

JpegFrame scan_jpeg_frame(std::FILE* file, std::string* kept, int end_code, int end_message) {
  JpegSource source{file, kept, end_code, end_message};
  JpegFrame frame{0, 0, 0, false, 1, 0};
  bool exif_seen = false, scan_seen = false;
  for (;;) {
    while (source.byte() != 0xFF) {
    }
    int marker = source.byte();
    while (marker == 0xFF) marker = source.byte();  // fill bytes
    if (marker == 0xDA || marker == 0xD9) scan_seen = true;  // a scan, the end of the image
    if (is_lone_marker(marker)) continue;
    if (is_frame_marker(marker)) {
      for (int i = 0; i < 3; ++i) source.byte();  // length and precision
      frame.height = source.word();
      frame.width = source.word();
      frame.components = source.byte();
      frame.first_marker = scan_seen ? 0 : marker;
      return frame;
    }
    int skip = source.word() - 2;
    if (marker == 0xEE && skip >= 5) {  // APP14: Adobe's marks inverted CMYK
      char tag[5];
      for (char& c : tag) c = static_cast<char>(source.byte());
      if (std::string_view(tag, 5) == "Adobe") frame.adobe = true;  // kept once set
      skip -= 5;
    }
    if (marker == 0xE1 && !exif_seen && skip >= 6) {  // APP1: the first EXIF block
      static unsigned char segment[65536];
      int length = skip;
      for (int i = 0; i < length; ++i) segment[i] = static_cast<unsigned char>(source.byte());
      skip = 0;
      if (length >= 6 && std::string_view(reinterpret_cast<char*>(segment), 6) ==
                             std::string_view("Exif\0\0", 6)) {
        exif_seen = true;
        frame.orientation = exif_orientation(segment, static_cast<size_t>(length));
      }
    }
    source.skip(skip);
  }
}

void command_jpg() {
  if (run.stream_open) fatal_error_at(14, msg_not_in_page, run.places.command);
  int32_t picture = read_picture_number(15);
  begin_image_object(picture);
  write_image_size(picture, nullptr);
  char path[word_buffer_size];
  read_word(path);
  check_jpeg_file(path, current_input_line());
  begin_jpeg_data("/DeviceRGB");
  end_stream_object(copy_file_into_output(path));
}

// The file is opened once: scanned for the frame header, then copied whole
// from its first byte (from the kept bytes where it cannot seek, as a pipe).
void command_jpg_plus() {
  char path[word_buffer_size];
  int32_t picture = read_registration(14, 15, path);
  const int64_t line = current_input_line();
  bool arithmetic_check = check_jpeg_file(path, line, false);  // the scan below finds the frame
  FileCloser file{open_external_file(path, 49)};
  bool seekable = std::fseek(file.file, 0, SEEK_CUR) == 0;
  std::string kept;
  JpegFrame frame = scan_jpeg_frame(file.file, seekable ? nullptr : &kept);
  if (arithmetic_check) report_arithmetic_jpeg(path, line, frame.first_marker);
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

void image_jpeg(std::FILE* file, int32_t picture) {
  JpegFrame frame;
  try {
    frame = scan_jpeg_frame(file, nullptr, 81, msg_image_damaged);
  } catch (const Stop& stop) {
    if (stop.code != 81) throw;  // a read error says so itself
    image_damaged(81, "the file ends before a frame header");
  }
  if (frame.width == 0 || frame.height == 0)
    image_damaged(81, "no picture size in the frame header");
  const char* colour_space = frame.components == 1   ? "/DeviceGray"
                             : frame.components == 3 ? "/DeviceRGB"
                             : frame.components == 4 && frame.adobe
                                 ? "/DeviceCMYK /Decode [1 0 1 0 1 0 1 0]"
                             : frame.components == 4 ? "/DeviceCMYK"
                                                     : nullptr;
  if (!colour_space) image_damaged(81, "neither 1, 3 nor 4 colour components");
  if (std::fseek(file, 0, SEEK_SET) != 0) image_damaged(81, "cannot be read again");
  begin_picture_object(picture, frame.width, frame.height, 8);
  emit_text(colour_space);
  begin_picture_stream("/Filter /DCTDecode");
  end_stream_object(copy_open_file_into_output(file));
  // Turned a quarter (EXIF 5 to 8), the picture as seen is as wide as the
  // stored one is high.
  bool turned = frame.orientation >= 5;
  run.image_width[picture] = turned ? frame.height : frame.width;
  run.image_height[picture] = turned ? frame.width : frame.height;
  run.image_orientation[picture] =
      static_cast<int8_t>(frame.orientation == 1 ? 0 : frame.orientation);
}
