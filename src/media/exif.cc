// EXIF orientation: the tag that says how a camera's picture must be turned
// or mirrored to be seen upright. Only the first directory (IFD0) is read;
// anything malformed counts as upright. The value is read as Pillow reads
// it: the first value of any numeric type (SHORT as the standard has it, but
// also LONG, the signed ones, rationals and floats) that comes to a whole
// number from 1 to 8; bytes and text count as upright.
#include <cstring>

#include "media.h"

namespace {

struct TiffReader {
  const unsigned char* data;
  size_t size;
  bool big_endian;

  bool fits(size_t offset, size_t length) const {
    return offset <= size && length <= size - offset;
  }
  uint32_t word(size_t at) const {
    return big_endian ? uint32_t{data[at]} << 8 | data[at + 1]
                      : uint32_t{data[at + 1]} << 8 | data[at];
  }
  uint32_t dword(size_t at) const {
    return big_endian ? word(at) << 16 | word(at + 2) : word(at + 2) << 16 | word(at);
  }
};

constexpr uint32_t tag_orientation = 0x0112;

// TIFF's field types: 3 SHORT, 4 LONG, 5 RATIONAL, 8 SSHORT, 9 SLONG,
// 10 SRATIONAL, 11 FLOAT, 12 DOUBLE; the size of one value, 0 for the rest.
size_t numeric_size(uint32_t type) {
  static const size_t sizes[13] = {0, 0, 0, 2, 4, 8, 0, 0, 2, 4, 8, 4, 8};
  return type < 13 ? sizes[type] : 0;
}

// The value at `at` as a whole number, or 0 when it is not one.
int64_t whole_value(const TiffReader& tiff, uint32_t type, size_t at) {
  auto signed32 = [&](size_t where) { return int64_t{static_cast<int32_t>(tiff.dword(where))}; };
  switch (type) {
    case 3: return tiff.word(at);
    case 4: return tiff.dword(at);
    case 8: return static_cast<int16_t>(tiff.word(at));
    case 9: return signed32(at);
    case 5:
    case 10: {
      int64_t numerator = type == 5 ? int64_t{tiff.dword(at)} : signed32(at);
      int64_t denominator = type == 5 ? int64_t{tiff.dword(at + 4)} : signed32(at + 4);
      return denominator != 0 && numerator % denominator == 0 ? numerator / denominator : 0;
    }
    case 11:
    case 12: {
      double value;
      if (type == 11) {
        uint32_t bits = tiff.dword(at);
        float single;
        std::memcpy(&single, &bits, 4);
        value = single;
      } else {
        uint64_t bits = uint64_t{tiff.dword(tiff.big_endian ? at : at + 4)} << 32 |
                        tiff.dword(tiff.big_endian ? at + 4 : at);
        std::memcpy(&value, &bits, 8);
      }
      return value >= 1 && value <= 8 && value == static_cast<int>(value) ? static_cast<int>(value)
                                                                           : 0;
    }
    default: return 0;
  }
}

}  // namespace

int exif_orientation(const unsigned char* data, size_t size) {
  // "Exif" and two zero bytes, then a TIFF header: byte order, 42, and the
  // offset of IFD0 from the header's start.
  static const unsigned char exif_head[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (size < 6 + 8) return 1;
  for (int i = 0; i < 6; ++i)
    if (data[i] != exif_head[i]) return 1;
  TiffReader tiff{data + 6, size - 6, false};
  if (tiff.data[0] == 'M' && tiff.data[1] == 'M')
    tiff.big_endian = true;
  else if (tiff.data[0] != 'I' || tiff.data[1] != 'I')
    return 1;
  if (tiff.word(2) != 42) return 1;
  size_t directory = tiff.dword(4);
  if (!tiff.fits(directory, 2)) return 1;
  uint32_t entries = tiff.word(directory);
  for (uint32_t i = 0; i < entries; ++i) {
    size_t entry = directory + 2 + size_t{i} * 12;
    if (!tiff.fits(entry, 12)) return 1;
    if (tiff.word(entry) != tag_orientation) continue;
    const uint32_t type = tiff.word(entry + 2);
    const size_t size = numeric_size(type);
    if (size == 0 || tiff.dword(entry + 4) < 1) return 1;
    // Values of up to 4 bytes in all stand in the entry, longer ones where
    // it points.
    size_t at = uint64_t{size} * tiff.dword(entry + 4) <= 4 ? entry + 8 : tiff.dword(entry + 8);
    if (!tiff.fits(at, size)) return 1;
    int64_t value = whole_value(tiff, type, at);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}
