// Output channel: the newline rule, counting, number formats, raw copies.
#include "pdf.h"
#include "test_support.h"

namespace {

void start() {
  reset_run_state();
  open_scratch_output();
}

}  // namespace

TEST(Output, NewlineRuleWithinAndAcrossCalls) {
  start();
  emit_text("\n");  // the very first output still gets its line end
  emit_text("a\n\n\nb");
  emit_text("x\n");
  emit_text("\ny");
  emit_text("");
  emit_text("\n");
  EXPECT_EQ(run.bytes_written, 12);
  EXPECT_EQ(written_output(), "\r\na\r\nbx\r\ny\r\n");
}

// A raw byte resets the memory: a copied line feed and a following text line
// feed both stay.
TEST(Output, RawByteResetsNewlineMemory) {
  start();
  emit_raw_byte('\n');
  emit_text("\nendstream");
  emit_raw_byte(0x88);
  EXPECT_EQ(run.last_char_written, 0);
  EXPECT_EQ(written_output(), "\n\r\nendstream\x88");
}

TEST(Output, HighBytesPassUnchanged) {
  start();
  emit_text("%\x88\x89\x8A");
  EXPECT_EQ(run.bytes_written, 4);
  EXPECT_EQ(written_output(), "%\x88\x89\x8A");
}

TEST(Output, Integers) {
  start();
  for (int64_t v : {0, -42, 2147483647, -2147483647 - 1}) {
    emit_int(v);
    emit_text(" ");
  }
  emit_int10(0);
  emit_text(" ");
  emit_int10(17);
  emit_text(" ");
  emit_int10(3000000000);  // offsets beyond 2 GiB keep their digits
  EXPECT_EQ(written_output(), "0 -42 2147483647 -2147483648 0000000000 0000000017 3000000000");
}

TEST(Output, BuilderComposesOneText) {
  char buffer[64];
  char* cursor = buffer;
  builder_put_text("q ", cursor);
  builder_put_int(10, cursor);
  builder_put_text(" Do Q\n", cursor);
  EXPECT_STREQ(buffer, "q 10 Do Q\n");
  EXPECT_EQ(cursor, buffer + 10);
  builder_put_int(-2147483647 - 1, cursor);
  builder_put_text("", cursor);
  EXPECT_STREQ(buffer, "q 10 Do Q\n-2147483648");
}

// An empty file writes nothing and keeps the newline memory, so the stream
// keyword's line end is not doubled.
TEST(Output, CopyEmptyAndNonEmptyFiles) {
  start();
  write_file(scratch_path("empty"), "");
  write_file(scratch_path("data"), "ab\n");
  emit_text("stream\n");
  EXPECT_EQ(copy_file_into_output(scratch_path("empty").c_str()), 0);
  emit_text("\nendstream\n");
  EXPECT_EQ(copy_file_into_output(scratch_path("data").c_str()), 3);
  emit_text("\nendstream\n");
  EXPECT_EQ(written_output(), "stream\r\nendstream\r\nab\n\r\nendstream\r\n");
}

// Copies larger than the channel's buffer keep every byte and the count.
TEST(Output, CopyLargeFileInBlocks) {
  start();
  std::string data;
  for (int i = 0; i < 300000; ++i) data += static_cast<char>(i * 7 % 251);
  write_file(scratch_path("big"), data);
  emit_text("x\n");
  EXPECT_EQ(copy_file_into_output(scratch_path("big").c_str()), 300000);
  EXPECT_EQ(run.bytes_written, 300003);
  EXPECT_EQ(written_output(), "x\r\n" + data);
}

TEST(Output, CopyOfMissingFileOrDirectoryStops) {
  start();
  for (std::string path : {scratch_path("missing"), scratch_dir()}) {
    Stop stop = expect_stop([&] { copy_file_into_output(path.c_str()); });
    EXPECT_EQ(stop.code, 49);
    EXPECT_EQ(stop.message, msg_cant_open_external);
  }
  Stop stop = expect_stop([&] { copy_file_into_output(scratch_path("out.bin").c_str()); });
  EXPECT_EQ(stop.code, 71);
  EXPECT_EQ(stop.message, msg_output_is_input);
  written_output();
}
