// The `image` command: one picture from a JPEG, PNG or GIF file, told apart
// by the file's first bytes, never by its name. The size comes from the
// file. Each kind has a writer of its own (jpeg.cc, png.cc, gif_image.cc);
// this file reads the command, knows the kinds, and holds what the writers
// share: the object's dictionary, palettes, masks and the messages.
#include <cerrno>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "input.h"
#include "media.h"
#include "pdf.h"

namespace {

bool starts(const unsigned char* bytes, size_t n, const char* prefix, size_t length,
            size_t at = 0) {
  return n >= at + length && std::memcmp(bytes + at, prefix, length) == 0;
}

// Text: printable ASCII, line ends and tabs, or bytes of UTF-8 sequences.
bool looks_like_text(const unsigned char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = bytes[i];
    if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') return false;
    if (c == 0x7F) return false;
  }
  return true;
}

}  // namespace

const char* picture_kind_name(const unsigned char* bytes, size_t n) {
  if (n == 0) return "empty";
  if (starts(bytes, n, "\xFF\xD8\xFF", 3)) return "JPEG";
  if (starts(bytes, n, "\x89PNG\r\n\x1A\n", 8)) return "PNG";
  if (starts(bytes, n, "GIF87a", 6) || starts(bytes, n, "GIF89a", 6)) return "GIF";
  if (starts(bytes, n, "BM", 2)) return "BMP";
  if (starts(bytes, n, "II*\0", 4) || starts(bytes, n, "MM\0*", 4)) return "TIFF";
  if (starts(bytes, n, "RIFF", 4) && starts(bytes, n, "WEBP", 4, 8)) return "WebP";
  if (starts(bytes, n, "ftyp", 4, 4)) {
    if (starts(bytes, n, "avif", 4, 8) || starts(bytes, n, "avis", 4, 8)) return "AVIF";
    if (starts(bytes, n, "hei", 3, 8) || starts(bytes, n, "hev", 3, 8) ||
        starts(bytes, n, "mif1", 4, 8) || starts(bytes, n, "msf1", 4, 8))
      return "HEIC";
    return "MP4 or QuickTime";
  }
  if (starts(bytes, n, "\0\0\0\x0CjP  \r\n\x87\n", 12) || starts(bytes, n, "\xFF\x4F\xFF\x51", 4))
    return "JPEG 2000";
  if (starts(bytes, n, "\xFF\x0A", 2) || starts(bytes, n, "\0\0\0\x0CJXL \r\n\x87\n", 12))
    return "JPEG XL";
  if (starts(bytes, n, "%PDF", 4)) return "PDF";
  if (starts(bytes, n, "%!", 2)) return "PostScript";
  if (starts(bytes, n, "\0\0\1\0", 4)) return "Windows icon";
  if (starts(bytes, n, "8BPS", 4)) return "Photoshop";
  if (starts(bytes, n, "P1", 2) || starts(bytes, n, "P4", 2) || starts(bytes, n, "P5", 2) ||
      starts(bytes, n, "P6", 2))
    return "Netpbm";
  if (starts(bytes, n, "GIF8", 4)) return "GIF of an unknown version";
  if (starts(bytes, n, "\x1F\x8B", 2)) return "gzip";
  if (starts(bytes, n, "PK\3\4", 4)) return "zip";
  if (looks_like_text(bytes, n)) {
    for (size_t i = 0; i < n; ++i)
      if (bytes[i] == '<' && (starts(bytes, n, "<svg", 4, i) || starts(bytes, n, "<?xml", 5, i)))
        return "SVG or XML text";
    return "text";
  }
  return "unknown";
}

bool read_file_bytes(std::FILE* file, unsigned char* to, size_t n) {
  if (n > 16) return std::fread(to, 1, n, file) == n;
  for (size_t i = 0; i < n; ++i) {  // without the stream lock of each fread
    int c = getc_unlocked(file);
    if (c == EOF) return false;
    to[i] = static_cast<unsigned char>(c);
  }
  return true;
}

bool skip_file_bytes(std::FILE* file, uint64_t n) {
  if (n > 65536) return fseeko(file, static_cast<off_t>(n), SEEK_CUR) == 0;
  if (n <= 16) {
    for (; n > 0; --n)
      if (getc_unlocked(file) == EOF) return false;
    return true;
  }
  unsigned char sink[65536];
  return std::fread(sink, 1, static_cast<size_t>(n), file) == n;
}

void image_damaged(int code, const char* what) {
  if (run.image_file) check_external_read(run.image_file);  // not damage: a read error
  report_problem(std::string(run.image_path) + ": damaged " + run.image_kind + " file: " + what);
  fatal_error_at(code, msg_image_damaged, run.places.word);
}

void check_decoded_pixels(uint64_t width, uint64_t height) {
  const uint64_t most = run.host.max_decoded_pixels;
  if (width * height <= most) return;
  std::string what = std::to_string(width) + " x " + std::to_string(height) + " pixels, over the " +
                     std::to_string(most) + " a picture may have to be decoded";
  image_damaged(81, what.c_str());
}

void check_decoded_memory(uint64_t bytes) {
  const uint64_t most = run.host.max_decoded_bytes;
  if (bytes <= most) return;
  std::string what = "over " + std::to_string(most >> 20) + " MB of pixels to decode, too large";
  image_damaged(81, what.c_str());
}

void begin_picture_object(int32_t picture, int32_t width, int32_t height, int bits) {
  begin_image_object(picture);
  emit_text(" /Width ");
  emit_int(width);
  emit_text(" /Height ");
  emit_int(height);
  emit_text("\n/BitsPerComponent ");
  emit_int(bits);
  emit_text(" /ColorSpace ");
}

void emit_palette(const unsigned char* rgb, int entries) {
  static const char hex[] = "0123456789ABCDEF";
  emit_text("[/Indexed /DeviceRGB ");
  emit_int(entries - 1);
  emit_text(" <");
  for (int i = 0; i < 3 * entries; ++i) {
    char pair[3] = {hex[rgb[i] >> 4], hex[rgb[i] & 15], 0};
    emit_text(pair);
  }
  emit_text(">]");
}

void emit_colour_key(const int* low_high, int components) {
  emit_text(" /Mask [");
  for (int i = 0; i < 2 * components; ++i) {
    if (i > 0) emit_text(" ");
    emit_int(low_high[i]);
  }
  emit_text("]");
  run.transparency_used = true;
}

void begin_picture_stream(const char* filter) {
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(" 0 R ");
  emit_text(filter);
  emit_text(" >>\nstream\n");
}

void write_soft_mask(int32_t width, int32_t height, const std::vector<unsigned char>& compressed) {
  begin_object("<< /Type /XObject /Subtype /Image /Width ");
  emit_int(width);
  emit_text(" /Height ");
  emit_int(height);
  emit_text("\n/BitsPerComponent 8 /ColorSpace /DeviceGray");
  begin_picture_stream("/Filter /FlateDecode");
  // Written on its own, the bytes before it first, as a stream compressed
  // where it is written goes: the channel's writes keep their places, and a
  // write that fails names the same line.
  output_flush();
  emit_raw_bytes(compressed.data(), compressed.size());
  output_flush();
  end_stream_object(static_cast<int64_t>(compressed.size()));
  run.transparency_used = true;
}

namespace {

// A file that cannot seek (a pipe) read through into a temporary file, since
// the picture is read more than once; the pipe is closed.
std::FILE* seekable_copy(std::FILE* pipe) {
  std::FILE* copy = std::tmpfile();
  if (!copy) {
    std::fclose(pipe);
    report_file_problem("a temporary file for a picture from a pipe", errno);
    fatal_error(79, msg_cant_open_external);
  }
  unsigned char buffer[16384];
  size_t got;
  bool written = true;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    written = written && std::fwrite(buffer, 1, got, copy) == got;
  int read_error = std::ferror(pipe) ? errno : 0;
  std::fclose(pipe);
  if (read_error || !written || std::fflush(copy) != 0 || std::fseek(copy, 0, SEEK_SET) != 0) {
    std::fclose(copy);
    report_file_problem(run.external_name, read_error ? read_error : errno);
    fatal_error(74, msg_cant_read_external);
  }
  return copy;
}

}  // namespace

void image_embed(int32_t picture, const char* path) {
  FileCloser file{open_external_file(path, 79)};
  if (std::fseek(file.file, 0, SEEK_CUR) != 0) file.file = seekable_copy(file.file);
  run.image_file = file.file;
  unsigned char first[16];
  size_t n = std::fread(first, 1, sizeof first, file.file);
  check_external_read(file.file);
  run.image_path = path;
  run.image_kind = picture_kind_name(first, n);
  if (std::fseek(file.file, 0, SEEK_SET) != 0)
    fatal_error_at(79, msg_cant_open_external, run.places.word);
  if (std::strcmp(run.image_kind, "JPEG") == 0) {
    image_jpeg(file.file, picture);
  } else if (std::strcmp(run.image_kind, "PNG") == 0) {
    image_png(file.file, picture);
  } else if (std::strcmp(run.image_kind, "GIF") == 0) {
    image_gif(file.file, picture);
  } else {
    std::string kind = n == 0 ? "an empty file"
                       : std::strcmp(run.image_kind, "unknown") == 0
                           ? "an unknown kind of file"
                           : std::string("a ") + run.image_kind + " file (by its first bytes)";
    report_problem(std::string(path) + ": " + kind + "; image takes JPEG, PNG and GIF");
    fatal_error_at(80, msg_image_kind, run.places.word);
  }
  run.image_file = nullptr;
}

void command_image() {
  char path[word_buffer_size];
  int32_t picture = read_registration(77, 78, path);
  image_embed(picture, path);
}
