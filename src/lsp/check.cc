// Compiling an open document: for its diagnostics, writing nothing, and for
// "export PDF", writing the file as the command line would. Both read
// relative picture and sound names from the document's folder (as running
// kestrin there does) through the run's host, never by changing the
// server's working directory.
#include <cstring>

#include "diagnostics.h"
#include "driver.h"
#include "lsp.h"

using nlohmann::json;

namespace {

// The LSP diagnostics sent for one document at most: beyond them an editor
// slows down, and the first ones are the ones to mend.
constexpr size_t max_diagnostics = 1000;

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The run's host for a document: captures, and its folder for media files.
struct DocumentRun {
  std::string console, errors, folder;
  std::vector<Diagnostic> records;
  RunHost host;
  explicit DocumentRun(const Document& doc) : folder(folder_of(doc.path)) {
    host.console_capture = &console;
    host.diagnostics_capture = &errors;
    host.diagnostic_list = &records;
    host.regular_files_only = true;
    if (!doc.path.empty()) {
      host.base_folder = folder.c_str();
      host.memory_text_file = doc.path.c_str();
    }
  }
  int compile(const Document& doc, const std::string& output, const RunOptions& options) {
    return run_kestrin_on_text(reinterpret_cast<const unsigned char*>(doc.text.data()),
                               doc.text.size(), output.c_str(), options, host);
  }
};

// The stop's message with what the run said besides: the word shown on the
// console before it, the file problems named on standard error.
std::string stop_text(const DocumentRun& run, const Diagnostic& stop) {
  std::string text = stop.text;
  size_t console_line = run.console.rfind("\nerror in line");
  std::string shown = run.console.substr(0, console_line == std::string::npos ? 0 : console_line);
  if (!shown.empty()) text += ": " + shown;
  for (size_t at = 0; (at = run.errors.find("kestrin: ", at)) != std::string::npos;) {
    size_t end = run.errors.find('\n', at);
    text += "\n" + run.errors.substr(at + 9, end == std::string::npos ? end : end - at - 9);
    at = end;
  }
  return text;
}

// The range a record marks: from its column to the end of the word there,
// or the whole line when the column is not known.
json range_of_record(const Document& doc, const Diagnostic& record, bool utf8_positions) {
  int64_t line = std::max<int64_t>(1, record.line) - 1;
  line = std::min<int64_t>(line, int64_t(doc.line_start.size()) - 1);
  size_t start = doc.line_start[size_t(line)];
  size_t end = size_t(line) + 1 < doc.line_start.size() ? doc.line_start[size_t(line) + 1] - 1
                                                        : doc.text.size();
  if (record.column > 0) {
    size_t at = start;
    for (int64_t characters = 1; at < end && characters < record.column; ++characters) do
        ++at;
      while (at < end && (static_cast<unsigned char>(doc.text[at]) & 0xC0) == 0x80);
    start = at;
    while (at < end && !std::strchr(" \t\r", doc.text[at])) ++at;
    end = std::max(at, std::min(end, start + 1));
  }
  return doc.range_of(start, end, utf8_positions);
}

}  // namespace

std::string default_pdf_path(const std::string& path) {
  size_t dot = path.rfind('.'), slash = path.rfind('/');
  bool known = dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
               (path.compare(dot, 4, ".kst") == 0 || path.compare(dot, 4, ".txt") == 0) &&
               dot + 4 == path.size();
  return (known ? path.substr(0, dot) : path) + ".pdf";
}

json check_document(const Document& doc, bool utf8_positions) {
  DocumentRun run(doc);
  run.host.discard_output = true;
  run.compile(doc, doc.path.empty() ? "/dev/null" : default_pdf_path(doc.path), RunOptions{});
  json diagnostics = json::array();
  for (const Diagnostic& record : run.records) {
    if (diagnostics.size() == max_diagnostics) break;
    bool stop = record.severity == Diagnostic::error;
    json code = stop ? json(record.code) : json(warning_kind_name(WarningKind(record.code)));
    diagnostics.push_back({{"range", range_of_record(doc, record, utf8_positions)},
                           {"severity", stop ? 1 : 2},
                           {"code", code},
                           {"source", "kestrin"},
                           {"message", stop ? stop_text(run, record) : record.text}});
  }
  return diagnostics;
}

json export_document(const Document& doc, const std::string& output, bool compress) {
  DocumentRun run(doc);
  std::string target = output;
  if (target.empty()) target = default_pdf_path(doc.path);
  if (target[0] != '/' && !doc.path.empty()) target = run.folder + "/" + target;
  RunOptions options;
  options.compress = compress;
  int status = run.compile(doc, target, options);
  return {{"status", status}, {"console", run.console}, {"errors", run.errors}, {"output", target}};
}
