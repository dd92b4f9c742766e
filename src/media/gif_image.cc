// GIF pictures for `image`: the first image of a GIF87a or GIF89a file.
//
// Extension blocks before the image are skipped; the graphic control
// extension's transparent colour becomes a colour-key /Mask. The image's
// local colour table is used where it has one, else the global table, else
// a ramp of greys. The picture is the logical screen (grown to hold the
// image if it lies outside), as viewers show the first frame: where the
// image does not cover it, the transparent colour, else colour 0.
//
// Where the re-packer of `gif` can take the code stream (minimum code size
// 8, not interlaced, the image covering the screen, and a trial run over the
// codes finds nothing it would refuse), the codes are re-packed without
// decoding. Otherwise the image is decoded and its indices written again
// with Flate: interlaced rows in order, any minimum code size, late clears,
// data without an end code or going on past it. Data that ends before the
// image does is refused, as most decoders refuse it.
#include <algorithm>
#include <vector>

#include "diagnostics.h"
#include "media.h"
#include "pdf.h"

namespace {

int le16(const unsigned char* p) { return p[0] | p[1] << 8; }

// Skips sub-blocks up to and including the terminator; false at the end
// of the file.
bool skip_sub_blocks(std::FILE* file) {
  for (;;) {
    int size = getc_unlocked(file);
    if (size == EOF) return false;
    if (size == 0) return true;
    if (!skip_file_bytes(file, static_cast<uint64_t>(size))) return false;
  }
}

// A colour table of 2 << (bits & 7) entries into `rgb`; its entry count.
int read_table(std::FILE* file, int bits, unsigned char* rgb) {
  int entries = 2 << (bits & 7);
  if (!read_file_bytes(file, rgb, 3 * static_cast<size_t>(entries)))
    image_damaged(81, "the file ends in a colour table");
  return entries;
}

// Row y of an interlaced image: rows 0, 8, 16 ... first, then 4, 12 ...,
// then 2, 6 ..., then the odd rows.
uint64_t interlaced_row(uint64_t y, uint64_t height) {
  static const uint64_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    uint64_t rows = start[pass] < height ? (height - start[pass] + step[pass] - 1) / step[pass] : 0;
    if (y < rows) return start[pass] + y * step[pass];
    y -= rows;
  }
  return 0;
}

}  // namespace

void image_gif(std::FILE* file, int32_t picture) {
  unsigned char head[13];
  if (!read_file_bytes(file, head, sizeof head)) image_damaged(81, "the file ends in its header");
  uint64_t canvas_width = static_cast<uint64_t>(le16(head + 6));
  uint64_t canvas_height = static_cast<uint64_t>(le16(head + 8));
  static unsigned char global[768], local[768], palette[768];
  int global_entries = head[10] & 0x80 ? read_table(file, head[10], global) : 0;

  int transparent = -1;
  for (;;) {
    int c = getc_unlocked(file);
    if (c == EOF || c == ';') image_damaged(81, "no image in the file");
    if (c == ',') break;
    if (c != '!') continue;  // a stray byte between blocks, as viewers skip it
    int label = getc_unlocked(file), size = getc_unlocked(file);
    unsigned char data[255];
    if (label == EOF || size == EOF || !read_file_bytes(file, data, static_cast<size_t>(size)) ||
        (size > 0 && !skip_sub_blocks(file)))
      image_damaged(81, "the file ends in an extension");
    if (label == 0xF9 && size >= 4) transparent = data[0] & 1 ? data[3] : -1;  // graphic control
  }

  unsigned char descriptor[9];
  if (!read_file_bytes(file, descriptor, sizeof descriptor))
    image_damaged(81, "the file ends in the image descriptor");
  // Sizes in 64 bits: a placed image may reach past 65535.
  const uint64_t left = static_cast<uint64_t>(le16(descriptor)),
                 top = static_cast<uint64_t>(le16(descriptor + 2));
  const uint64_t width = static_cast<uint64_t>(le16(descriptor + 4)),
                 height = static_cast<uint64_t>(le16(descriptor + 6));
  const bool interlaced = descriptor[8] & 0x40;
  int entries = descriptor[8] & 0x80 ? read_table(file, descriptor[8], local) : 0;
  const unsigned char* table = entries > 0 ? local : global;
  if (entries == 0) entries = global_entries;
  int min_code_size = getc_unlocked(file);
  if (min_code_size < 1 || min_code_size > 11)
    image_damaged(81, "an LZW minimum code size outside 1 to 11");
  if (width == 0 || height == 0) image_damaged(81, "an image of width or height 0");
  if (left + width > canvas_width) canvas_width = left + width;
  if (top + height > canvas_height) canvas_height = top + height;

  // The palette: the table, padded with black to every index the codes can
  // give (up to 256); without a table, greys.
  int indices = min_code_size >= 8 ? 256 : 1 << min_code_size;
  int palette_entries = entries > indices ? entries : indices;
  for (int i = 0; i < palette_entries; ++i)
    for (int c = 0; c < 3; ++c)
      palette[3 * i + c] = i < entries ? table[3 * i + c] : entries == 0 ? i : 0;
  int key[2] = {transparent, transparent};

  off_t data_start = ftello(file);
  bool repack = min_code_size == 8 && !interlaced && left == 0 && top == 0 &&
                width == canvas_width && height == canvas_height && data_start >= 0 &&
                gif_codes_repackable(file, width * height) && fseeko(file, data_start, SEEK_SET) == 0;
  if (repack) {
    begin_picture_object(picture, static_cast<int32_t>(width), static_cast<int32_t>(height), 8);
    emit_palette(palette, palette_entries);
    if (transparent >= 0) emit_colour_key(key, 1);
    begin_picture_stream("/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>");
    end_stream_object(gif_repack_codes(file, 82, msg_image_damaged));
  } else {
    if (data_start < 0 || fseeko(file, data_start, SEEK_SET) != 0)
      image_damaged(81, "cannot be read again");
    bool placed = interlaced || width != canvas_width || height != canvas_height;
    check_decoded_pixels(canvas_width, canvas_height);  // the image lies within it
    check_decoded_memory(width * height + (placed ? canvas_width * canvas_height : 0));
    const unsigned char fill = static_cast<unsigned char>(transparent >= 0 ? transparent : 0);
    std::vector<unsigned char> frame(width * height);
    size_t decoded = gif_lzw_decode(file, min_code_size, frame.data(), frame.size());
    if (decoded == 0) image_damaged(81, "no pixels in the image data");
    if (decoded < frame.size()) image_damaged(81, "the image data ends before the image does");
    std::vector<unsigned char> canvas;
    const unsigned char* pixels = frame.data();
    if (placed) {
      canvas.assign(canvas_width * canvas_height, fill);
      for (uint64_t y = 0; y < height; ++y) {
        uint64_t row = interlaced ? interlaced_row(y, height) : y;
        std::copy(frame.data() + y * width, frame.data() + (y + 1) * width,
                  canvas.data() + (top + row) * canvas_width + left);
      }
      pixels = canvas.data();
    }
    begin_picture_object(picture, static_cast<int32_t>(canvas_width),
                         static_cast<int32_t>(canvas_height), 8);
    emit_palette(palette, palette_entries);
    if (transparent >= 0) emit_colour_key(key, 1);
    begin_picture_stream("/Filter /FlateDecode");
    flate_begin(flate_level);
    emit_raw_bytes(pixels, canvas_width * canvas_height);
    end_stream_object(flate_end());
  }
  run.image_width[picture] = static_cast<int32_t>(canvas_width);
  run.image_height[picture] = static_cast<int32_t>(canvas_height);
}
