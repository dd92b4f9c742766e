// Content streams: lazy opening, the text object and its state, the raw
// "[" block and the held-back "{" block.
#include "test_support.h"

namespace {

const std::string default_state = "BT\r\n/F1 12 Tf 25 811 Td 12 TL\r\n";

// The content stream of the first page (object 24 when nothing precedes it).
std::string first_stream(const std::string& input, bool readers = true) {
  return stream_of(compile(input, "doc", readers).pdf, 24);
}

}  // namespace

TEST(Content, HelloWorldStream) {
  CompileResult result = compile("Hello\nWorld\n");
  EXPECT_EQ(object_text(result.pdf, 24) + object_text(result.pdf, 25),
            crlf({"24 0 obj", "<< /Length 25 0 R >>", "stream", "BT", "/F1 12 Tf 25 811 Td 12 TL",
                  "(Hello) Tj T*", "(World) Tj T*", "ET", "endstream", "endobj", "25 0 obj", "65",
                  "endobj"}));
}

TEST(Content, EmptyPageStillGetsStream) {
  CompileResult result = compile("");
  EXPECT_EQ(object_text(result.pdf, 24) + object_text(result.pdf, 25),
            crlf({"24 0 obj", "<< /Length 25 0 R >>", "stream", "endstream", "endobj", "25 0 obj",
                  "0", "endobj"}));
}

// Held-back operators come after ET; before the first text they are direct.
TEST(Content, BracesBeforeAndAfterFirstText) {
  EXPECT_EQ(first_stream("{1 0 0 RG}{2 w}ab{0 0 m}\n"),
            crlf({"1 0 0 RG", "2 w"}) + default_state + crlf({"(ab) Tj ", "ET", "0 0 m"}));
}

// A "[" block closes the open string; a "{" block leaves it open.
TEST(Content, RawBlockClosesStringDeferredBlockDoesNot) {
  EXPECT_EQ(first_stream("ab[/F2 12 Tf]cd"),
            default_state + crlf({"(ab) Tj /F2 12 Tf", "(cd) Tj ", "ET"}));
  EXPECT_EQ(first_stream("ab{0 0 m}cd\n"), default_state + crlf({"(abcd) Tj T*", "ET", "0 0 m"}));
}

// A block opens the text object even without text; line feeds in it follow
// the newline rule; an inner bracket token is written as its low byte.
TEST(Content, RawBlockContent) {
  EXPECT_EQ(first_stream("[1 Tr\n\n]"), default_state + crlf({"1 Tr", "ET"}));
  EXPECT_EQ(first_stream("[a[b]", false),
            default_state + "a" + std::string(1, '\0') + "b\r\nET\r\n");
}

TEST(Content, InitialTextStateReplaced) {
  EXPECT_EQ(first_stream("<inittext [/F5 10 Tf 72 700 Td 14 TL]>x"),
            crlf({"BT", "/F5 10 Tf 72 700 Td 14 TL", "(x) Tj ", "ET"}));
  // Written once per page, on every page.
  CompileResult result = compile("<inittext xyz [/F2 9 Tf]>a\fb");
  EXPECT_EQ(stream_of(result.pdf, 24), crlf({"BT", "/F2 9 Tf", "(a) Tj ", "ET"}));
  EXPECT_EQ(stream_of(result.pdf, 28), crlf({"BT", "/F2 9 Tf", "(b) Tj ", "ET"}));
}

// The lines per page derive from the paper height at the first text state.
TEST(Content, LinesPerPageFromPaperHeight) {
  struct Case {
    int height, lines, pages;
  } cases[] = {{842, 66, 2}, {100, 66, 17}, {50, 66, 67}, {841, 131, 3}, {842, 131, 2}};
  for (const Case& c : cases) {
    std::string input = "<paper 595 " + std::to_string(c.height) + ">";
    for (int i = 0; i < c.lines; ++i) input += "line\n";
    compile(input);
    EXPECT_EQ(run.page_count, c.pages) << c.height;  // (height - 50) / 12 lines, rounded down
  }
}

TEST(Content, HeldBackLimit) {
  std::string block;
  for (int i = 0; i < 256; ++i) block += "1 w ";  // 1024 bytes of operators
  CompileResult accepted = compile("a{" + block + "}");
  EXPECT_EQ(accepted.console, success_text());
  EXPECT_NE(stream_of(accepted.pdf, 24).find("ET\r\n" + block + "\r\n"), std::string::npos);

  compile_expecting_stop("a{" + block + " }", 1, 12, msg_too_many_pdf_commands);
  // The stop names the line of the byte over the limit, not the block's end.
  compile_expecting_stop("a{" + block + " 1 w\n\n}", 1, 12, msg_too_many_pdf_commands);
  compile_expecting_stop("a{" + block + "}{}", 1, 12, msg_too_many_pdf_commands);
  // 1023 bytes and a line feed leave room for one more line feed only.
  EXPECT_EQ(compile("a{" + block.substr(1) + "}{}").console, success_text());
  compile_expecting_stop("a{" + block.substr(1) + "}{}{}", 1, 12, msg_too_many_pdf_commands);
}

TEST(Content, UnterminatedBlocks) {
  compile_expecting_stop("a[1 Tr\n", 2, 10, msg_unexpected_end);
  compile_expecting_stop("a{1 w\n", 2, 11, msg_unexpected_end);
  compile_expecting_stop("{1 w\n", 2, 13, msg_unexpected_end);
}
