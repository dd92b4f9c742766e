// The stop routine and the console writers. Every run ends in fatal_error:
// the successful end with message 0, every error with its code and message.
// The stop unwinds to the entry of the run (src/driver/driver.cc), which
// closes the files and prints the one console line.
#include <string>

#include "diagnostics.h"
#include "run_state.h"

std::string* console_capture = nullptr;
std::FILE* console_file = stdout;

void console_put_text(const char* text) {
  if (console_capture)
    console_capture->append(text);
  else
    std::fputs(text, console_file);
}

void console_put_int(int64_t value) { console_put_text(std::to_string(value).c_str()); }

void fatal_error(int code, int message) { throw Stop{code, message, run.line_number}; }
