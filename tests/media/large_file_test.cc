// External files over 2 GiB: the byte count, the stream length and the
// offsets after it must not wrap at 32 bits.
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

#include "test_support.h"

TEST(LargeFiles, SoundOverTwoGigabytes) {
  const int64_t size = (int64_t{1} << 31) + 1000;
  struct statvfs space;
  if (statvfs(scratch_dir().c_str(), &space) != 0 ||
      static_cast<int64_t>(space.f_bavail) * static_cast<int64_t>(space.f_frsize) <
          3 * size / 2 + (int64_t{1} << 29))
    GTEST_SKIP() << "not enough free space for a 2 GiB output";
  const std::string big = scratch_path("big.raw"), pdf = scratch_path("big.pdf");
  std::FILE* file = std::fopen(big.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  if (truncate(big.c_str(), size) != 0) GTEST_SKIP() << "the file system cannot hold a sparse file";
  const std::string input = scratch_path("in.txt");
  write_file(input, "<sound 0 8000 1 8 Raw " + big + ">after");

  std::string console;
  const char* argv[] = {"kestrin", input.c_str(), pdf.c_str()};
  RunHost host;
  host.console_capture = &console;
  int status = run_kestrin(3, argv, host);
  unlink(big.c_str());
  EXPECT_EQ(console, success_text());
  EXPECT_EQ(status, 0);

  // The tail of the file: the length object and the table's offsets.
  file = std::fopen(pdf.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  std::fseek(file, 0, SEEK_END);
  int64_t file_size = ftello(file);
  const int64_t tail_size = 8192;
  fseeko(file, file_size - tail_size, SEEK_SET);
  std::string tail(tail_size, '\0');
  ASSERT_EQ(std::fread(&tail[0], 1, tail.size(), file), tail.size());
  std::fclose(file);
  size_t length_object = tail.find("\r\n25 0 obj\r\n" + std::to_string(size) + "\r\nendobj\r\n");
  ASSERT_NE(length_object, std::string::npos);
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010lld 00000 n\r\n",
                static_cast<long long>(file_size - tail_size + length_object + 2));
  EXPECT_NE(tail.find(entry), std::string::npos) << entry;

  // A reader finds the objects past 2 GiB through the table.
  std::string shown;
  if (run_shell("command -v qpdf", nullptr) == 0) {
    EXPECT_EQ(run_shell("qpdf --show-object=25 '" + pdf + "'", &shown), 0) << shown;
    EXPECT_EQ(shown, std::to_string(size) + "\n");
  }
  unlink(pdf.c_str());
}
