// The stop routine and the console writers. Every run ends in fatal_error:
// the successful end with message 0, every error with its code and message.
// The stop unwinds to the entry of the run (src/driver/driver.cc), which
// closes the files and prints the one console line.
#include <string>

#include "diagnostics.h"
#include "run_state.h"

void console_put_text(const char* text) {
  if (run.host.console_capture)
    run.host.console_capture->append(text);
  else
    std::fputs(text, run.diagnostics.console_file);
}

void console_put_int(int64_t value) { console_put_text(std::to_string(value).c_str()); }

void fatal_error(int code, int message) { fatal_error_at(code, message, at_current_char); }

// While a verbatim file is read, the console line names the line of its command.
void fatal_error_at(int code, int message, Place place) {
  throw Stop{code, message, run.verbatim.active ? run.verbatim.command_line : run.line_number,
             place};
}
