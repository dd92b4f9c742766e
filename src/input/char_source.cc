// Character source: the input file as characters with one of lookahead.
//
// Every carriage return is dropped; a line feed raises line_number when it is
// read into the lookahead, one step before it is delivered, so a stop raised
// at the last character of a line reports the next line. Inside a command
// group, a "*" not preceded by a backslash opens a comment that runs to the
// next "*"; the character after the comment is delivered in its place and is
// not itself tested for a comment.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "diagnostics.h"
#include "input.h"

std::FILE* open_for_reading(const char* path, FileId* id, bool devices) {
  bool standard_input = std::strcmp(path, "-") == 0;
  std::FILE* file = standard_input ? fdopen(dup(STDIN_FILENO), "rb") : std::fopen(path, "rb");
  if (!file) return nullptr;
  struct stat info;
  int refusal = 0;
  if (fstat(fileno(file), &info) != 0)
    refusal = errno;
  else if (S_ISDIR(info.st_mode))
    refusal = EISDIR;
  else if (!devices && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)))
    refusal = ENODEV;  // /dev/zero and the like never end
  if (refusal) {
    std::fclose(file);
    errno = refusal;
    return nullptr;
  }
  if (id) *id = FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return file;
}

// Whether any byte from `from` to `end` is beyond ASCII.
static bool any_high_byte(const unsigned char* from, const unsigned char* end) {
#if defined(__SSE2__)
  for (; end - from >= 64; from += 64) {
    auto load = [from](int i) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from) + i);
    };
    __m128i all = _mm_or_si128(_mm_or_si128(load(0), load(1)), _mm_or_si128(load(2), load(3)));
    if (_mm_movemask_epi8(all) != 0) return true;
  }
#endif
  for (; from != end; ++from)
    if (*from >= 0x80) return true;
  return false;
}

// While page text is still tested for undeclared UTF-8, the plain runs stop
// at high bytes only in a window that has some.
static void note_high_bytes() {
  InputStream& in = run.input_file;
  in.high_bytes = run.utf8_checks > 0 && any_high_byte(in.next, in.end);
}

bool input_open_file(const char* path) {
  InputStream& in = run.input_file;
  in.file = open_for_reading(path, &in.id, true);
  if (!in.file) return false;
  std::setvbuf(in.file, nullptr, _IONBF, 0);  // the window is the buffer: one read a refill
  in.name = std::strcmp(path, "-") == 0 ? "<stdin>" : path;
  in.open = true;
  in.next = in.end = in.start = in.buffer;
  return true;
}

void input_open_memory(const unsigned char* text, size_t size) {
  InputStream& in = run.input_file;
  in.file = nullptr;
  in.open = true;
  in.next = in.start = text;
  in.end = text + size;
  note_high_bytes();
}

void input_close() {
  VerbatimState& v = run.verbatim;
  if (v.pending) std::fclose(v.pending);
  v.pending = nullptr;
  if (v.active && v.document.file) std::fclose(v.document.file);  // the verbatim file is `in`
  v.active = false;
  InputStream& in = run.input_file;
  if (in.file) std::fclose(in.file);
  in.file = nullptr;
  in.open = false;
  in.next = in.end = nullptr;
}

int input_refill() {
  InputStream& in = run.input_file;
  if (!in.file) return -1;
  // The last bytes stay in memory before the new window, for places.
  size_t keep = std::min<size_t>(input_history, in.end - in.start);
  input_keep_history(in, keep, in.buffer);
  in.next = in.end = in.buffer + keep;
  size_t got = std::fread(in.buffer + keep, 1, sizeof in.buffer - keep, in.file);
  if (got == 0) {
    if (!std::ferror(in.file)) return -1;
    report_file_problem(in.name, errno);
    fatal_error(73, msg_cant_read_input);
  }
  in.end = in.next + got;
  note_high_bytes();
  return *in.next++;
}

void skip_comment() {
  // The opening "*" is the byte just read; the lookahead still holds it.
  run.places.comment = place_of_byte(run.input_file.next - 1, run.line_number);
  for (;;) {
    int c = read_raw_char();
    if (c == '*') break;
    if (c < 0) fatal_error_at(57, msg_unexpected_end, run.places.comment);
  }
  run.current_char = read_raw_char();
}
