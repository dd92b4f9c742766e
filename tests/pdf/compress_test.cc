// The compress option: Flate streams that the readers accept and that give
// back the same text, pictures and sound as the file without it.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>

#include "test_support.h"

namespace {

// Converts `input` with the given compression into scratch file `name`.pdf
// (or into `name` itself when it is a path), compressing on a second thread
// when `beside`.
CompileResult convert(const std::string& input, bool compress, const std::string& name,
                      bool beside = true) {
  CompileResult result;
  result.path = name[0] == '/' ? name : scratch_path(name + ".pdf");
  RunOptions options;
  options.compress = compress;
  RunHost host;
  host.console_capture = &result.console;
  host.compress_beside = beside;
  std::string errors;
  if (!beside) host.diagnostics_capture = &errors;  // the tests below say it twice
  result.status = run_kestrin_on_text(reinterpret_cast<const unsigned char*>(input.data()),
                                      input.size(), result.path.c_str(), options, host);
  if (name[0] != '/') result.pdf = read_file(result.path);
  return result;
}

std::string shell_output(const std::string& command) {
  std::string out;
  run_shell(command, &out);
  return out;
}

// Both files' text, and their pages drawn small, must be the same.
void expect_same_document(const CompileResult& plain, const CompileResult& packed) {
  EXPECT_EQ(shell_output("pdftotext '" + packed.path + "' -"),
            shell_output("pdftotext '" + plain.path + "' -"));
  std::string dir = scratch_dir();
  EXPECT_EQ(run_shell("cd '" + dir + "' && rm -f p-*.pgm z-*.pgm && pdftoppm -r 12 -gray '" +
                          plain.path + "' p && pdftoppm -r 12 -gray '" + packed.path +
                          "' z && for f in p-*.pgm; do cmp \"$f\" \"z${f#p}\"; done",
                      nullptr),
            0);
}

}  // namespace

// Every example, compressed: qpdf, pdfinfo and mutool accept it, and it reads
// and renders as the file without compression, in fewer bytes.
TEST(Compress, ExamplesReadAndRenderTheSame) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(KESTRIN_EXAMPLES), 0);
  std::vector<std::string> names;
  DIR* dir = opendir(".");
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".txt") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string input = read_file(name);
    CompileResult plain = convert(input, false, "plain");
    CompileResult packed = convert(input, true, "packed");
    EXPECT_EQ(packed.console, success_text());
    EXPECT_LT(packed.pdf.size(), plain.pdf.size());
    EXPECT_NE(packed.pdf.find("/Filter /FlateDecode >>\r\nstream\r\n"), std::string::npos);
    check_with_readers(packed.path, run.page_count);
    expect_same_document(plain, packed);
  }
  EXPECT_EQ(chdir(previous), 0);
}

// A sound's samples and a page longer than the channel's buffer (compressed
// through zlib's stream rather than at once) come back unchanged.
TEST(Compress, SoundAndLongPage) {
  std::string raw = test_data("sound/tone-8k-u8.raw");
  std::string long_line;
  for (int i = 0; long_line.size() < 300000; ++i) long_line += std::to_string(i * 7919) + " ";
  std::string input = "<sound 0 8000 1 8 Raw " + raw + ">" + long_line + "\nend";
  CompileResult plain = convert(input, false, "plain");
  CompileResult packed = convert(input, true, "packed");
  ASSERT_EQ(packed.console, success_text());
  EXPECT_NE(object_text(packed.pdf, 24).find("/Filter /FlateDecode"), std::string::npos);
  check_with_readers(packed.path, 1);
  EXPECT_EQ(shell_output("qpdf --show-object=24 --filtered-stream-data '" + packed.path + "'"),
            read_file(raw));
  EXPECT_EQ(shell_output("qpdf --show-object=26 --filtered-stream-data '" + packed.path + "'"),
            stream_of(plain.pdf, 26));
  expect_same_document(plain, packed);
}

// The command line's -z and --compress choose it.
TEST(Compress, CommandLineOption) {
  write_file(scratch_path("short.txt"), "some text\n");
  for (const char* option : {"-z", "--compress"}) {
    ProcessResult result = run_binary({option, "short.txt", "short.pdf"});
    EXPECT_EQ(result.out, success_text());
    EXPECT_NE(read_file(scratch_path("short.pdf")).find("/Filter /FlateDecode"), std::string::npos);
  }
}

// Streams compressed on the second thread give the file, the console line
// and the status of streams compressed where they end: many small pages with
// a foot that names the last page, pages past the buffer between them,
// sounds, stops on the way, and writes that fail at once or part of the way.
TEST(Compress, SecondThreadGivesTheSameFile) {
  std::string pages, big = "{" + std::string(70000, ' ') + "0 0 m 1 1 l S}";
  for (int i = 0; i < 400; ++i) pages += "page " + std::to_string(i) + "\n\\f";
  const std::string sound = "<sound 1 8000 1 8 Raw " + test_data("sound/tone-8k-u8.raw") + ">";
  const struct {
    const char* name;
    std::string input;
    const char* output;  // a path, or a scratch name
    rlim_t file_limit;   // bytes the output may take; 0: no limit
  } cases[] = {
      {"many pages", "<margins 20 20 20 20 foot centre 5 9 [%p of %n]>" + pages, "many", 0},
      {"long pages", pages + big + pages + big + "x\\f" + big, "long", 0},
      {"sounds", pages + sound + pages + sound, "sounds", 0},
      {"stop", pages + "text <nosuch> " + pages, "stop", 0},
      {"stop in a long page", pages + big + "<nosuch>", "stop-long", 0},
      {"full device", pages, "/dev/full", 0},
      {"failing part of the way", pages + pages + pages, "limited", 20000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CompileResult alone, beside;
    rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limit = before;
    if (c.file_limit) limit.rlim_cur = c.file_limit;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    alone = convert(c.input, true, c.output, false);
    beside = convert(c.input, true, c.output, true);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(beside.console, alone.console);
    if (c.file_limit) {
      EXPECT_EQ(beside.console.find("line 1 "), std::string::npos);  // a later one
    }
    EXPECT_EQ(beside.status, alone.status);
    EXPECT_TRUE(beside.pdf == alone.pdf);
  }
}
