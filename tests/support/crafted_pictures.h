// Picture files made byte by byte: the pieces of PNG and GIF files, and the
// table of hostile and damaged pictures that the tests compile, that the
// WebAssembly build compares with the native one (through the documents the
// tests keep) and that seed the `image` fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// --- PNG ----------------------------------------------------------------------

// A chunk: length, type, data and CRC (`bad_crc` spoils the CRC).
std::string png_chunk(const std::string& type, const std::string& data, bool bad_crc = false);
// The IHDR chunk's data.
std::string png_header(uint32_t width, uint32_t height, int depth, int colour_type,
                       int interlace = 0);
// The signature, IHDR with `header`, the chunks, and IEND.
std::string png_file(const std::string& header, const std::string& chunks);
// `rows` (each without its filter byte) with filter 0, compressed by zlib.
std::string png_data(const std::vector<std::string>& rows, int level = 9);
// Indices of `depth` bits packed into one row, the first in the high bits.
std::string packed_indices(const std::vector<int>& indices, int depth);

// --- GIF ----------------------------------------------------------------------

// LZW codes packed least significant bit first, each as wide as a decoder
// reads it there (the width rising as the table fills, reset by clear).
std::string gif_codes(const std::vector<int>& codes, int min_code_size);
// The codes of `indices` as single colours: a clear first, one every 1000
// codes, and the end code.
std::vector<int> gif_literal_codes(const std::vector<int>& indices, int min_code_size);
// A GIF89a file: a global table of `table_rgb` (2 to 256 entries, a power of
// two), `blocks` (extensions) before one image whose LZW data is `codes`.
struct GifImage {
  int screen_width, screen_height;
  std::string table_rgb;
  std::string blocks;
  int left, top, width, height;
  int min_code_size;
  std::string codes;
};
std::string gif_file(const GifImage& image);

// --- The table ------------------------------------------------------------------

struct CraftedPicture {
  std::string name;   // a file name, its kind as extension
  std::string bytes;  // the file
  int code;           // the stop of <image 1 name>, 0 when it converts
  std::string says;   // on standard error, or (converting) in the picture object
};

// Every crafted picture; `jpeg` is a small JPEG that some are made from.
std::vector<CraftedPicture> crafted_pictures(const std::string& jpeg);
