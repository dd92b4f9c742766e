// The binary as a user runs it: console text, exit status, files left behind.
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

namespace {

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void expect_stop_line(const ProcessResult& result, int line, int code, int message,
                      const std::string& err = "") {
  EXPECT_EQ(result.out, stop_text(line, code, message));
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, 1);
}

}  // namespace

// A wrong argument count must fail visibly (status 1) and create nothing.
TEST(CommandLine, WrongArgumentCountPrintsUsage) {
  expect_stop_line(run_binary({}), 1, 1, msg_usage);
  expect_stop_line(run_binary({"in.txt"}), 1, 1, msg_usage);
  write_file(scratch_path("in.txt"), "text\n");
  expect_stop_line(run_binary({"in.txt", "out.pdf", "extra"}), 1, 1, msg_usage);
  EXPECT_FALSE(exists(scratch_path("out.pdf")));
}

TEST(CommandLine, MissingInputStopsBeforeOutputExists) {
  expect_stop_line(run_binary({"missing.txt", "out.pdf"}), 1, 2, msg_cant_open_input,
                   "kestrin: missing.txt: No such file or directory\n");
  EXPECT_FALSE(exists(scratch_path("out.pdf")));
}

// A directory opens with fopen on Linux; it must still count as unopenable.
TEST(CommandLine, DirectoryAsInputCannotBeOpened) {
  mkdir(scratch_path("folder").c_str(), 0755);
  expect_stop_line(run_binary({"folder", "out.pdf"}), 1, 2, msg_cant_open_input,
                   "kestrin: folder: Is a directory\n");
}

// Priming reads the first character ahead, so a leading line feed is counted.
TEST(CommandLine, UnopenableOutputReportsLineAfterPriming) {
  write_file(scratch_path("in.txt"), "\nsecond line\n");
  expect_stop_line(run_binary({"in.txt", "no/such/dir/out.pdf"}), 2, 3, msg_cant_open_output,
                   "kestrin: no/such/dir/out.pdf: No such file or directory\n");
}

// Opening the output truncates it: an output naming the input must be refused
// first, also through a symbolic link, and the input must keep every byte.
TEST(CommandLine, OutputNamingTheInputIsRefused) {
  const std::string text = "precious text\nsecond line\n";
  write_file(scratch_path("in.txt"), text);
  expect_stop_line(run_binary({"in.txt", "in.txt"}), 1, 68, msg_output_is_input);
  EXPECT_EQ(read_file(scratch_path("in.txt")), text);

  ASSERT_EQ(symlink("in.txt", scratch_path("link.pdf").c_str()), 0);
  expect_stop_line(run_binary({"in.txt", "link.pdf"}), 1, 68, msg_output_is_input);
  EXPECT_EQ(read_file(scratch_path("in.txt")), text);

  ASSERT_EQ(link(scratch_path("in.txt").c_str(), scratch_path("hard.pdf").c_str()), 0);
  expect_stop_line(run_binary({"hard.pdf", "in.txt"}), 1, 68, msg_output_is_input);
  EXPECT_EQ(read_file(scratch_path("in.txt")), text);
}

// A full disk must not be reported as "no errors".
TEST(CommandLine, WriteFailureIsReported) {
  write_file(scratch_path("in.txt"), "some text\n");
  ProcessResult result = run_binary({"in.txt", "/dev/full"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "kestrin: /dev/full: No space left on device\n");
  EXPECT_NE(result.out.find("(72)  can't write output file\n"), std::string::npos) << result.out;
}

TEST(CommandLine, SuccessfulRunPrintsNoErrors) {
  write_file(scratch_path("in.txt"), "Hello\nWorld\n");
  ProcessResult result = run_binary({"in.txt", "out.pdf"});
  EXPECT_EQ(result.out, "\nno errors\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  std::string pdf = read_file(scratch_path("out.pdf"));
  EXPECT_EQ(pdf.substr(0, 14), std::string("%PDF-1.2\r\n%\x88\x89\x8A", 14));
  EXPECT_EQ(pdf.substr(pdf.size() - 7), "%%EOF\r\n");
}

// Options stand before the file names; anything else keeps the usage stop.
TEST(CommandLine, Options) {
  for (const char* help : {"-h", "--help"}) {
    ProcessResult result = run_binary({help});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("usage: kestrin [options] infile outfile\n", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("--warnings-as-errors"), std::string::npos);
    EXPECT_NE(result.out.find("--no-sync"), std::string::npos);
    EXPECT_EQ(result.err, "");
  }
  for (const char* version : {"-V", "--version"}) {
    ProcessResult result = run_binary({version});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "kestrin " KESTRIN_VERSION "\n");
  }
  write_file(scratch_path("in.txt"), "text\n");
  expect_stop_line(run_binary({"-x", "in.txt", "out.pdf"}), 1, 1, msg_usage,
                   "kestrin: unknown option -x (kestrin --help lists them)\n");
  expect_stop_line(run_binary({"-z", "in.txt"}), 1, 1, msg_usage);
  EXPECT_FALSE(exists(scratch_path("out.pdf")));

  // "--" ends the options, so a file name may begin with "-".
  write_file(scratch_path("-in.txt"), "text\n");
  ProcessResult result = run_binary({"-w", "--", "-in.txt", "out.pdf"});
  EXPECT_EQ(result.out, "\nno errors\n");
  EXPECT_EQ(read_file(scratch_path("out.pdf")), compile("text\n").pdf);
}

// "-" reads standard input and writes the PDF to standard output; the console
// text then goes to standard error, so that standard output is the PDF alone.
TEST(CommandLine, StandardInputAndOutput) {
  const std::string text = "Hello\nWorld\n";
  const std::string expected = compile(text).pdf;
  write_file(scratch_path("in.txt"), text);
  std::string dir = scratch_dir(), out;
  const std::string kestrin = std::string("'") + KESTRIN_BINARY + "'";
  ASSERT_EQ(
      run_shell("cd '" + dir + "' && " + kestrin + " - - <in.txt >piped.pdf 2>console.txt", &out),
      0)
      << out;
  EXPECT_EQ(read_file(scratch_path("piped.pdf")), expected);
  EXPECT_EQ(read_file(scratch_path("console.txt")), "\nno errors\n");

  // The file standard output is redirected to counts as standard output.
  ASSERT_EQ(
      run_shell("cd '" + dir + "' && " + kestrin + " in.txt /dev/stdout >named.pdf 2>console.txt",
                &out),
      0)
      << out;
  EXPECT_EQ(read_file(scratch_path("named.pdf")), expected);
  EXPECT_EQ(read_file(scratch_path("console.txt")), "\nno errors\n");

  // Standard output naming the input is refused before anything is written.
  ASSERT_EQ(
      run_shell("cd '" + dir + "' && " + kestrin + " - - <in.txt >>in.txt 2>console.txt", &out), 1);
  EXPECT_EQ(read_file(scratch_path("console.txt")), stop_text(1, 68, msg_output_is_input));
  EXPECT_EQ(read_file(scratch_path("in.txt")), text);
}

// Warnings go to standard error under the name the input was given; they
// change nothing else, unless they are to count as errors.
TEST(CommandLine, Warnings) {
  const std::string text = "a\tb\n";
  write_file(scratch_path("in.txt"), text);
  ProcessResult result = run_binary({"in.txt", "out.pdf"});
  EXPECT_EQ(result.out, "\nno errors\n");
  EXPECT_EQ(result.err.rfind("in.txt:1: warning: ", 0), 0u) << result.err;
  EXPECT_EQ(read_file(scratch_path("out.pdf")), compile(text).pdf);
  EXPECT_EQ(run_binary({"-w", "in.txt", "out.pdf"}).err, "");

  const std::string earlier = "an earlier good file";
  write_file(scratch_path("out.pdf"), earlier);
  EXPECT_EQ(run_binary({"-w", "--warnings-as-errors", "in.txt", "out.pdf"}).status, 0);
  write_file(scratch_path("out.pdf"), earlier);
  result = run_binary({"--warnings-as-errors", "in.txt", "out.pdf"});
  EXPECT_EQ(result.out, stop_text(2, 76, msg_warnings_as_errors));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(read_file(scratch_path("out.pdf")), earlier);

  std::string out;
  run_shell("cd '" + scratch_dir() + "' && '" + KESTRIN_BINARY + "' - out.pdf <in.txt", &out);
  EXPECT_NE(out.find("<stdin>:1: warning: "), std::string::npos) << out;
}
