// Every seed input and every past finding of the fuzzers, replayed through
// the fuzz targets in the normal test suite (and so under the sanitizers in
// the sanitizer build).
#include <dirent.h>
#include <unistd.h>

#include "fuzz_targets.h"
#include "page.h"
#include "test_support.h"

namespace {

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d))
      if (entry->d_name[0] != '.') paths.push_back(dir + "/" + entry->d_name);
    closedir(d);
  }
  return paths;
}

// Runs every input of the target's corpus and findings; returns the count.
size_t replay(const std::string& target, int (*run_input)(const uint8_t*, size_t)) {
  char previous[4096];
  EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
  enter_fuzz_directory(KESTRIN_TEST_DATA);
  size_t count = 0;
  for (const char* kind : {"corpus", "findings"}) {
    for (const std::string& path :
         files_in(std::string(KESTRIN_FUZZ_DIR) + "/" + kind + "/" + target)) {
      SCOPED_TRACE(path);
      std::string bytes = read_file(path);
      run_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  EXPECT_EQ(chdir(previous), 0);
  return count;
}

}  // namespace

TEST(FuzzReplay, Documents) { EXPECT_GE(replay("document", fuzz_document), 20u); }

TEST(FuzzReplay, LanguageServerMessages) { EXPECT_GE(replay("lsp", fuzz_lsp), 3u); }

// Page text shown in runs must give the same documents as token by token,
// whatever the input: every document seed is compiled both ways.
TEST(FuzzReplay, RunsOfTextMatchTokenByToken) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  enter_fuzz_directory(KESTRIN_TEST_DATA);
  for (const std::string& path : files_in(std::string(KESTRIN_FUZZ_DIR) + "/corpus/document")) {
    std::string bytes = read_file(path), console[2], pdf[2];
    for (int runs = 0; runs < 2; ++runs) {
      RunHost host;
      host.text_in_runs = runs == 1;
      host.console_capture = &console[runs];
      run_kestrin_on_text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                          "out.pdf", RunOptions{}, host);
      pdf[runs] = read_file("out.pdf");
    }
    EXPECT_EQ(console[0], console[1]) << path;
    EXPECT_TRUE(pdf[0] == pdf[1]) << path << ": the documents differ";
  }
  EXPECT_EQ(chdir(previous), 0);
}
TEST(FuzzReplay, Fonts) { EXPECT_GE(replay("font", fuzz_font), 5u); }
TEST(FuzzReplay, Gif) { EXPECT_GT(replay("gif", fuzz_gif), 20u); }
TEST(FuzzReplay, Image) { EXPECT_GT(replay("image", fuzz_image), 30u); }
TEST(FuzzReplay, Jpeg) { EXPECT_GT(replay("jpeg", fuzz_jpeg), 5u); }
TEST(FuzzReplay, Operators) { EXPECT_GE(replay("operators", fuzz_operators), 5u); }
