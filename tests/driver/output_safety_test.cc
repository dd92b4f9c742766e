// The output appears only when a run succeeds: every way a run can stop
// leaves an earlier file byte for byte and no other file behind.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <functional>
#include <new>
#include <set>
#include <stdexcept>

#include "input.h"
#include "media.h"
#include "pdf.h"
#include "test_support.h"

namespace {

const std::string earlier = "%PDF an earlier good file\n";

// The names in the scratch directory, apart from the captured streams.
std::set<std::string> files_left() {
  std::set<std::string> names;
  DIR* dir = opendir(scratch_dir().c_str());
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != ".." && name != ".stdout" && name != ".stderr") names.insert(name);
  }
  closedir(dir);
  return names;
}

std::string shell_in_scratch(const std::string& command, int* status) {
  std::string out;
  *status = run_shell("cd '" + scratch_dir() + "' && " + command, &out);
  return out;
}

const std::string kestrin = std::string("'") + KESTRIN_BINARY + "'";

}  // namespace

// A stop of any kind, after an earlier good run, with no earlier file, and
// through a symbolic link.
TEST(OutputSafety, StoppedRunKeepsEarlierFile) {
  write_file(scratch_path("bad.txt"), "good text\n<nonsense>");
  write_file(scratch_path("out.pdf"), earlier);
  chmod(scratch_path("out.pdf").c_str(), 0640);
  ProcessResult result = run_binary({"bad.txt", "out.pdf"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(read_file(scratch_path("out.pdf")), earlier);
  EXPECT_EQ(files_left(), (std::set<std::string>{"bad.txt", "out.pdf"}));

  // No earlier file: nothing at all is left.
  run_binary({"bad.txt", "new.pdf"});
  EXPECT_EQ(files_left(), (std::set<std::string>{"bad.txt", "out.pdf"}));

  // A successful run replaces the file and keeps its mode.
  write_file(scratch_path("good.txt"), "good text\n");
  EXPECT_EQ(run_binary({"good.txt", "out.pdf"}).status, 0);
  EXPECT_EQ(read_file(scratch_path("out.pdf")), compile("good text\n").pdf);
  struct stat info;
  stat(scratch_path("out.pdf").c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // Through a link: the target is replaced, the link stays a link.
  mkdir(scratch_path("dir").c_str(), 0755);
  write_file(scratch_path("dir/target.pdf"), earlier);
  ASSERT_EQ(symlink("dir/target.pdf", scratch_path("link.pdf").c_str()), 0);
  run_binary({"bad.txt", "link.pdf"});
  EXPECT_EQ(read_file(scratch_path("dir/target.pdf")), earlier);
  EXPECT_EQ(run_binary({"good.txt", "link.pdf"}).status, 0);
  EXPECT_EQ(read_file(scratch_path("dir/target.pdf")), compile("good text\n").pdf);
  lstat(scratch_path("link.pdf").c_str(), &info);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  rmdir(scratch_path("dir").c_str());  // fails, and so checks, if a stray file is left
  EXPECT_EQ(files_left().count("dir"), 1u);

  // A relative link in another folder names a file beside itself.
  mkdir(scratch_path("sub").c_str(), 0755);
  write_file(scratch_path("sub/target.pdf"), earlier);
  ASSERT_EQ(symlink("target.pdf", scratch_path("sub/link.pdf").c_str()), 0);
  EXPECT_EQ(run_binary({"good.txt", "sub/link.pdf"}).status, 0);
  EXPECT_EQ(read_file(scratch_path("sub/target.pdf")), compile("good text\n").pdf);
  lstat(scratch_path("sub/link.pdf").c_str(), &info);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(files_left().count("target.pdf"), 0u);
}

// A picture named as the output is found before a byte is written to it,
// also when it does not exist yet, and the picture is never touched.
TEST(OutputSafety, MediaFileAsOutputIsNeverWritten) {
  const std::string photo = read_file(test_data("jpeg/photo-640x480.jpg"));
  write_file(scratch_path("photo.jpg"), photo);
  ASSERT_EQ(symlink("photo.jpg", scratch_path("alias.pdf").c_str()), 0);
  write_file(scratch_path("doc.txt"), "<jpg+ 1 photo.jpg>");
  for (const char* output : {"photo.jpg", "alias.pdf"}) {
    ProcessResult result = run_binary({"doc.txt", output});
    EXPECT_EQ(result.out, stop_text(1, 71, msg_output_is_input)) << output;
    EXPECT_EQ(read_file(scratch_path("photo.jpg")), photo);
  }
  write_file(scratch_path("doc.txt"), "<jpg+ 1 later.pdf>");
  EXPECT_EQ(run_binary({"doc.txt", "later.pdf"}).out, stop_text(1, 71, msg_output_is_input));
  EXPECT_EQ(files_left(), (std::set<std::string>{"alias.pdf", "doc.txt", "photo.jpg"}));
}

// Signals, a file-size limit and a full device end the run without a trace.
TEST(OutputSafety, SignalsAndLimits) {
  write_file(scratch_path("out.pdf"), earlier);
  int status;
  // The input is a FIFO that never ends; the run is stopped while it waits.
  std::string out = shell_in_scratch(
      "mkfifo slow; (printf 'text'; sleep 2) >slow & " + kestrin +
          " slow out.pdf & pid=$!; sleep 0.5; kill -TERM $pid; wait $pid; echo status $?; rm slow",
      &status);
  EXPECT_NE(out.find("status 143"), std::string::npos) << out;
  EXPECT_EQ(read_file(scratch_path("out.pdf")), earlier);

  write_file(scratch_path("big.txt"), std::string(200000, 'x'));
  out = shell_in_scratch("ulimit -f 8; " + kestrin + " big.txt out.pdf", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("(72)  can't write output file"), std::string::npos) << out;
  EXPECT_NE(out.find("kestrin: out.pdf: File too large"), std::string::npos) << out;
  EXPECT_EQ(read_file(scratch_path("out.pdf")), earlier);
  EXPECT_EQ(files_left(), (std::set<std::string>{"big.txt", "out.pdf"}));

  // A PDF smaller than the channel's buffer fails only in the last write.
  write_file(scratch_path("small.txt"), std::string(20000, 'x'));
  out = shell_in_scratch("ulimit -f 8; " + kestrin + " small.txt out.pdf", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("(72)  can't write output file"), std::string::npos) << out;
  EXPECT_EQ(read_file(scratch_path("out.pdf")), earlier);
  EXPECT_EQ(files_left(), (std::set<std::string>{"big.txt", "out.pdf", "small.txt"}));

  // Two runs at once each write a file of their own: the output is one whole.
  write_file(scratch_path("a.txt"), std::string(3000000, 'a'));
  write_file(scratch_path("b.txt"), std::string(3000000, 'b'));
  shell_in_scratch(kestrin + " a.txt out.pdf & " + kestrin + " b.txt out.pdf; wait", &status);
  std::string pdf = read_file(scratch_path("out.pdf"));
  EXPECT_TRUE(pdf == compile(std::string(3000000, 'a'), "a", false).pdf ||
              pdf == compile(std::string(3000000, 'b'), "b", false).pdf);
}

// A read error is no end of file; a device is no picture; a pipe is read
// through.
TEST(OutputSafety, ReadErrorsDevicesAndPipes) {
  // Reading /proc/self/mem from its start fails with EIO.
  ProcessResult result = run_binary({"/proc/self/mem", "out.pdf"});
  EXPECT_EQ(result.out, stop_text(1, 73, msg_cant_read_input));
  EXPECT_EQ(result.err, "kestrin: /proc/self/mem: Input/output error\n");
  // A device is refused as a picture or sound, never as the document itself.
  EXPECT_EQ(run_binary({"/dev/null", "out.pdf"}).out, success_text());
  struct Case {
    std::string input;
    int code, message;
    std::string err;
  } cases[] = {
      {"<sound 1 1 1 1 Raw /proc/self/mem>", 74, msg_cant_read_external,
       "kestrin: /proc/self/mem: Input/output error\n"
       "doc.txt:1:20: error: can't read external file\n"},
      {"<jpg+ 1 /proc/self/mem>", 74, msg_cant_read_external,
       "kestrin: /proc/self/mem: Input/output error\n"
       "doc.txt:1:9: error: can't read external file\n"},
      {"<sound 1 1 1 1 Raw /dev/zero>", 49, msg_cant_open_external,
       "kestrin: /dev/zero: No such device\ndoc.txt:1:20: error: can't open external file\n"},
      {"<jpg 1 1 1 /dev/urandom>", 49, msg_cant_open_external,
       "kestrin: /dev/urandom: No such device\ndoc.txt:1:12: error: can't open external file\n"},
      {"<gif 1 1 1 /dev/zero>", 50, msg_cant_open_external,
       "kestrin: /dev/zero: No such device\ndoc.txt:1:12: error: can't open external file\n"},
  };
  for (const Case& c : cases) {
    write_file(scratch_path("doc.txt"), c.input);
    result = run_binary({"doc.txt", "out.pdf"});
    EXPECT_EQ(result.out, stop_text(1, c.code, c.message)) << c.input;
    EXPECT_EQ(result.err, c.err) << c.input;
  }

  // jpg+ from a pipe embeds the whole file, as from the file itself.
  const std::string photo = test_data("jpeg/photo-640x480.jpg");
  write_file(scratch_path("doc.txt"), "<jpg+ 1 /dev/stdin>");
  int status;
  shell_in_scratch("cat '" + photo + "' | " + kestrin + " doc.txt piped.pdf", &status);
  EXPECT_EQ(status, 0);
  std::string expected = compile("<jpg+ 1 " + photo + ">").pdf;
  EXPECT_EQ(read_file(scratch_path("piped.pdf")), expected);
}

// A cross-reference entry has room for ten digits of offset.
TEST(OutputSafety, OffsetBeyondTenDigitsStops) {
  feed("");
  open_scratch_output();
  run.bytes_written = max_xref_offset;
  begin_object("");
  run.bytes_written = max_xref_offset + 1;
  Stop stop = expect_stop([] { begin_object(""); });
  EXPECT_EQ(stop.code, 75);
  EXPECT_EQ(stop.message, msg_output_too_large);
  written_output();
}

namespace {

std::string png_chunk(const char* type, const std::string& data) {
  std::string chunk;
  for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>(data.size() >> shift);
  std::string body = type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
  chunk += body;
  for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>(crc >> shift);
  return chunk;
}

// A black interlaced RGBA picture: decoding it takes the whole picture in
// memory, width x height x 4 bytes.
std::string interlaced_png(uint32_t width, uint32_t height) {
  std::string head;
  for (uint32_t value : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) head += static_cast<char>(value >> shift);
  head += std::string("\x08\x06\x00\x00\x01", 5);
  size_t raw = 0;
  const int pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  for (const auto& p : pass) {
    size_t columns = (width - p[0] + p[2] - 1) / p[2], rows = (height - p[1] + p[3] - 1) / p[3];
    if (columns && rows) raw += rows * (1 + 4 * columns);
  }
  std::string zeros(raw, '\0'), packed(compressBound(raw), '\0');
  uLongf size = packed.size();
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &size,
            reinterpret_cast<const Bytef*>(zeros.data()), raw, 1);
  packed.resize(size);
  return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", head) +
         png_chunk("IDAT", packed) + png_chunk("IEND", "");
}

}  // namespace

// Any exception other than the stop ends the run as a stop: memory that
// could not be had with 89, anything else with 90 and its text on standard
// error. The output is closed and the temporary file removed, as after any
// stop; a bad_alloc once ended the process by abort (status 134) and left
// the temporary file.
TEST(OutputSafety, ExceptionsEndAsStops) {
  const std::string output = scratch_path("out.pdf");
  write_file(output, earlier);
  struct Case {
    std::function<void()> raise;
    int code, message;
    std::string err;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, 89, msg_out_of_memory, ""},
      {[] { throw std::length_error("vector::_M_default_append"); }, 90, msg_internal_error,
       "kestrin: internal error: vector::_M_default_append\n"},
      {[] { throw 7; }, 90, msg_internal_error,
       "kestrin: internal error: an exception of unknown kind\n"},
      {[] {}, 90, msg_internal_error,
       "kestrin: internal error: the run ended without its stop\n"},
  };
  for (const Case& c : cases) {
    RunHost host;
    std::string console, errors;
    host.console_capture = &console;
    host.diagnostics_capture = &errors;
    int status = run_compiler(RunOptions{}, host, "<memory>", [&] {
      static const unsigned char text[] = "text";
      input_open_memory(text, 4);
      ASSERT_TRUE(output_open(output.c_str()));
      emit_text(file_header);
      output_flush();
      c.raise();
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(console, stop_text(1, c.code, c.message));
    EXPECT_EQ(errors, c.err);
    EXPECT_EQ(read_file(output), earlier);
    EXPECT_EQ(files_left(), (std::set<std::string>{"out.pdf"}));
    EXPECT_EQ(run.output_file.file, nullptr);
  }

  // A picture that needs more memory than the process may have.
#if !defined(__SANITIZE_ADDRESS__)
  write_file(scratch_path("big.png"), interlaced_png(2800, 2800));
  write_file(scratch_path("doc.txt"), "<image 1 big.png>");
  int status;
  std::string out = shell_in_scratch("ulimit -v 20000; " + kestrin + " doc.txt out.pdf", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, stop_text(1, 89, msg_out_of_memory));
  EXPECT_EQ(read_file(output), earlier);
  EXPECT_EQ(files_left(), (std::set<std::string>{"big.png", "doc.txt", "out.pdf"}));
#endif
}
