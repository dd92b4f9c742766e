// Tabs and wrapping of page text: columns, breaks, the page's line count,
// and no character lost.
#include <algorithm>

#include "test_support.h"

namespace {

// The strings of the first page's text, one per line, as written.
std::vector<std::string> shown_lines(const std::string& input) {
  std::string stream = stream_of(compile(input).pdf, 24);
  std::vector<std::string> lines;
  for (size_t at = stream.find('('); at != std::string::npos; at = stream.find('(', at)) {
    size_t end = stream.find(") Tj", at);
    lines.push_back(stream.substr(at + 1, end - at - 1));
    at = end;
  }
  return lines;
}

std::string without_blanks(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](char c) { return c == ' ' || c == '\n' || c == '\f'; }),
             text.end());
  return text;
}

}  // namespace

TEST(Layout, TabsAndWrapping) {
  struct Case {
    const char* situation;
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"tab stops", "<tabs 4>a\tbcde\tf\n\tg\\(\th", {"a   bcde    f", "    g\\(  h"}},
      {"tabs set after plain text", "abc<tabs 8>\tx", {"abc     x"}},
      {"tabs off again", "<tabs 4 tabs 0>a\tb", {"a\tb"}},
      {"break after the last blank",
       "<wrap 10>aaaa bbbb cccc dddd eeee",
       {"aaaa bbbb ", "cccc dddd ", "eeee"}},
      {"blank just past the width", "<wrap 10>aaaa bbbbb cc", {"aaaa bbbbb ", "cc"}},
      {"word longer than the width",
       "<wrap 10>" + std::string(25, 'x') + " y",
       {std::string(10, 'x'), std::string(10, 'x'), std::string(5, 'x') + " y"}},
      {"blocks and commands are no columns",
       "<wrap 10>abcde[1 w]fgh<rotate 0>ij k",
       {"abcde", "fghij ", "k"}},
      {"a tab that reaches the width ends the line",
       "<tabs 8 wrap 10>abcdefghi\tx",
       {"abcdefghi  ", "x"}},
      {"line feeds start a new count",
       "<wrap 10>abcdefghij\nabcdefghij",
       {"abcdefghij", "abcdefghij"}},
      {"held word shown before a form feed", "<wrap 10>abc def\fx", {"abc def"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation);
    EXPECT_EQ(shown_lines(c.input), c.lines);
  }
}

// A wrapped line counts for the page: with 3 lines a page, 50 characters
// at 10 a line fill two pages; later pages of 20 lines hold no more, no line
// is wider than its 37 columns, and nothing is lost on the way.
TEST(Layout, WrappedLinesEndPages) {
  std::string words;
  for (int i = 0; i < 300; ++i) words += "word" + std::to_string(i) + (i % 9 ? " " : "\n");
  std::string text =
      "<lines 3 wrap 10>" + std::string(50, 'z') + "\f<lines 20 tabs 8 wrap 37>" + words;
  CompileResult result = compile(text);
  ASSERT_EQ(result.console, success_text());
  std::string shown;
  run_shell("pdftotext '" + result.path + "' -", &shown);
  EXPECT_EQ(without_blanks(shown), std::string(50, 'z') + without_blanks(words));
  run_shell("pdftotext -layout '" + result.path + "' -", &shown);
  std::vector<std::string> pages;
  for (size_t at = 0, end; (end = shown.find('\f', at)) != std::string::npos; at = end + 1)
    pages.push_back(shown.substr(at, end - at));
  ASSERT_GE(pages.size(), 5u);
  EXPECT_EQ(std::count(pages[0].begin(), pages[0].end(), 'z'), 30);
  for (size_t page = 2; page < pages.size(); ++page) {
    EXPECT_LE(std::count(pages[page].begin(), pages[page].end(), '\n'), 20);
    for (size_t at = 0, end; (end = pages[page].find('\n', at)) != std::string::npos;
         at = end + 1) {
      std::string line = pages[page].substr(at, end - at);
      line.erase(line.find_last_not_of(' ') + 1);
      EXPECT_LE(line.size(), 37u) << line;
    }
  }
}
