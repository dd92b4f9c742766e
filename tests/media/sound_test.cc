// Sounds: the sound object with the author's parameters and the file copied
// unchanged.
#include "test_support.h"

TEST(Sound, ObjectLayout) {
  std::string input = "<";
  for (int i = 0; i < 8; ++i)
    input += "sound " + std::to_string(i) + " 1 1 1 X " + test_data("sound/empty.raw") + " ";
  input += "sound 16 8000 1 8 Raw " + test_data("sound/tone-8k-u8.raw") + ">";
  CompileResult result = compile(input);
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(
      object_text(result.pdf, 40) + object_text(result.pdf, 41),
      crlf({"40 0 obj", "<< /Type /Sound /R 8000 /C 1 /B 8 /E /Raw /Length 41 0 R >>", "stream"}) +
          read_file(test_data("sound/tone-8k-u8.raw")) +
          crlf({"", "endstream", "endobj", "41 0 obj", "8000", "endobj"}));
  // An empty file: the stream line is followed directly by endstream.
  EXPECT_EQ(object_text(result.pdf, 24),
            crlf({"24 0 obj", "<< /Type /Sound /R 1 /C 1 /B 1 /E /X /Length 25 0 R >>", "stream",
                  "endstream", "endobj"}));
}

TEST(Sound, WholeFilesAndAnyEncodingWord) {
  CompileResult result =
      compile("<sound 0 8000 1 16 Signed " + test_data("sound/tone-8k-s16be.raw") +
              " sound 1 8000 1 8 Raw " + test_data("sound/tone-8k-u8.wav") + ">");
  ASSERT_EQ(result.console, success_text());
  EXPECT_NE(object_text(result.pdf, 24).find("/B 16 /E /Signed /Length"), std::string::npos);
  EXPECT_EQ(stream_of(result.pdf, 26), read_file(test_data("sound/tone-8k-u8.wav")) + "\r\n");
}

TEST(Sound, Stops) {
  const std::string tone = test_data("sound/tone-8k-u8.raw");
  compile_expecting_stop("x<sound 0 8000 1 8 Raw " + tone + ">", 1, 18, msg_not_in_page);
  compile_expecting_stop("<sound 17 8000 1 8 Raw " + tone + ">", 1, 19, msg_too_many_sounds);
  compile_expecting_stop("<sound -1 8000 1 8 Raw " + tone + ">", 1, 19, msg_too_many_sounds);
  compile_expecting_stop("<sound 1 8000 1 8 Raw missing.raw>", 1, 49, msg_cant_open_external);
  compile_expecting_stop("<sound 1 8000 1 8 Raw " + scratch_dir() + ">", 1, 49,
                         msg_cant_open_external);
  compile_expecting_stop("<sound 1 8000 1 8 Raw " + scratch_path("doc.pdf") + ">", 1, 71,
                         msg_output_is_input);
}
