// GIF's LZW decoder, for the images that cannot be re-packed as they are:
// any minimum code size, clear codes sent late or never, streams that end
// early or go on past their end code. Codes are read least significant bit
// first across the sub-blocks; the table is the usual prefix and suffix
// arrays, 12 bits at most, and once full it stays full until a clear code.
#include "media.h"

namespace {

constexpr int max_codes = 4096;

// The data bytes of the sub-blocks; -1 at the terminator or the file's end.
struct SubBlocks {
  std::FILE* file;
  int left = 0;  // bytes left in the current sub-block
  bool done = false;

  int next() {
    while (left == 0) {
      if (done) return -1;
      int size = getc_unlocked(file);
      if (size <= 0) {
        done = true;
        return -1;
      }
      left = size;
    }
    int c = getc_unlocked(file);
    if (c == EOF) {
      done = true;
      return -1;
    }
    --left;
    return c;
  }
};

}  // namespace

size_t gif_lzw_decode(std::FILE* file, int min_code_size, unsigned char* pixels, size_t count) {
  static uint16_t prefix[max_codes];
  static unsigned char suffix[max_codes], first[max_codes], stack[max_codes + 1];
  const int clear = 1 << min_code_size, end = clear + 1;
  for (int i = 0; i < clear; ++i) suffix[i] = first[i] = static_cast<unsigned char>(i);
  SubBlocks data{file};
  int next = clear + 2, width = min_code_size + 1, previous = -1;
  uint32_t bits = 0;
  int held = 0;  // bits in `bits`
  size_t produced = 0;
  while (produced < count) {
    while (held < width) {
      int c = data.next();
      if (c < 0) return produced;
      bits |= static_cast<uint32_t>(c) << held;
      held += 8;
    }
    int code = static_cast<int>(bits & ((1u << width) - 1));
    bits >>= width;
    held -= width;
    if (code == clear) {
      next = clear + 2;
      width = min_code_size + 1;
      previous = -1;
      continue;
    }
    if (code == end) break;
    int depth = 0, walk = code;
    if (previous < 0) {
      if (code > clear) break;  // no string to extend yet
    } else if (code >= next) {
      if (code > next) break;            // a code the table cannot have
      stack[depth++] = first[previous];  // the string just added: previous + its first
      walk = previous;
    }
    while (walk >= clear) {
      stack[depth++] = suffix[walk];
      walk = prefix[walk];
    }
    stack[depth++] = static_cast<unsigned char>(walk);
    unsigned char head = stack[depth - 1];
    while (depth > 0 && produced < count) pixels[produced++] = stack[--depth];
    if (previous >= 0 && next < max_codes) {
      prefix[next] = static_cast<uint16_t>(previous);
      suffix[next] = head;
      first[next] = first[previous];
      ++next;
      if (next == 1 << width && width < 12) ++width;
    }
    previous = code;
  }
  return produced;
}
