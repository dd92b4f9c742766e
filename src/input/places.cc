// Places: the line and column of a character, for the stops and warnings
// that point at their cause.
//
// Nothing is counted while characters are read: the character source is
// the fastest part of the program. A place is derived when it is asked for,
// from the bytes still in memory: the column counts the characters back to
// the line's start. When the window is refilled, a few bytes are kept before
// it (a character and the carriage returns after it), and the characters of
// the line in progress that leave memory are added to `line_carry`. The
// last place found is kept, so that places asked for one after another on a
// long line count each byte once.
#include <cstring>

#include "input.h"

namespace {

// Characters from `from` to `to`, as the editor counts them: under UTF-8 a
// character's continuation bytes are not counted.
int64_t characters(const unsigned char* from, const unsigned char* to) {
  if (!run.utf8) return to - from;
  int64_t count = 0;
  for (; from < to; ++from) count += (*from & 0xC0) != 0x80;
  return count;
}

// The bytes of a character token in the input.
int width_of(int character) {
  if (character < tok_unicode) return 1;
  int code_point = character - tok_unicode;
  return code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
}

}  // namespace

void input_keep_history(InputStream& in, size_t keep, unsigned char* into) {
  // The characters of the line in progress that leave memory.
  const unsigned char* leaving_end = in.end - keep;
  if (in.start < leaving_end) {
    const void* line_end = memrchr(in.start, '\n', leaving_end - in.start);
    if (line_end)
      in.line_carry = characters(static_cast<const unsigned char*>(line_end) + 1, leaving_end);
    else
      in.line_carry += characters(in.start, leaving_end);
    in.start_offset += leaving_end - in.start;
  }
  std::memmove(into, leaving_end, keep);
  in.start = into;
}

Place place_of_byte(const unsigned char* at, int64_t line) {
  InputStream& in = run.input_file;
  if (!in.open || at < in.start) return Place{line, 0};
  const int64_t offset = in.start_offset + (at - in.start);
  int64_t column;
  if (in.cached_line == line && in.cached_offset >= in.start_offset && in.cached_offset <= offset) {
    column = in.cached_column + characters(in.start + (in.cached_offset - in.start_offset), at);
  } else {
    const void* line_end = memrchr(in.start, '\n', at - in.start);
    if (line_end)
      column = 1 + characters(static_cast<const unsigned char*>(line_end) + 1, at);
    else
      column = 1 + in.line_carry + characters(in.start, at);
  }
  in.cached_offset = offset;
  in.cached_line = line;
  in.cached_column = column;
  return Place{line, column};
}

Place current_place() {
  const InputStream& in = run.input_file;
  if (!in.open) return no_place;
  // The lookahead's bytes end at `next`; the current character's end before
  // it, with the carriage returns the source dropped between them.
  const unsigned char* at = in.next;
  if (run.lookahead_char >= 0) at -= width_of(run.lookahead_char);
  if (run.current_char >= 0) {
    while (at > in.start && at[-1] == '\r') --at;
    at -= width_of(run.current_char);
  }
  if (at < in.start) at = in.start;
  return place_of_byte(at, current_input_line());
}
