// The warnings for a file given to `jpg` or `jpg+`: another kind of picture, or a JPEG
// with arithmetic coding, which several viewers cannot show. Only regular
// files are looked at, so that nothing is taken from a pipe.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "diagnostics.h"
#include "media.h"
#include "pdf.h"

namespace {

// The marker of the first frame header, 0 if none comes before the scan or
// the end of the file.
int first_frame_marker(std::FILE* file) {
  for (;;) {
    int c = getc_unlocked(file);
    if (c == EOF) return 0;
    if (c != 0xFF) continue;
    int marker = getc_unlocked(file);
    while (marker == 0xFF) marker = getc_unlocked(file);
    if (marker == EOF || marker == 0xDA || marker == 0xD9) return 0;     // scan, end of image
    if (marker <= 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      return marker;
    int high = getc_unlocked(file), low = getc_unlocked(file);
    if (low == EOF) return 0;
    int length = high << 8 | low;  // under 2: nothing to skip, as a reader takes it
    if (length > 2 && !skip_file_bytes(file, static_cast<uint64_t>(length - 2))) return 0;
  }
}

}  // namespace

void report_arithmetic_jpeg(const char* path, int64_t line, int marker) {
  if ((marker >= 0xC9 && marker <= 0xCB) || marker >= 0xCD)
    warn(warn_arithmetic_jpeg, line,
         std::string(path) +
             " is an arithmetic-coded JPEG, which several viewers cannot show; "
             "save it with Huffman coding");
}

bool check_jpeg_file(const char* path, int64_t line, bool scan) {
  if (!run.options.warnings) return false;
  struct stat info;
  std::string opened = external_path(path);
  if (stat(opened.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FileCloser file{std::fopen(opened.c_str(), "rb")};
  if (!file.file) return false;  // the command says why
  std::setvbuf(file.file, nullptr, _IOFBF, io_buffer_size);
  unsigned char head[16];
  size_t got = std::fread(head, 1, sizeof head, file.file);
  if (got == 0 && std::ferror(file.file)) return false;  // the command reports the read error
  const char* kind = picture_kind_name(head, got);
  if (!std::strcmp(kind, "unknown") || !std::strcmp(kind, "empty") || !std::strcmp(kind, "text"))
    kind = nullptr;  // said below by its first bytes
  if (!kind || std::strcmp(kind, "JPEG") != 0) {
    std::string text = std::string(path) + " is ";
    if (got == 0) {
      text += "an empty file";
    } else if (kind) {
      text += std::string("a ") + kind + " file";
    } else {
      text += "not a JPEG (its first bytes are";
      for (size_t i = 0; i < got && i < 4; ++i) {
        const char* digits = "0123456789ABCDEF";
        text += ' ';
        text += digits[head[i] >> 4];
        text += digits[head[i] & 15];
      }
      text += ")";
    }
    if (kind) text += ", not a JPEG";
    text += "; viewers will not show it";
    if (kind && (!std::strcmp(kind, "GIF") || !std::strcmp(kind, "PNG")))
      text += " (<image> reads JPEG, PNG and GIF files)";
    warn(warn_media_kind, line, text);
    return false;
  }
  if (!scan) return true;
  std::fseek(file.file, 2, SEEK_SET);
  report_arithmetic_jpeg(path, line, first_frame_marker(file.file));
  return false;
}
