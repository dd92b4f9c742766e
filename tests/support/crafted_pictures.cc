#include "crafted_pictures.h"

#include <zlib.h>

namespace {

std::string be32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string le16(int value) { return {static_cast<char>(value), static_cast<char>(value >> 8)}; }

std::string zlib_bytes(const std::string& raw, int level) {
  uLongf size = compressBound(raw.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
            raw.size(), level);
  out.resize(size);
  return out;
}

// A 2 x 2 grey picture and its data, for the chunk faults.
const std::string grey_header = png_header(2, 2, 8, 0);
std::string grey_data() { return png_data({"\x10\x20", "\x30\x40"}); }

// A picture of 8-bit indices over a palette of red, green and blue.
const std::string rgb3("\xFF\0\0\0\xFF\0\0\0\xFF", 9);

// Interlaced RGB 65536 x 21846, whose row bytes times height is 2^32 + 2^17:
// 128 KB where size_t has 32 bits. 110 zero rows of the first pass.
std::string interlaced_wrap() {
  std::vector<std::string> rows(110, std::string(8192 * 3, '\0'));
  return png_file(png_header(65536, 21846, 8, 2, 1), png_chunk("IDAT", png_data(rows)));
}

std::string gif_2x2(const std::vector<int>& codes) {
  return gif_file({2, 2, std::string(256 * 3, '\x80'), "", 0, 0, 2, 2, 8, gif_codes(codes, 8)});
}

}  // namespace

std::string png_chunk(const std::string& type, const std::string& data, bool bad_crc) {
  std::string body = type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
  return be32(static_cast<uint32_t>(data.size())) + body +
         be32(static_cast<uint32_t>(crc) ^ (bad_crc ? 1 : 0));
}

std::string png_header(uint32_t width, uint32_t height, int depth, int colour_type, int interlace) {
  return be32(width) + be32(height) + static_cast<char>(depth) + static_cast<char>(colour_type) +
         std::string(2, '\0') + static_cast<char>(interlace);
}

std::string png_file(const std::string& header, const std::string& chunks) {
  return "\x89PNG\r\n\x1A\n" + png_chunk("IHDR", header) + chunks + png_chunk("IEND", "");
}

std::string png_data(const std::vector<std::string>& rows, int level) {
  std::string raw;
  for (const std::string& row : rows) raw += '\0' + row;
  return zlib_bytes(raw, level);
}

std::string packed_indices(const std::vector<int>& indices, int depth) {
  std::string row((indices.size() * depth + 7) / 8, '\0');
  for (size_t i = 0; i < indices.size(); ++i)
    row[i * depth / 8] |= static_cast<char>(indices[i] << (8 - depth - i * depth % 8));
  return row;
}

std::string gif_codes(const std::vector<int>& codes, int min_code_size) {
  const int clear = 1 << min_code_size, end = clear + 1;
  int width = min_code_size + 1, next = clear + 2, held = 0;
  bool first = true;
  uint32_t bits = 0;
  std::string out;
  for (int code : codes) {
    bits |= static_cast<uint32_t>(code) << held;
    for (held += width; held >= 8; held -= 8, bits >>= 8) out += static_cast<char>(bits);
    if (code == clear) {
      width = min_code_size + 1;
      next = clear + 2;
      first = true;
    } else if (code != end) {
      if (!first && next < 4096 && ++next == 1 << width && width < 12) ++width;
      first = false;
    }
  }
  if (held > 0) out += static_cast<char>(bits);
  return out;
}

std::vector<int> gif_literal_codes(const std::vector<int>& indices, int min_code_size) {
  std::vector<int> codes;
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % 1000 == 0) codes.push_back(1 << min_code_size);
    codes.push_back(indices[i]);
  }
  codes.push_back((1 << min_code_size) + 1);
  return codes;
}

std::string gif_file(const GifImage& image) {
  int bits = 0;
  while (2 << bits < static_cast<int>(image.table_rgb.size() / 3)) ++bits;
  std::string file = "GIF89a" + le16(image.screen_width) + le16(image.screen_height) +
                     static_cast<char>(0x80 | bits) + std::string(2, '\0') + image.table_rgb +
                     image.blocks + "," + le16(image.left) + le16(image.top) + le16(image.width) +
                     le16(image.height) + '\0' + static_cast<char>(image.min_code_size);
  for (size_t at = 0; at < image.codes.size(); at += 255) {
    std::string block = image.codes.substr(at, 255);
    file += static_cast<char>(block.size()) + block;
  }
  return file + std::string("\0;", 2);
}

std::vector<CraftedPicture> crafted_pictures(const std::string& jpeg) {
  const std::string grey = grey_data(), idat = png_chunk("IDAT", grey);
  std::string empty_chunks, app_segments, comments;
  for (int i = 0; i < 2000; ++i) {
    empty_chunks += png_chunk("prIv", "");
    app_segments += std::string("\xFF\xE0\0\x03x", 5);
    comments += "\x01x";
  }
  const std::string indices = packed_indices({0, 1, 2, 3, 200}, 8);
  const std::string palette_data = png_chunk("IDAT", png_data({indices}));
  std::string all_colours;
  for (int i = 0; i < 256; ++i) all_colours += std::string(3, static_cast<char>(255 - i));
  auto keyed = [](int depth, const std::string& alpha) {
    return png_file(png_header(4, 1, depth, 3),
                    png_chunk("PLTE", std::string("\xFF\0\0\0\xFF\0\0\0\xFF\xFF\xFF\xFF", 12)
                                          .substr(0, depth == 1 ? 6 : 12)) +
                        png_chunk("tRNS", alpha) +
                        png_chunk("IDAT", png_data({packed_indices({0, 1, 2 % (1 << depth), 3 % (1 << depth)}, depth)})));
  };
  const std::string cut_palette_data = png_data({indices}).substr(0, 6);
  const std::string pixels = "\x10\x20\x30\x40";
  const std::string two_by_two_gif_table(256 * 3, '\x40');
  const std::string picture = "/Indexed /DeviceRGB ";
  return {
      // Sizes past the limits, several of which a 32-bit size_t would wrap.
      {"interlaced-65536x21846.png", interlaced_wrap(), 81, "65536 x 21846 pixels, over the"},
      {"rgba-2147483647x1.png", png_file(png_header(0x7FFFFFFF, 1, 8, 6), png_chunk("IDAT", "")),
       81, "2147483647 x 1 pixels"},
      {"grey16-20000x20000.png", png_file(png_header(20000, 20000, 16, 0), idat), 81,
       "20000 x 20000 pixels"},
      {"rgba-1x120000000.png", png_file(png_header(1, 120000000, 8, 6), idat), 81,
       "1 x 120000000 pixels"},
      {"placed-at-65535.gif",
       gif_file({1, 1, two_by_two_gif_table, "", 65535, 65535, 1, 1, 8,
                 gif_codes(gif_literal_codes({1}, 8), 8)}),
       81, "65536 x 65536 pixels"},
      {"screen-4097x4096.gif",
       gif_file({4097, 4096, two_by_two_gif_table, "", 0, 0, 1, 1, 8,
                 gif_codes(gif_literal_codes({1}, 8), 8)}),
       81, "4097 x 4096 pixels"},
      // Many tiny structures, skipped within the read buffer.
      {"empty-chunks.png", png_file(grey_header, empty_chunks + idat), 0, "/DeviceGray"},
      {"empty-chunks-decoded.png",
       png_file(png_header(2, 1, 8, 4), empty_chunks + png_chunk("IDAT", png_data({pixels}))), 0,
       "/SMask"},
      {"long-chunk.png", png_file(grey_header, png_chunk("prIv", std::string(70000, 'x')) + idat),
       0, "/DeviceGray"},
      {"chunk-past-end.png",
       png_file(grey_header, "").substr(0, 33) + be32(1000) + "prIv" + std::string(10, 'x'), 81,
       "the file ends in a chunk"},
      {"comment-blocks.gif",
       gif_file({2, 2, two_by_two_gif_table, "!\xFE" + comments + std::string(1, '\0'), 0, 0, 2, 2,
                 8, gif_codes(gif_literal_codes({1, 2, 3, 4}, 8), 8)}),
       0, "/LZWDecode"},
      {"app-segments.jpg", jpeg.substr(0, 2) + app_segments + jpeg.substr(2), 0, "/DCTDecode"},
      {"app-segment-past-end.jpg", std::string("\xFF\xD8\xFF\xE0\x0B\xB8", 6) + "JFIF", 81,
       "the file ends before a frame header"},
      // Copied PNG data, verified on its way.
      {"bad-ihdr-crc.png",
       "\x89PNG\r\n\x1A\n" + png_chunk("IHDR", grey_header, true) + idat + png_chunk("IEND", ""),
       81, "a header (IHDR) whose CRC is wrong"},
      {"bad-plte-crc.png",
       png_file(png_header(5, 1, 8, 3), png_chunk("PLTE", rgb3, true) + palette_data), 81,
       "a palette (PLTE) whose CRC is wrong"},
      {"bad-trns-crc.png",
       png_file(grey_header, png_chunk("tRNS", std::string("\0\x20", 2), true) + idat), 81,
       "a transparency chunk (tRNS) whose CRC is wrong"},
      {"bad-idat-crc.png", png_file(grey_header, png_chunk("IDAT", grey, true)), 82,
       "picture data (IDAT) whose CRC is wrong"},
      {"garbage-idat.png", png_file(grey_header, png_chunk("IDAT", "garbage, not zlib data")), 81,
       "picture data (IDAT) that is not zlib data"},
      {"grey-key-beyond-depth.png",  // a key no 8-bit sample can have: no mask
       png_file(grey_header, png_chunk("tRNS", std::string("\x01\0", 2)) + idat), 0,
       "/DeviceGray /Length"},
      {"zlib-preset-dictionary.png",  // 78 BB: a valid check, but a dictionary no reader has
       png_file(grey_header, png_chunk("IDAT", "\x78\xBB" + grey.substr(2))), 81,
       "picture data (IDAT) that is not zlib data"},
      {"zlib-header-split.png",
       png_file(grey_header, png_chunk("IDAT", grey.substr(0, 1)) + png_chunk("IDAT", grey.substr(1))),
       0, "/DeviceGray"},
      {"bad-zlib-header-split.png",
       png_file(grey_header, png_chunk("IDAT", "\x78") + png_chunk("IDAT", '\0' + grey.substr(2))),
       82, "picture data (IDAT) that is not zlib data"},
      {"deflate-garbage.png",  // a sound zlib header and CRC over data no viewer can inflate
       png_file(grey_header, png_chunk("IDAT", "\x78\x9C" + std::string(20, '\xFF'))), 82,
       "picture data (IDAT) whose compressed data is damaged"},
      {"deflate-short.png",  // one row of the two
       png_file(grey_header, png_chunk("IDAT", png_data({std::string("\x10\x20", 2)}))), 82,
       "picture data (IDAT) that ends before the picture does"},
      {"empty-idat.png", png_file(grey_header, png_chunk("IDAT", "")), 82,
       "picture data (IDAT) that is not zlib data"},
      {"idat-split-by-chunk.png",
       png_file(grey_header, png_chunk("IDAT", grey.substr(0, 5)) + png_chunk("tEXt", "a\0b") +
                                 png_chunk("IDAT", grey.substr(5))),
       82, "picture data (IDAT) split by another chunk"},
      // Palettes: indices beyond them show as greys on both paths.
      {"palette-beyond.png", png_file(png_header(5, 1, 8, 3), png_chunk("PLTE", rgb3) + palette_data),
       0, picture + "200 <FF000000FF000000FF030303040404"},
      {"palette-beyond-interlaced.png",  // the passes give pixels 0, 4, 2, then 1 and 3
       png_file(png_header(5, 1, 8, 3, 1),
                png_chunk("PLTE", rgb3) +
                    png_chunk("IDAT", png_data({std::string(1, '\0'), "\xC8", "\x02", "\x01\x03"}))),
       0,
       "/BitsPerComponent 8 /ColorSpace /DeviceRGB"},
      {"palette4-beyond.png",
       png_file(png_header(5, 1, 4, 3),
                png_chunk("PLTE", rgb3) +
                    png_chunk("IDAT", png_data({packed_indices({0, 1, 2, 3, 15}, 4)}))),
       0, picture + "15 <"},
      {"palette-full.png",
       png_file(png_header(5, 1, 8, 3), png_chunk("PLTE", all_colours) + palette_data), 0,
       picture + "255 <FFFFFFFEFEFE"},
      {"palette-257.png",
       png_file(png_header(5, 1, 8, 3), png_chunk("PLTE", all_colours + "abc") + palette_data), 81,
       "a palette (PLTE) of no possible length"},
      {"palette-cut-data.png",
       png_file(png_header(5, 1, 8, 3), png_chunk("PLTE", rgb3) + png_chunk("IDAT", cut_palette_data)),
       81, "damaged PNG file"},
      // Colour keys on indices of 1, 2 or 4 bits, which MuPDF honours only
      // from index 0.
      {"palette2-key2.png", keyed(2, std::string("\xFF\xFF\0", 3)), 0, "/SMask"},
      {"palette2-key0.png", keyed(2, std::string(1, '\0')), 0, "/Mask [0 0]"},
      {"palette2-key01.png", keyed(2, std::string(2, '\0')), 0, "/Mask [0 1]"},
      {"palette4-key1.png", keyed(4, std::string("\xFF\0", 2)), 0, "/SMask"},
      {"palette1-key1.png", keyed(1, std::string("\xFF\0", 2)), 0, "/SMask"},
      // GIF codes the re-packer would pass on as data no reader can decode.
      {"first-code-not-colour.gif", gif_2x2({256, 300, 1, 2, 257}), 81,
       "no pixels in the image data"},
      {"code-beyond-table.gif", gif_2x2({256, 1, 2, 400, 3, 257}), 81,
       "the image data ends before the image does"},
      {"data-ends-early.gif", gif_2x2({256, 1, 2, 257}), 81,
       "the image data ends before the image does"},
      {"data-one-pixel-short.gif", gif_2x2({256, 1, 2, 3, 257}), 81,
       "the image data ends before the image does"},
      {"table-beyond-code-size.gif",  // the whole table, though 2-bit codes reach 4 entries
       gif_file({2, 2, std::string(256 * 3, '\x40'), "", 0, 0, 2, 2, 2,
                 gif_codes(gif_literal_codes({0, 1, 2, 3}, 2), 2)}),
       0, "/Indexed /DeviceRGB 255 <"},
      {"code-size-1.gif",  // the smallest LZW minimum code size, decoded
       gif_file({2, 2, std::string("\0\0\0\xFF\xFF\xFF", 6), "", 0, 0, 2, 2, 1,
                 gif_codes(gif_literal_codes({0, 1, 1, 0}, 1), 1)}),
       0, "/FlateDecode"},
      {"table-codes.gif", gif_2x2({256, 5, 258, 5, 257}), 0, "/LZWDecode"},
  };
}
