// What the PDF readers make of multi-page text documents.
#include "test_support.h"

// The text comes back from the file line for line, page by page.
TEST(Readers, TextOfEveryPageComesBack) {
  std::string input;
  for (int page = 1; page <= 3; ++page) {
    for (int line = 1; line <= 66; ++line)
      input += "page " + std::to_string(page) + " line " + std::to_string(line) + "\n";
  }
  CompileResult result = compile(input + "(tail) \\\\ end");
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(run.page_count, 4);
  std::string text;
  ASSERT_EQ(run_shell("pdftotext -layout '" + result.path + "' -", &text), 0);
  size_t at = 0;
  for (int page = 1; page <= 3; ++page) {
    for (int line = 1; line <= 66; ++line) {
      std::string expected =
          "page " + std::to_string(page) + " line " + std::to_string(line) + "\n";
      size_t found = text.find(expected, at);
      ASSERT_NE(found, std::string::npos) << expected;
      at = found + expected.size();
    }
  }
  EXPECT_NE(text.find("(tail) \\ end", at), std::string::npos);
}
