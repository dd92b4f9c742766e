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

std::string test_data(const std::string& name) { return std::string(KESTRIN_TEST_DATA) + "/" + name; }

std::string stop_text(int line, int code, int message) {
  return "\nerror in line " + std::to_string(line) + " (" + std::to_string(code) + ")  " +
         message_table[message] + "\n";
}

CompileResult compile(const std::string& input, const std::string& name) {
  CompileResult result;
  std::string in_path = scratch_path(name + ".txt");
  result.path = scratch_path(name + ".pdf");
  write_file(in_path, input);
  const char* argv[] = {"kestrin", in_path.c_str(), result.path.c_str()};
  console_capture = &result.console;
  result.status = run_kestrin(3, argv);
  console_capture = nullptr;
  result.pdf = read_file(result.path);
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
  std::string dir = scratch_dir();
  std::string command = "cd " + quote(dir) + " && " + quote(KESTRIN_BINARY);
  for (const std::string& arg : args) command += " " + quote(arg);
  command += " >" + quote(dir + "/.stdout") + " 2>" + quote(dir + "/.stderr");
  int status = std::system(command.c_str());
  ProcessResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(dir + "/.stdout");
  result.err = read_file(dir + "/.stderr");
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
  return Stop{-1, -1, -1};
}

void open_scratch_output() {
  if (!output_open(scratch_path("out.bin").c_str())) ADD_FAILURE() << "cannot open scratch output";
}

std::string written_output() {
  output_close();
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
  EXPECT_NE(out.find("Pages:" + std::string(16 - std::to_string(pages).size(), ' ') +
                     std::to_string(pages) + "\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;

  status = run_shell("mutool draw -q -r 20 -F pnm -o /dev/null " + quote(pdf_path), &out);
  EXPECT_EQ(status, 0) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("ICC support is not available") != std::string::npos) continue;
    ADD_FAILURE() << "mutool draw " << pdf_path << ": " << line;
  }
}
