// Fixed limits reached exactly are accepted (the step past each one is in
// the stop table of stops_test.cc).
#include "test_support.h"

TEST(Limits, ReachedExactly) {
  // The string pool: a title of 100000 characters.
  CompileResult result = compile("<outline 9 [" + std::string(max_text, 'a') + "]>", "doc", false);
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(run.outline_count, 9);  // level 9 with its eight fillers

  // A word of 256 characters: a URL.
  std::string url = "http://" + std::string(249, 'u');
  result = compile("x<action 0 0 9 9 0 <url " + url + ">>");
  EXPECT_EQ(result.console, success_text());
  EXPECT_NE(result.pdf.find("/URI (" + url + ")"), std::string::npos);

  // Sound 16 in an action, picture 9998 placed.
  result = compile("<sound 16 8000 1 8 Raw " + test_data("sound/tone-8k-u8.raw") + " jpg+ 9998 " +
                   test_data("jpeg/small-200x100.jpg") + ">x<action 0 0 9 9 0 <sound 16>>" +
                   "<pict+ 9998 0 0 0 0>");
  EXPECT_EQ(result.console, success_text());
}
