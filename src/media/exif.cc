// EXIF orientation: the tag that says how a camera's picture must be turned
// or mirrored to be seen upright. Only the first directory (IFD0) is read;
// anything malformed counts as upright.
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
constexpr uint32_t type_short = 3;

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
    if (tiff.word(entry + 2) != type_short || tiff.dword(entry + 4) < 1) return 1;
    uint32_t value = tiff.word(entry + 8);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}
