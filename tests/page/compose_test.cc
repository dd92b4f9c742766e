// The page text loop: strings, escapes, line moves and page ends.
#include <algorithm>
#include <cstring>

#include "page.h"
#include "test_support.h"

namespace {

const std::string default_state = "BT\r\n/F1 12 Tf 25 811 Td 12 TL\r\n";

std::string first_stream(const std::string& input) { return stream_of(compile(input).pdf, 24); }

}  // namespace

// The three PDF string specials get a backslash; so do octal escapes whose
// written byte is one of them (296, 297 and 348 are 40, 41 and 92 plus 256).
TEST(Compose, StringSpecialsEscaped) {
  EXPECT_EQ(first_stream("Hello (world) a\\\\b\n"),
            default_state + crlf({"(Hello \\(world\\) a\\\\b) Tj T*", "ET"}));
  EXPECT_EQ(first_stream("\\450\\451\\534"), default_state + crlf({"(\\(\\)\\\\) Tj ", "ET"}));
}

// Closing brackets outside blocks and other bytes are written unchanged.
TEST(Compose, StrayClosersAndBytes) {
  EXPECT_EQ(first_stream("a]b}c\\r\\351"), default_state +
                                               "(a\x01"
                                               "b\x03"
                                               "c\r\xE9) Tj \r\nET\r\n");
  EXPECT_EQ(first_stream("x>y"), default_state + "(x \x05y) Tj \r\nET\r\n");
}

// A line feed on a page without text still opens the text object.
TEST(Compose, BlankLinesCount) {
  EXPECT_EQ(first_stream("\n\n"), default_state + crlf({"T*", "T*", "ET"}));
}

TEST(Compose, FormFeedEndsPage) {
  CompileResult result = compile("\fpage two\f");
  EXPECT_EQ(run.page_count, 3);  // an empty first page, the text, a trailing empty page
  EXPECT_EQ(stream_of(result.pdf, 24), "");
  EXPECT_EQ(stream_of(result.pdf, 28), default_state + crlf({"(page two) Tj ", "ET"}));
  EXPECT_EQ(stream_of(result.pdf, 32), "");
}

// The line that fills the page writes its T* before the stream closes, and
// the end of input then adds one more (empty) page.
TEST(Compose, FullPageEndsAtLastLineFeed) {
  std::string input;
  for (int i = 0; i < 66; ++i) input += "l\n";
  CompileResult result = compile(input);
  EXPECT_EQ(run.page_count, 2);
  std::string stream = stream_of(result.pdf, 24);
  EXPECT_EQ(stream.substr(stream.size() - 17), "\r\n(l) Tj T*\r\nET\r\n");
  EXPECT_EQ(stream_of(result.pdf, 28), "");
}

TEST(Compose, LinesCommandEndsPages) {
  compile("<lines 1>a\nb\nc");
  EXPECT_EQ(run.page_count, 3);
  compile("<lines -4>a\nb\nc");
  EXPECT_EQ(run.page_count, 3);
  // Lowered below the lines already counted: the page ends at the next line feed.
  CompileResult lowered = compile("a\nb\nc\nd<lines 2>e\nf\n");
  EXPECT_EQ(run.page_count, 2);
  EXPECT_NE(stream_of(lowered.pdf, 24).find("(c) Tj T*\r\n(de) Tj T*\r\nET"), std::string::npos);
  // 0 mid-page: this page ends at the next line feed, the next one derives 66.
  std::string input = "a\n<lines 0>b\n";
  for (int i = 0; i < 70; ++i) input += "x\n";
  compile(input);
  EXPECT_EQ(run.page_count, 3);
}

// A command on a line of its own swallows both line ends around it.
TEST(Compose, CommandOnOwnLineJoinsLines) {
  EXPECT_EQ(first_stream("first\n<rotate 0>\nsecond\n"),
            default_state + crlf({"(firstsecond) Tj T*", "ET"}));
}

// Plain text is shown in runs straight from the input window; escaping every
// letter sends each character through the token reader one by one instead.
// Both must give the same document, across the input and output buffers'
// boundaries, with blanks before brackets, parentheses and CR LF line ends.
TEST(Compose, RunsOfPlainTextMatchTokenByToken) {
  std::string text;
  unsigned seed = 7;
  const char* pieces[] = {"word ",       "(paren) ",    "a\\\\b ",    "x [/F2 9 Tf] y ",
                          "{1 w} ",      "<lines 70> ", "\r\n",       "\n",
                          "end.\n",      " \f",         "\xE9t\xE9 ", "tab\there ",
                          " [/F1 9 Tf]", " {2 w}",      " <rotate 0>", "\n\n",
                          " \r\n",      "=|\v "};
  while (text.size() < 300000) {
    seed = seed * 1103515245 + 12345;
    text += pieces[(seed >> 16) % (sizeof pieces / sizeof *pieces)];
  }
  // Escape every character that an escape gives back unchanged, outside
  // command groups: not the letters n, r and f, octal digits, brackets, line
  // and page ends, carriage returns, or a blank that the reader drops (one
  // before an opening or after a closing bracket).
  std::string escaped;
  bool in_group = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {  // an escape already: keep it as it is
      escaped += text.substr(i, 2);
      ++i;
      continue;
    }
    if (c == '<') in_group = true;
    if (c == '>') in_group = false;
    char next = i + 1 < text.size() ? text[i + 1] : 0, before = i > 0 ? text[i - 1] : 0;
    bool dropped = c == ' ' && ((next != 0 && std::strchr("[{<", next) != nullptr) ||
                                (before != 0 && std::strchr("]}>", before) != nullptr));
    bool keep = in_group || dropped || std::strchr("nrf01234567[]{}<>\n\r\f", c) != nullptr;
    if (!keep) escaped += '\\';
    escaped += c;
  }
  CompileResult plain = compile(text, "plain", false);
  CompileResult by_token = compile(escaped, "escaped", false);
  EXPECT_EQ(plain.console, success_text());
  EXPECT_EQ(by_token.console, success_text());
  EXPECT_GT(plain.pdf.size(), 200000u);
  EXPECT_TRUE(plain.pdf == by_token.pdf) << "the documents differ";

  // The same with runs switched off.
  RunHost token_by_token;
  token_by_token.text_in_runs = false;
  CompileResult plain_by_token = compile(text, "plain-by-token", false, token_by_token);
  EXPECT_TRUE(plain.pdf == plain_by_token.pdf) << "the documents differ";

  // The lines are counted as well: a stop at the end reports the last line.
  int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(compile(text + "<stop>", "plain", false).console,
            "stop" + stop_text(lines, 44, msg_unknown_command));
  EXPECT_EQ(compile(escaped + "<stop>", "escaped", false).console,
            "stop" + stop_text(lines, 44, msg_unknown_command));
}
