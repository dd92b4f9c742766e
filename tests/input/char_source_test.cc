// Character source: carriage returns, line counting one step ahead, comments.
#include "input.h"
#include "test_support.h"

namespace {

// Every character up to the end, each as "c@line" (the line number after the
// character was delivered).
std::string characters(const std::string& text, bool in_command = false) {
  feed(text);
  run.in_command = in_command;
  std::string dump;
  for (int c = next_char(); c != -1; c = next_char()) {
    dump += c == '\n' ? std::string("\\n") : std::string(1, static_cast<char>(c));
    dump += "@" + std::to_string(run.line_number) + " ";
  }
  return dump;
}

}  // namespace

// CR LF and bare LF line ends must read alike; a lone CR vanishes.
TEST(CharSource, CarriageReturnsAreDropped) {
  EXPECT_EQ(characters("a\r\nb\r\n"), characters("a\nb\n"));
  EXPECT_EQ(characters("a\rb"), "a@1 b@1 ");
}

// A line feed is counted when it enters the lookahead, one step early.
TEST(CharSource, LineCountedWhenReadAhead) {
  EXPECT_EQ(characters("ab\ncd"), "a@1 b@2 \\n@2 c@2 d@2 ");
  feed("\nx");
  EXPECT_EQ(run.line_number, 2);
}

TEST(CharSource, CommentInsideCommandVanishes) {
  EXPECT_EQ(characters("a*note*b", true), "a@1 b@1 ");
  EXPECT_EQ(characters("a*note*b", false), "a@1 *@1 n@1 o@1 t@1 e@1 *@1 b@1 ");
}

// The character after a comment is not tested again: back-to-back comments
// leave the third star behind, and the last star opens a new comment.
TEST(CharSource, BackToBackCommentsLeaveAStar) {
  feed("*a**b*c");
  run.in_command = 1;
  EXPECT_EQ(next_char(), '*');
  EXPECT_EQ(next_char(), 'b');
  Stop stop = expect_stop([] { next_char(); });
  EXPECT_EQ(stop.code, 57);
}

TEST(CharSource, EscapedStarIsNoComment) { EXPECT_EQ(characters("\\*x", true), "\\@1 *@1 x@1 "); }

TEST(CharSource, CommentSpanningLinesCountsThem) {
  feed("a*one\ntwo\nthree*b\n");
  run.in_command = 1;
  EXPECT_EQ(next_char(), 'a');
  EXPECT_EQ(next_char(), 'b');
  EXPECT_EQ(run.line_number, 4);
}

TEST(CharSource, UnterminatedCommentStops) {
  feed("<x *never closed\n");
  run.in_command = 1;
  Stop stop = expect_stop([] {
    while (next_char() != -1) {
    }
  });
  EXPECT_EQ(stop.code, 57);
  EXPECT_EQ(stop.message, msg_unexpected_end);
  EXPECT_EQ(stop.line, 2);
}

// The end of input stays the end: no read past it ever yields a byte.
TEST(CharSource, EndOfInputRepeats) {
  feed("a");
  EXPECT_EQ(next_char(), 'a');
  for (int i = 0; i < 3; ++i) EXPECT_EQ(next_char(), -1);
}
