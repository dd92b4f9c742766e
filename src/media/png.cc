// PNG pictures for `image`.
//
// Where PDF's Flate filter with the PNG predictors can take the file's data
// as it is (not interlaced, 8 bits or fewer, no alpha channel), the
// concatenated IDAT data is copied unchanged: grey, RGB, or a palette as an
// /Indexed colour space, with tRNS as a colour-key /Mask. No pixel is
// decoded, and memory is the chunk header and the palette. The copy is
// checked on the way: the CRCs of IHDR, PLTE, tRNS and every IDAT, the zlib
// header of the data, that the data inflates into all the rows, and IDAT
// chunks split by another chunk (whose data the copy would lose). A palette shorter than its indices can reach is read
// through once for the highest index used: where the data uses indices
// beyond it, the palette is lengthened with greys, index i as grey i, as
// the decoding path shows them (and as Pillow does).
//
// Every other PNG is decoded with libpng: 16-bit samples become 8, the rows
// of an interlaced picture come out in order, palettes become RGB, and an
// alpha channel (or a tRNS that a colour key cannot say) becomes a soft mask
// (/SMask, a greyscale picture of the alpha). The colour rows are written
// again with Flate and the Up predictor as they are decoded; the alpha plane
// is compressed into memory meanwhile and written after the colour stream.
// Gamma and colour profiles are ignored. A palette of 1, 2 or 4 bits whose
// transparent entries do not start at 0 is decoded too: MuPDF ignores such
// a colour key.
#include <png.h>
#include <sys/types.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
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
  int transparency_length;    // -1: no tRNS chunk
  bool transparency_damaged;  // its CRC is wrong
  uint32_t data_length;       // of the first IDAT chunk
  off_t data_start;           // where its data begins in the file
};

// Whether a chunk's CRC, the 4 bytes read next, matches its type and data;
// a file that ends first stops with 81 and `ends`.
bool crc_matches(std::FILE* file, const unsigned char* type, const unsigned char* data,
                 uint32_t length, const char* ends = "the file ends in a chunk") {
  unsigned char stored[4];
  if (!read_file_bytes(file, stored, 4)) image_damaged(81, ends);
  uLong crc = crc32(crc32(0, type, 4), data, length);
  return be32(stored) == crc;
}

// The two bytes a zlib stream starts with: deflate, a window of at most
// 32 KB, no preset dictionary, and the check bits.
bool zlib_header_ok(const unsigned char* two) {
  return (two[0] & 0x0F) == 8 && two[0] >> 4 <= 7 && (two[1] & 0x20) == 0 &&
         (two[0] << 8 | two[1]) % 31 == 0;
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
  if (!read_file_bytes(file, bytes, sizeof bytes) || std::memcmp(bytes + 12, "IHDR", 4) != 0 ||
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
  if (!crc_matches(file, bytes + 12, ihdr, 13, "the file ends in the header"))
    image_damaged(81, "a header (IHDR) whose CRC is wrong");
  for (;;) {
    unsigned char chunk[8];
    if (!read_file_bytes(file, chunk, 8)) image_damaged(81, "no picture data (IDAT)");
    uint32_t length = be32(chunk);
    if (length > 0x7FFFFFFF) image_damaged(81, "a chunk longer than 2^31 - 1 bytes");
    if (std::memcmp(chunk + 4, "IDAT", 4) == 0) {
      head.data_length = length;
      head.data_start = ftello(file);
      break;
    }
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) image_damaged(81, "no picture data (IDAT)");
    bool palette = std::memcmp(chunk + 4, "PLTE", 4) == 0;
    bool transparency = std::memcmp(chunk + 4, "tRNS", 4) == 0;
    if (palette && length <= 768 && length % 3 == 0 && length > 0) {
      if (!read_file_bytes(file, head.palette, length)) image_damaged(81, "the file ends in a chunk");
      head.palette_entries = static_cast<int>(length / 3);
      if (!crc_matches(file, chunk + 4, head.palette, length))
        image_damaged(81, "a palette (PLTE) whose CRC is wrong");
    } else if (transparency && length <= 256) {
      if (!read_file_bytes(file, head.transparency, length))
        image_damaged(81, "the file ends in a chunk");
      head.transparency_length = static_cast<int>(length);
      head.transparency_damaged = !crc_matches(file, chunk + 4, head.transparency, length);
    } else if (palette) {
      image_damaged(81, "a palette (PLTE) of no possible length");
    } else if (!skip_file_bytes(file, uint64_t{length} + 4)) {
      image_damaged(81, "the file ends in a chunk");
    }
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

// What the copy learns of the picture data on its way: the CRC of the chunk
// being copied, the first two bytes of all of it, and whether it inflates
// into as many bytes as the rows need (a viewer could draw no less). The
// inflating stops at that count or at the memory a decoded picture may take,
// whichever is less, so that a small file of a huge picture costs no more
// than decoding one; past that, the data is copied unchecked.
struct DataCheck {
  uLong crc;
  unsigned char start[2];
  int start_length;
  z_stream inflater;
  bool inflating;      // inflateInit succeeded
  bool damaged;        // the compressed data is not deflate data
  uint64_t needed;     // the bytes of the filtered rows
  uint64_t inflated;   // counted up to `needed`
  ~DataCheck() {
    if (inflating) inflateEnd(&inflater);
  }
};

// Inflates one piece of the copied data into scratch memory, counting it.
void inflate_piece(DataCheck& check, unsigned char* piece, size_t size) {
  if (!check.inflating || check.damaged || check.inflated >= check.needed) return;
  unsigned char scratch[16384];
  check.inflater.next_in = piece;
  check.inflater.avail_in = static_cast<uInt>(size);
  while (check.inflater.avail_in > 0 && check.inflated < check.needed) {
    check.inflater.next_out = scratch;
    check.inflater.avail_out = sizeof scratch;
    int status = inflate(&check.inflater, Z_NO_FLUSH);
    check.inflated += sizeof scratch - check.inflater.avail_out;
    if (status == Z_STREAM_END) break;
    if (status != Z_OK && status != Z_BUF_ERROR) {
      check.damaged = true;
      break;
    }
    if (status == Z_BUF_ERROR && check.inflater.avail_out != 0) break;
  }
}

// Copies `count` bytes of the file into the output.
bool copy_bytes(std::FILE* file, uint32_t count, DataCheck& check) {
  unsigned char buffer[16384];
  while (count > 0) {
    size_t part = count < sizeof buffer ? count : sizeof buffer;
    if (std::fread(buffer, 1, part, file) != part) return false;
    check.crc = crc32(check.crc, buffer, static_cast<uInt>(part));
    for (size_t i = 0; i < part && check.start_length < 2; ++i)
      check.start[check.start_length++] = buffer[i];
    inflate_piece(check, buffer, part);
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
  DataCheck check{};
  check.needed = uint64_t{head.height} *
                 (1 + (uint64_t{head.width} * static_cast<uint64_t>(components * head.depth) + 7) / 8);
  const uint64_t checked = std::min(check.needed, run.host.max_decoded_bytes);
  const bool whole = checked == check.needed;
  check.needed = checked;
  check.inflating = inflateInit(&check.inflater) == Z_OK;
  unsigned char chunk[12];  // the CRC, then the next chunk's length and type
  for (;;) {
    check.crc = crc32(0, reinterpret_cast<const unsigned char*>("IDAT"), 4);
    if (!copy_bytes(file, length, check) || !read_file_bytes(file, chunk, 12))
      image_damaged(82, "the file ends in the picture data");
    if (be32(chunk) != check.crc) image_damaged(82, "picture data (IDAT) whose CRC is wrong");
    if (std::memcmp(chunk + 8, "IDAT", 4) != 0) break;
    length = be32(chunk + 4);
    if (length > 0x7FFFFFFF) image_damaged(82, "a chunk longer than 2^31 - 1 bytes");
  }
  if (check.start_length < 2 || !zlib_header_ok(check.start))
    image_damaged(82, "picture data (IDAT) that is not zlib data");
  // The chunks after the data, as far as they can be read: picture data
  // split by another chunk would be cut short in the copy.
  while (std::memcmp(chunk + 8, "IEND", 4) != 0) {
    length = be32(chunk + 4);
    if (length > 0x7FFFFFFF || !skip_file_bytes(file, uint64_t{length} + 4) ||
        !read_file_bytes(file, chunk + 4, 8))
      break;
    if (std::memcmp(chunk + 8, "IDAT", 4) == 0)
      image_damaged(82, "picture data (IDAT) split by another chunk");
  }
  if (check.damaged) image_damaged(82, "picture data (IDAT) whose compressed data is damaged");
  if (check.inflating && whole && check.inflated < check.needed)
    image_damaged(82, "picture data (IDAT) that ends before the picture does");
  check_external_read(file);
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

// Reads the chunks before the picture data. libpng keeps none but PLTE and
// tRNS (no text, profile or unknown chunk takes memory or time), and its
// size limits are the run's. False on an error.
bool read_info(PngDecoder& d, std::FILE* file) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_init_io(d.png, file);
  const uint64_t most = run.host.max_decoded_pixels;
  const png_uint_32 side = most < 0x7FFFFFFF ? static_cast<png_uint_32>(most) : 0x7FFFFFFF;
  png_set_user_limits(d.png, side, side);
  png_set_chunk_malloc_max(d.png, 1 << 20);
  png_set_keep_unknown_chunks(d.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(d.png, d.info);
  // Indices beyond a short palette show as greys, index i as grey i.
  png_colorp palette;
  int entries = 0, reach = 1 << png_get_bit_depth(d.png, d.info);
  if (png_get_color_type(d.png, d.info) == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(d.png, d.info, &palette, &entries) && entries < reach) {
    png_color padded[256];
    std::memcpy(padded, palette, sizeof(png_color) * static_cast<size_t>(entries));
    for (int i = entries; i < reach; ++i)
      padded[i].red = padded[i].green = padded[i].blue = static_cast<png_byte>(i);
    png_set_PLTE(d.png, d.info, padded, reach);
  }
  return true;
}

// Sets the transforms, 8-bit grey or RGB with alpha where the file has any,
// and lets libpng make its row buffers. Returns the channels per pixel, 0 on
// an error.
int start_decoding(PngDecoder& d, bool* interlaced) {
  if (setjmp(png_jmpbuf(d.png))) return 0;
  png_set_expand(d.png);  // palette to RGB, 1 to 4 bits to 8, tRNS to alpha
  png_set_strip_16(d.png);
  *interlaced = png_set_interlace_handling(d.png) > 1;
  png_read_update_info(d.png, d.info);
  return png_get_channels(d.png, d.info);
}

// The channels start_decoding will give, known before libpng allocates.
int channels_after_expanding(const PngDecoder& d) {
  int type = png_get_color_type(d.png, d.info);
  bool alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(d.png, d.info, PNG_INFO_tRNS);
  return (type & PNG_COLOR_MASK_COLOR ? 3 : 1) + (alpha ? 1 : 0);
}

bool read_row(PngDecoder& d, unsigned char* row) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_read_row(d.png, row, nullptr);
  return true;
}

// An interlaced picture, whole: each of the seven passes goes over every row.
bool read_passes(PngDecoder& d, unsigned char* whole, uint64_t row_bytes, uint64_t height) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  for (int pass = 0; pass < 7; ++pass)
    for (uint64_t y = 0; y < height; ++y) png_read_row(d.png, whole + y * row_bytes, nullptr);
  return true;
}

bool start_indices(PngDecoder& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_set_packing(d.png);  // one byte an index
  png_read_update_info(d.png, d.info);
  return true;
}

// The highest palette index the picture data uses, read through by libpng
// from the file's start; damaged data stops with 81, as decoding it would.
// -1 where reading it would pass the limits of decoding.
int highest_palette_index(std::FILE* file, const PngHead& head) {
  const uint64_t width = head.width, height = head.height;
  if (width * height > run.host.max_decoded_pixels ||
      width + 2 * (8 * width + 128) > run.host.max_decoded_bytes)
    return -1;
  if (std::fseek(file, 0, SEEK_SET) != 0) image_damaged(81, "cannot be read again");
  PngDecoder d;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (d.png) d.info = png_create_info_struct(d.png);
  if (!d.info) image_damaged(81, "no memory to decode it");
  if (!read_info(d, file) || !start_indices(d)) image_damaged(81, run.picture_problem);
  std::unique_ptr<unsigned char[]> row(new unsigned char[width]);
  int highest = 0;
  for (uint64_t y = 0; y < height; ++y) {
    if (!read_row(d, row.get())) image_damaged(81, run.picture_problem);
    for (uint64_t x = 0; x < width; ++x) highest = row[x] > highest ? row[x] : highest;
  }
  return highest;
}

void decode_png(std::FILE* file, int32_t picture, const PngHead& head) {
  // Sizes in 64 bits, whatever size_t is, and checked before anything is
  // allocated: the pixels by the header, the memory once libpng has read the
  // chunks that say how many channels decoding gives.
  const uint64_t width = head.width, height = head.height;
  check_decoded_pixels(width, height);
  PngDecoder d;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (d.png) d.info = png_create_info_struct(d.png);
  if (!d.info) image_damaged(81, "no memory to decode it");
  if (!read_info(d, file)) image_damaged(81, run.picture_problem);
  const int expected_channels = channels_after_expanding(d);
  const uint64_t row_bytes = width * static_cast<uint64_t>(expected_channels);
  const bool will_interlace = png_get_interlace_type(d.png, d.info) != PNG_INTERLACE_NONE;
  const bool alpha = expected_channels == 2 || expected_channels == 4;
  // The whole picture or one row, the two rows of the Up predictor, the
  // alpha plane (compressed, about its size at most), and libpng's two rows
  // of at most 8 bytes a pixel.
  check_decoded_memory((will_interlace ? row_bytes * height : row_bytes) + 2 * row_bytes +
                       (alpha ? width * height : 0) + 2 * (8 * width + 128));

  bool interlaced = false;
  int channels = start_decoding(d, &interlaced);
  if (channels == 0) image_damaged(81, run.picture_problem);
  if (channels != expected_channels || interlaced != will_interlace)
    image_damaged(81, "a header libpng reads otherwise");
  const int colour = alpha ? channels - 1 : channels;

  std::unique_ptr<unsigned char[]> whole, row;
  if (interlaced) {  // the passes fill the whole picture before any row is done
    whole.reset(new unsigned char[row_bytes * height]);
    if (!read_passes(d, whole.get(), row_bytes, height)) image_damaged(81, run.picture_problem);
  } else {
    row.reset(new unsigned char[row_bytes]);
  }

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
  // less the one above it. The alpha rows go to a stream of their own,
  // compressed into memory as they come while the colour stream's
  // compressor works beside this thread; it is written after the colour
  // stream's length object.
  const size_t colour_bytes = static_cast<size_t>(width) * static_cast<size_t>(colour);
  std::vector<unsigned char> above(colour_bytes, 0), out(colour_bytes + 1),
      alpha_row(alpha ? static_cast<size_t>(width) : 0);
  out[0] = 2;
  flate_begin(flate_level);
  if (alpha) flate_apart_begin(flate_level, width * height);
  for (uint64_t y = 0; y < height; ++y) {
    const unsigned char* pixels = interlaced ? whole.get() + y * row_bytes : row.get();
    if (!interlaced && !read_row(d, row.get())) image_damaged(82, run.picture_problem);
    if (alpha) {
      for (size_t x = 0, i = 0; x < width; ++x) {
        for (int c = 0; c < colour; ++c, ++i) {
          unsigned char value = *pixels++;
          out[i + 1] = static_cast<unsigned char>(value - above[i]);
          above[i] = value;
        }
        alpha_row[x] = *pixels++;
      }
      flate_apart_put(alpha_row.data(), alpha_row.size());
    } else {
      for (size_t i = 0; i < colour_bytes; ++i) {
        out[i + 1] = static_cast<unsigned char>(pixels[i] - above[i]);
        above[i] = pixels[i];
      }
    }
    emit_raw_bytes(out.data(), out.size());
  }
  flate_finish();
  std::vector<unsigned char> mask = alpha ? flate_apart_end() : std::vector<unsigned char>();
  end_stream_object(flate_end());
  if (alpha) write_soft_mask(static_cast<int32_t>(width), static_cast<int32_t>(height), mask);
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
  if (head.colour_type == colour_palette && head.depth < 8 && key_components > 0 && key[0] != 0)
    copyable = false;  // MuPDF would draw those entries opaque
  if (!copyable) {
    if (std::fseek(file, 0, SEEK_SET) != 0) image_damaged(81, "cannot be read again");
    return decode_png(file, picture, head);
  }
  if (head.transparency_damaged) image_damaged(81, "a transparency chunk (tRNS) whose CRC is wrong");
  if (head.data_length >= 2) {  // the zlib header, before anything is written
    unsigned char two[2];
    if (!read_file_bytes(file, two, 2) || !zlib_header_ok(two))
      image_damaged(81, "picture data (IDAT) that is not zlib data");
  }
  if (head.colour_type == colour_palette && head.palette_entries < 1 << head.depth) {
    const int highest = highest_palette_index(file, head);
    for (int& i = head.palette_entries; i <= highest; ++i)
      head.palette[3 * i] = head.palette[3 * i + 1] = head.palette[3 * i + 2] =
          static_cast<unsigned char>(i);
  }
  if (fseeko(file, head.data_start, SEEK_SET) != 0) image_damaged(81, "cannot be read again");
  copy_png(file, picture, head, key, key_components);
}
