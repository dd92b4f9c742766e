// PNG pictures for `image`.
//
// Where PDF's Flate filter with the PNG predictors can take the file's data
// as it is (not interlaced, 8 bits or fewer, no alpha channel), the
// concatenated IDAT data is copied unchanged: grey, RGB, or a palette as an
// /Indexed colour space, with tRNS as a colour-key /Mask. No pixel is
// decoded, and memory is the chunk header and the palette.
//
// Every other PNG is decoded with libpng: 16-bit samples become 8, the rows
// of an interlaced picture come out in order, palettes become RGB, and an
// alpha channel (or a tRNS that a colour key cannot say) becomes a soft mask
// (/SMask, a greyscale picture of the alpha). The colour rows are written
// again with Flate and the Up predictor as they are decoded; the alpha plane
// is kept until the colour stream is done. Gamma and colour profiles are
// ignored.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "diagnostics.h"
#include "media.h"
#include "pdf.h"

namespace {

uint32_t be32(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t be16(const unsigned char* p) { return uint32_t{p[0]} << 8 | p[1]; }

constexpr int colour_grey = 0, colour_rgb = 2, colour_palette = 3, colour_grey_alpha = 4,
              colour_rgba = 6;

// What the chunks before the first IDAT say.
struct PngHead {
  uint32_t width, height;
  int depth, colour_type, interlace;
  unsigned char palette[768];
  int palette_entries;
  unsigned char transparency[256];
  int transparency_length;  // -1: no tRNS chunk
  uint32_t data_length;     // of the first IDAT chunk
};

bool read_bytes(std::FILE* file, unsigned char* to, size_t n) {
  return std::fread(to, 1, n, file) == n;
}

bool skip_bytes(std::FILE* file, uint32_t n) {
  if (n > 0 && std::fseek(file, static_cast<long>(n), SEEK_CUR) != 0) return false;
  return true;
}

bool valid_depth(int colour_type, int depth) {
  switch (colour_type) {
    case colour_grey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case colour_palette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case colour_rgb:
    case colour_grey_alpha:
    case colour_rgba: return depth == 8 || depth == 16;
    default: return false;
  }
}

// Reads the signature and the chunks up to the first IDAT, whose length is
// read too; a damaged head stops with 81 before anything is written.
PngHead read_head(std::FILE* file) {
  PngHead head{};
  head.transparency_length = -1;
  unsigned char bytes[8 + 8 + 13];
  if (!read_bytes(file, bytes, sizeof bytes) || std::memcmp(bytes + 12, "IHDR", 4) != 0 ||
      be32(bytes + 8) != 13)
    image_damaged(81, "no header chunk (IHDR) first");
  const unsigned char* ihdr = bytes + 16;
  head.width = be32(ihdr);
  head.height = be32(ihdr + 4);
  head.depth = ihdr[8];
  head.colour_type = ihdr[9];
  head.interlace = ihdr[12];
  if (head.width == 0 || head.height == 0 || head.width > 0x7FFFFFFF || head.height > 0x7FFFFFFF)
    image_damaged(81, "a width or height of 0 or over 2^31 - 1");
  if (!valid_depth(head.colour_type, head.depth) || ihdr[10] != 0 || ihdr[11] != 0 ||
      head.interlace > 1)
    image_damaged(81, "a header (IHDR) of no known kind");
  if (!skip_bytes(file, 4)) image_damaged(81, "the file ends in the header");
  for (;;) {
    unsigned char chunk[8];
    if (!read_bytes(file, chunk, 8)) image_damaged(81, "no picture data (IDAT)");
    uint32_t length = be32(chunk);
    if (length > 0x7FFFFFFF) image_damaged(81, "a chunk longer than 2^31 - 1 bytes");
    if (std::memcmp(chunk + 4, "IDAT", 4) == 0) {
      head.data_length = length;
      break;
    }
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) image_damaged(81, "no picture data (IDAT)");
    bool palette = std::memcmp(chunk + 4, "PLTE", 4) == 0;
    bool transparency = std::memcmp(chunk + 4, "tRNS", 4) == 0;
    if (palette && length <= 768 && length % 3 == 0 && length > 0) {
      if (!read_bytes(file, head.palette, length)) image_damaged(81, "the file ends in a chunk");
      head.palette_entries = static_cast<int>(length / 3);
      length = 0;
    } else if (transparency && length <= 256) {
      if (!read_bytes(file, head.transparency, length))
        image_damaged(81, "the file ends in a chunk");
      head.transparency_length = static_cast<int>(length);
      length = 0;
    } else if (palette) {
      image_damaged(81, "a palette (PLTE) of no possible length");
    }
    if (!skip_bytes(file, length + 4)) image_damaged(81, "the file ends in a chunk");
  }
  if (head.colour_type == colour_palette && head.palette_entries == 0)
    image_damaged(81, "a palette picture without a palette (PLTE)");
  return head;
}

// The colour key that says the file's tRNS for data copied unchanged: fills
// `key` and returns the number of components, 0 when there is nothing to
// mask, -1 when a colour key cannot say it (several partly transparent
// palette entries).
int colour_key(const PngHead& head, int key[6]) {
  if (head.transparency_length < 0) return 0;
  const int top = (1 << head.depth) - 1;
  if (head.colour_type == colour_grey) {
    if (head.transparency_length != 2) return 0;
    int grey = static_cast<int>(be16(head.transparency));
    if (grey > top) return 0;
    key[0] = key[1] = grey;
    return 1;
  }
  if (head.colour_type == colour_rgb) {
    if (head.transparency_length != 6) return 0;
    for (int i = 0; i < 3; ++i) {
      int value = static_cast<int>(be16(head.transparency + 2 * i));
      if (value > top) return 0;
      key[2 * i] = key[2 * i + 1] = value;
    }
    return 3;
  }
  // A palette: the entries that are not opaque must be wholly transparent
  // and one run of indices.
  int low = -1, high = -1;
  int entries = head.transparency_length < head.palette_entries ? head.transparency_length
                                                                : head.palette_entries;
  for (int i = 0; i < entries; ++i) {
    int alpha = head.transparency[i];
    if (alpha == 255) continue;
    if (alpha != 0 || (high >= 0 && high != i - 1)) return -1;
    if (low < 0) low = i;
    high = i;
  }
  if (low < 0) return 0;
  key[0] = low;
  key[1] = high;
  return 1;
}

// Copies `count` bytes of the file into the output.
bool copy_bytes(std::FILE* file, uint32_t count) {
  unsigned char buffer[16384];
  while (count > 0) {
    size_t part = count < sizeof buffer ? count : sizeof buffer;
    if (std::fread(buffer, 1, part, file) != part) return false;
    emit_raw_bytes(buffer, part);
    count -= static_cast<uint32_t>(part);
  }
  return true;
}

void copy_png(std::FILE* file, int32_t picture, const PngHead& head, const int* key,
              int key_components) {
  static const int colours[] = {1, 0, 3, 1};
  int components = colours[head.colour_type];
  begin_picture_object(picture, static_cast<int32_t>(head.width), static_cast<int32_t>(head.height),
                       head.depth);
  if (head.colour_type == colour_palette)
    emit_palette(head.palette, head.palette_entries);
  else
    emit_text(components == 1 ? "/DeviceGray" : "/DeviceRGB");
  if (key_components > 0) emit_colour_key(key, key_components);
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(" 0 R /Filter /FlateDecode\n/DecodeParms << /Predictor 15 /Colors ");
  emit_int(components);
  emit_text(" /BitsPerComponent ");
  emit_int(head.depth);
  emit_text(" /Columns ");
  emit_int(head.width);
  emit_text(" >> >>\nstream\n");
  int64_t start = run.bytes_written;
  uint32_t length = head.data_length;
  for (;;) {
    if (!copy_bytes(file, length)) image_damaged(82, "the file ends in the picture data");
    unsigned char chunk[12];  // the CRC, then the next chunk's length and type
    if (!read_bytes(file, chunk, 12)) image_damaged(82, "the file ends in the picture data");
    if (std::memcmp(chunk + 8, "IDAT", 4) != 0) break;
    length = be32(chunk + 4);
    if (length > 0x7FFFFFFF) image_damaged(82, "a chunk longer than 2^31 - 1 bytes");
  }
  end_stream_object(run.bytes_written - start);
  run.image_width[picture] = static_cast<int32_t>(head.width);
  run.image_height[picture] = static_cast<int32_t>(head.height);
}

// --- Decoding with libpng ---------------------------------------------------
//
// libpng reports errors by longjmp; the few routines that call it set the
// jump target and return false, and hold nothing that needs destroying.

void on_png_error(png_structp png, png_const_charp message) {
  std::snprintf(run.picture_problem, sizeof run.picture_problem, "%s", message);
  png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

struct PngDecoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngDecoder() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

// Reads the header and sets the transforms: 8-bit grey or RGB, with alpha
// where the file has any. Returns the channels per pixel, 0 on an error.
int start_decoding(PngDecoder& d, std::FILE* file, bool* interlaced) {
  if (setjmp(png_jmpbuf(d.png))) return 0;
  png_init_io(d.png, file);
  png_set_user_limits(d.png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(d.png, d.info);
  png_set_expand(d.png);  // palette to RGB, 1 to 4 bits to 8, tRNS to alpha
  png_set_strip_16(d.png);
  *interlaced = png_set_interlace_handling(d.png) > 1;
  png_read_update_info(d.png, d.info);
  return png_get_channels(d.png, d.info);
}

bool read_row(PngDecoder& d, unsigned char* row) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_read_row(d.png, row, nullptr);
  return true;
}

bool read_whole(PngDecoder& d, png_bytepp rows) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_read_image(d.png, rows);
  return true;
}

void decode_png(std::FILE* file, int32_t picture, const PngHead& head) {
  PngDecoder d;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (d.png) d.info = png_create_info_struct(d.png);
  if (!d.info) image_damaged(81, "no memory to decode it");
  bool interlaced = false;
  int channels = start_decoding(d, file, &interlaced);
  if (channels == 0) image_damaged(81, run.picture_problem);
  const bool alpha = channels == 2 || channels == 4;
  const int colour = alpha ? channels - 1 : channels;
  const size_t width = head.width, height = head.height;
  const size_t row_bytes = width * static_cast<size_t>(channels);
  const size_t memory =
      (interlaced ? row_bytes * height : row_bytes) + 2 * row_bytes + (alpha ? width * height : 0);
  const uint64_t limit = run.host.max_decoded_bytes;
  if (width > limit || height > limit || memory > limit)
    image_damaged(81, "over 128 MB of pixels to decode, too large");

  std::vector<unsigned char> whole, row, alpha_plane;
  std::vector<png_bytep> row_pointers;
  if (interlaced) {  // the passes fill the whole picture before any row is done
    whole.resize(row_bytes * height);
    row_pointers.resize(height);
    for (size_t y = 0; y < height; ++y) row_pointers[y] = whole.data() + y * row_bytes;
    if (!read_whole(d, row_pointers.data())) image_damaged(81, run.picture_problem);
  } else {
    row.resize(row_bytes);
  }
  if (alpha) alpha_plane.resize(width * height);

  begin_picture_object(picture, static_cast<int32_t>(width), static_cast<int32_t>(height), 8);
  emit_text(colour == 1 ? "/DeviceGray" : "/DeviceRGB");
  if (alpha) {
    emit_text(" /SMask ");
    emit_int(run.next_object + 1);  // after this picture's length object
    emit_text(" 0 R");
  }
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(" 0 R /Filter /FlateDecode\n/DecodeParms << /Predictor 15 /Colors ");
  emit_int(colour);
  emit_text(" /BitsPerComponent 8 /Columns ");
  emit_int(static_cast<int64_t>(width));
  emit_text(" >> >>\nstream\n");

  // Each row as the Up predictor has it: the filter byte 2, then each byte
  // less the one above it.
  const size_t colour_bytes = width * static_cast<size_t>(colour);
  std::vector<unsigned char> above(colour_bytes, 0), out(colour_bytes + 1);
  out[0] = 2;
  flate_begin(flate_level);
  for (size_t y = 0; y < height; ++y) {
    const unsigned char* pixels = interlaced ? row_pointers[y] : row.data();
    if (!interlaced && !read_row(d, row.data())) image_damaged(82, run.picture_problem);
    unsigned char* alpha_row = alpha ? alpha_plane.data() + y * width : nullptr;
    for (size_t x = 0, i = 0; x < width; ++x) {
      for (int c = 0; c < colour; ++c, ++i) {
        unsigned char value = *pixels++;
        out[i + 1] = static_cast<unsigned char>(value - above[i]);
        above[i] = value;
      }
      if (alpha) alpha_row[x] = *pixels++;
    }
    emit_raw_bytes(out.data(), out.size());
  }
  end_stream_object(flate_end());
  if (alpha)
    write_soft_mask(static_cast<int32_t>(width), static_cast<int32_t>(height), alpha_plane.data());
  run.image_width[picture] = static_cast<int32_t>(width);
  run.image_height[picture] = static_cast<int32_t>(height);
}

}  // namespace

void image_png(std::FILE* file, int32_t picture) {
  PngHead head = read_head(file);
  int key[6];
  int key_components = colour_key(head, key);
  bool copyable = head.interlace == 0 && head.depth <= 8 && key_components >= 0 &&
                  (head.colour_type == colour_grey || head.colour_type == colour_rgb ||
                   head.colour_type == colour_palette);
  if (copyable) return copy_png(file, picture, head, key, key_components);
  if (std::fseek(file, 0, SEEK_SET) != 0) image_damaged(81, "cannot be read again");
  decode_png(file, picture, head);
}
