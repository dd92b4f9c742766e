// The WebAssembly entry. JavaScript writes the input and the files a
// document names into the in-memory file system, calls kestrin_run with a
// command line exactly as the native program takes it, and reads the PDF
// back; so options, names and messages behave as they do natively.
#include <emscripten/emscripten.h>
#include <malloc.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "driver.h"

namespace {

std::string console_text;
std::string diagnostics_text;
std::string faces_absent_text;  // one file name a line

}  // namespace

extern "C" {

// One run of `kestrin argv[1] ... argv[argc-1]`; returns the exit status.
// With `capture` set, the console text and standard error are kept for
// kestrin_console and kestrin_diagnostics instead of being written out.
// The Liberation faces the run looked for and lacked are kept for
// kestrin_faces_absent, so that a page can fetch them and run again.
EMSCRIPTEN_KEEPALIVE int kestrin_run(int argc, const char* const* argv, int capture) {
  console_text.clear();
  diagnostics_text.clear();
  std::vector<std::string> absent;
  RunHost host;
  host.console_capture = capture ? &console_text : nullptr;
  host.diagnostics_capture = capture ? &diagnostics_text : nullptr;
  host.fallback_faces_absent = &absent;
  int status = run_kestrin(argc, argv, host);
  std::fflush(nullptr);
  faces_absent_text.clear();
  for (const std::string& face : absent) faces_absent_text += face + "\n";
  return status;
}

// The file mode creation mask; emscripten starts with 0777, which would give
// the output no permissions at all.
EMSCRIPTEN_KEEPALIVE void kestrin_umask(int mask) { umask(static_cast<mode_t>(mask)); }

// The bytes the allocator has handed out and not had back: flat from one run
// to the next, or a run leaks (the package's tests watch it).
EMSCRIPTEN_KEEPALIVE size_t kestrin_memory_in_use() { return mallinfo().uordblks; }

EMSCRIPTEN_KEEPALIVE const char* kestrin_console() { return console_text.data(); }
EMSCRIPTEN_KEEPALIVE size_t kestrin_console_size() { return console_text.size(); }
EMSCRIPTEN_KEEPALIVE const char* kestrin_diagnostics() { return diagnostics_text.data(); }
EMSCRIPTEN_KEEPALIVE size_t kestrin_diagnostics_size() { return diagnostics_text.size(); }
EMSCRIPTEN_KEEPALIVE const char* kestrin_faces_absent() { return faces_absent_text.data(); }
EMSCRIPTEN_KEEPALIVE size_t kestrin_faces_absent_size() { return faces_absent_text.size(); }

}  // extern "C"
