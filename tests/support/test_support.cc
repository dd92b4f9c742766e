#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "input.h"
#include "pdf.h"
#include "run_state.h"

namespace {

std::string test_name() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string scratch_dir() {
  static std::string prepared_for;
  std::string dir = std::string(KESTRIN_SCRATCH) + "/" + test_name();
  if (prepared_for != dir) {
    std::system(("rm -rf " + quote(dir) + " && mkdir -p " + quote(dir)).c_str());
    prepared_for = dir;
  }
  return dir;
}

std::string scratch_path(const std::string& name) { return scratch_dir() + "/" + name; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string test_data(const std::string& name) {
  return std::string(KESTRIN_TEST_DATA) + "/" + name;
}

std::string stop_text(int line, int code, int message) {
  return "\nerror in line " + std::to_string(line) + " (" + std::to_string(code) + ")  " +
         message_table[message] + "\n";
}

CompileResult compile(const std::string& input, const std::string& name, bool readers,
                      RunHost host) {
  // With KESTRIN_RECORD_DOCUMENTS naming a folder, every document is also kept
  // there, for comparing the WebAssembly build with the native program.
  if (const char* record = std::getenv("KESTRIN_RECORD_DOCUMENTS")) {
    static int recorded = 0;
    write_file(std::string(record) + "/" + test_name() + "-" + std::to_string(++recorded) + ".txt",
               input);
  }
  CompileResult result;
  std::string in_path = scratch_path(name + ".txt");
  result.path = scratch_path(name + ".pdf");
  write_file(in_path, input);
  const char* argv[] = {"kestrin", in_path.c_str(), result.path.c_str()};
  host.console_capture = &result.console;
  result.status = run_kestrin(3, argv, host);
  result.pdf = read_file(result.path);
  if (result.status == 0 && readers) check_with_readers(result.path, run.page_count);
  return result;
}

int run_shell(const std::string& command, std::string* output) {
  std::string full = "(" + command + ") 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, got);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProcessResult run_binary(const std::vector<std::string>& args) {
  return run_binary_in(scratch_dir(), args);
}

ProcessResult run_binary_in(const std::string& dir, const std::vector<std::string>& args) {
  std::string command = "cd " + quote(dir) + " && " + quote(KESTRIN_BINARY);
  for (const std::string& arg : args) command += " " + quote(arg);
  std::string out = scratch_path(".stdout"), err = scratch_path(".stderr");
  command += " >" + quote(out) + " 2>" + quote(err);
  int status = std::system(command.c_str());
  ProcessResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(out);
  result.err = read_file(err);
  return result;
}

void feed(const std::string& text) {
  static std::string held;
  held = text;
  reset_run_state();
  input_open_memory(reinterpret_cast<const unsigned char*>(held.data()), held.size());
  next_char();
}

Stop expect_stop(const std::function<void()>& body) {
  try {
    body();
  } catch (const Stop& stop) {
    return stop;
  }
  ADD_FAILURE() << "the run did not stop";
  return Stop{-1, -1, -1, no_place};
}

void open_scratch_output() {
  if (!output_open(scratch_path("out.bin").c_str())) ADD_FAILURE() << "cannot open scratch output";
}

std::string written_output() {
  output_close(true);
  return read_file(scratch_path("out.bin"));
}

void check_with_readers(const std::string& pdf_path, int pages) {
  std::string found;
  if (run_shell("command -v qpdf && command -v pdfinfo && command -v mutool", &found) != 0) {
    if (std::getenv("KESTRIN_REQUIRE_READERS"))
      ADD_FAILURE() << "the PDF readers qpdf, pdfinfo and mutool are required";
    else
      GTEST_SKIP() << "PDF readers not installed (qpdf, poppler-utils, mupdf-tools)";
    return;
  }
  std::string out;
  int status = run_shell("qpdf --check " + quote(pdf_path), &out);
  EXPECT_EQ(status, 0) << "qpdf --check " << pdf_path << ":\n" << out;
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
  EXPECT_NE(out.find("No syntax or stream encoding errors found"), std::string::npos) << out;

  status = run_shell("pdfinfo " + quote(pdf_path), &out);
  EXPECT_EQ(status, 0) << out;
  size_t label = out.find("\nPages:");
  if (label != std::string::npos)
    EXPECT_EQ(std::atoi(out.c_str() + label + 7), pages) << "pdfinfo " << pdf_path;
  else
    ADD_FAILURE() << "pdfinfo reports no page count:\n" << out;
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;

  // Rendering is the slow check: a few pages of a long document will do.
  std::string page_range = pages > 20 ? " 1-3," + std::to_string(pages) : "";
  status =
      run_shell("mutool draw -q -r 20 -F pnm -o /dev/null " + quote(pdf_path) + page_range, &out);
  EXPECT_EQ(status, 0) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("ICC support is not available") != std::string::npos) continue;
    // mupdf reads a launch action's file only from /F, not from the /Win
    // dictionary this format has always used for it.
    if (line.find("cannot parse file") != std::string::npos &&
        read_file(pdf_path).find("/S /Launch") != std::string::npos)
      continue;
    ADD_FAILURE() << "mutool draw " << pdf_path << ": " << line;
  }
}

std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

static size_t object_start(const std::string& pdf, int number) {
  std::string head = std::to_string(number) + " 0 obj\r\n";
  if (pdf.compare(0, head.size(), head) == 0) return 0;
  size_t at = pdf.find("\n" + head);
  return at == std::string::npos ? at : at + 1;
}

std::string object_text(const std::string& pdf, int number) {
  size_t start = object_start(pdf, number);
  if (start == std::string::npos) return "(object " + std::to_string(number) + " missing)";
  size_t end = pdf.find("endobj\r\n", start);
  return pdf.substr(start, end == std::string::npos ? end : end + 8 - start);
}

std::string stream_of(const std::string& pdf, int number) {
  std::string object = object_text(pdf, number);
  size_t start = object.find("stream\r\n");
  size_t end = object.rfind("endstream");
  if (start == std::string::npos || end == std::string::npos) return "(no stream)";
  return object.substr(start + 8, end - start - 8);
}

std::string xref_and_trailer(const std::string& body, int size) {
  std::string text = "xref\r\n0 " + std::to_string(size) + "\r\n0000000000 65535 f\r\n";
  for (int number = 1; number < size; ++number) {
    size_t at = object_start(body, number);
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", at);
    text += entry;
  }
  return text + crlf({"trailer", "<<", "/Size " + std::to_string(size), "/Root 1 0 R",
                      "/Info 7 0 R", ">>", "startxref", std::to_string(body.size()), "%%EOF"});
}

CompileResult compile_expecting_stop(const std::string& input, int line, int code, int message,
                                     std::string* diagnostics) {
  RunHost host;
  host.diagnostics_capture = diagnostics;
  CompileResult result = compile(input, "doc", true, host);
  EXPECT_EQ(result.console, stop_text(line, code, message)) << "input: " << input.substr(0, 200);
  EXPECT_EQ(result.status, 1);
  return result;
}

std::string reader_show(const std::string& pdf_path, const std::string& path) {
  std::string out;
  run_shell("mutool show '" + pdf_path + "' '" + path + "'", &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string hb_shape_glyphs(const std::string& font, const std::string& text) {
  write_file(scratch_path("line.txt"), text);
  std::string out;
  run_shell("hb-shape --no-glyph-names --no-positions --no-clusters --text-file='" +
                scratch_path("line.txt") + "' '" + font + "'",
            &out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}
