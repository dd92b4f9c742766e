// Standard error: warnings in the form compilers use, "FILE:LINE: warning:
// TEXT", so that editors can jump to them, and the names of files that could
// not be opened, read or written. Nothing here touches the PDF or the console.
#include <cstring>

#include "diagnostics.h"
#include "run_state.h"

namespace {

const char* const kind_name[warning_kind_count] = {
    "text below the page",
    "line wider than the page",
    "font name",
    "unknown operator",
    "control character",
    "unescaped bracket",
    "undeclared utf-8",
    "picture file kind",
    "arithmetic-coded jpeg",
    "character not in the font",
    "unshaped text",
    "vanished empty line",
    "short page",
    "text in a fill colour",
};

void put_diagnostic(const std::string& line) {
  if (run.host.diagnostics_capture)
    run.host.diagnostics_capture->append(line);
  else if (!run.diagnostics.pdf_on_standard_error)  // the PDF must stay whole
    std::fputs(line.c_str(), stderr);
}

}  // namespace

const char* warning_kind_name(WarningKind kind) { return kind_name[kind]; }

void report_problem(const std::string& text) { put_diagnostic("kestrin: " + text + "\n"); }

void report_line(const std::string& text) { put_diagnostic(text + "\n"); }

void report_file_problem(const char* name, int error_number) {
  report_problem(std::string(name) + ": " + std::strerror(error_number));
}

void warn(WarningKind kind, int64_t line, const std::string& text) {
  if (!run.options.warnings) return;
  const DiagnosticsState& d = run.diagnostics;
  if (run.host.diagnostic_list) {  // every warning, also those not shown
    if (d.place_file.empty())
      run.host.diagnostic_list->push_back(Diagnostic{Diagnostic::warning, line, 0, kind, text});
    else
      run.host.diagnostic_list->push_back(
          Diagnostic{Diagnostic::warning, d.place_origin.line, d.place_origin.column, kind,
                     d.place_file + ":" + std::to_string(line) + ": " + text});
  }
  if (++run.diagnostics.warning_count[kind] > warning_show_limit) return;
  put_diagnostic((d.place_file.empty() ? d.file_name : d.place_file) + ":" + std::to_string(line) +
                 ": warning: " + text + "\n");
}

int64_t warnings_so_far() {
  int64_t total = 0;
  for (int64_t count : run.diagnostics.warning_count) total += count;
  return total;
}

int64_t finish_warnings() {
  int64_t total = 0;
  for (int kind = 0; kind < warning_kind_count; ++kind) {
    int64_t count = run.diagnostics.warning_count[kind];
    total += count;
    if (count > warning_show_limit)
      put_diagnostic(run.diagnostics.file_name +
                     ": warning: " + std::to_string(count - warning_show_limit) +
                     " more of the kind \"" + kind_name[kind] + "\" not shown\n");
  }
  return total;
}
