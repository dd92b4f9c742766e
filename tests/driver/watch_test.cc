// kestrin --watch: a change to the input and to a picture each give one
// run, a broken save keeps the last good PDF, and Ctrl-C ends the program
// leaving no temporary file. The test waits for the status lines, never for
// a fixed time, except to see that no extra run follows.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_support.h"

namespace {

int count_lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

// Waits until the status file has `lines` lines (at most 20 seconds).
std::string wait_for_lines(const std::string& path, int lines) {
  std::string text;
  for (int tries = 0; tries < 2000 && count_lines(text = read_file(path)) < lines; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return text;
}

// Saves as editors do: a new file renamed over the old one.
void save(const std::string& path, const std::string& bytes) {
  write_file(path + ".new", bytes);
  ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* entry = readdir(d))
    if (entry->d_name[0] != '.' || entry->d_name[1] > '.') names.push_back(entry->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(Watch, RebuildsOnceKeepsTheLastGoodPdfAndEndsOnCtrlC) {
  const std::string dir = scratch_dir(), status = dir + "/status";
  write_file(dir + "/photo.jpg", read_file(test_data("jpeg/small-200x100.jpg")));
  write_file(dir + "/doc.kst", "<image 1 photo.jpg>One page.<pict+ 1 0 0 0 0>\n");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGINT, SIG_DFL);
    int err = open(status.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, STDERR_FILENO);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execl(KESTRIN_BINARY, "kestrin", "--watch", "doc.kst", "doc.pdf", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string text = wait_for_lines(status, 1);
  EXPECT_NE(text.find(" doc.pdf: 1 page in "), std::string::npos) << text;

  // The input, then the picture, each once; a run of two pages shows that
  // the second build read the new input.
  save(dir + "/doc.kst", "<image 1 photo.jpg>One page.<pict+ 1 0 0 0 0>\\fTwo.\n");
  text = wait_for_lines(status, 2);
  EXPECT_NE(text.find(" doc.pdf: 2 pages in "), std::string::npos) << text;
  save(dir + "/photo.jpg", read_file(test_data("jpeg/grey-240x180.jpg")));
  text = wait_for_lines(status, 3);
  const std::string good = read_file(dir + "/doc.pdf");
  EXPECT_NE(good.find("/Width 240"), std::string::npos);

  // A broken save: the stop on the status line, the last good PDF kept.
  save(dir + "/doc.kst", "<image 1 photo.jpg>One page.<nonsense>\n");
  text = wait_for_lines(status, 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // no further run follows
  text = read_file(status);
  EXPECT_EQ(count_lines(text), 5) << text;  // and the stop at its place, as standard error has it
  EXPECT_NE(text.find("doc.kst:1:30: error: unknown ctrl command\n"), std::string::npos) << text;
  EXPECT_NE(text.find("doc.pdf: error in line 1 (44)  unknown ctrl command (nonsense) in "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("; the last good PDF is kept\n"), std::string::npos) << text;
  EXPECT_EQ(read_file(dir + "/doc.pdf"), good);

  kill(child, SIGINT);
  int wait_status;
  ASSERT_EQ(waitpid(child, &wait_status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGINT) << wait_status;
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"doc.kst", "doc.pdf", "photo.jpg", "status"}));
}
