// The string pool: escaped string bodies kept for the document tail.
#include "input.h"
#include "pdf.h"
#include "test_support.h"

namespace {

std::string pool() {
  return std::string(reinterpret_cast<const char*>(run.string_pool), run.pool_length);
}

}  // namespace

TEST(StringPool, WordsAreEscapedAndZeroEnded) {
  reset_run_state();
  pool_put_string("a(b)");
  EXPECT_EQ(pool(), std::string("a\\(b\\)\0", 7));
  pool_put_string("c\\");
  EXPECT_EQ(pool(), std::string("a\\(b\\)\0c\\\\\0", 11));
}

TEST(StringPool, BracketedStrings) {
  feed("junk [one (1)] [] [x\\ny\\]z]");
  pool_read_bracketed();
  pool_read_bracketed();
  pool_read_bracketed();
  EXPECT_EQ(pool(), std::string("one \\(1\\)\0\0x\ny]z\0", 17));
}

// Unescaped brackets inside a string stand for themselves; octal escapes
// whose byte is a parenthesis or backslash are escaped like them; a zero
// character becomes \000 so that it cannot end the string early.
TEST(StringPool, BracketTokensEscapesAndZero) {
  feed("[a{b}c<d>e[f]");
  pool_read_bracketed();
  EXPECT_EQ(pool(), std::string("a{b}c<d >e[f\0", 13));  // a blank comes before ">"
  reset_run_state();
  feed("[\\450\\451\\534\\0\\777]");
  pool_read_bracketed();
  EXPECT_EQ(pool(), std::string("\\(\\)\\\\\\000\xFF\0", 12));
}

// A carriage return byte is stored as \r in every form of string: a reader
// takes a bare one for a line feed (it was once written bare). Bytes of a
// UTF-16 title are escaped the same way (č is U+010D, Ċ is U+010A); U+10000
// is the first character that takes a surrogate pair.
TEST(StringPool, CarriageReturnsAreEscaped) {
  struct Case {
    std::string input, stored;
    void (*read)();
  } cases[] = {
      {"[a\\015b]", std::string("a\\rb\0", 5), pool_read_bracketed},
      {"<encoding utf8>[a\\015b]", std::string("a\\rb\0", 5), pool_read_bracketed},
      {"<encoding utf8>[\xC4\x8D\xC4\x8A\\015]",
       std::string("\xFE\xFF\x01\\r\x01\\n\\000\\r\0", 15), pool_read_bracketed},
      {"<encoding utf8>[\xF0\x90\x80\x80]", std::string("\xFE\xFF\xD8\\000\xDC\\000\0", 13),
       pool_read_bracketed},
      {"[p\\015]", std::string("p\\r\0", 4), pool_read_bracketed_bytes},
  };
  for (const Case& c : cases) {
    feed(c.input);
    if (c.input[0] == '<') {  // the encoding command, as the dispatcher reads it
      while (next_token() != tok_close_angle) {
      }
      run.utf8 = 1;
    }
    c.read();
    EXPECT_EQ(pool(), c.stored) << c.input;
  }
  CompileResult result = compile("<encoding utf8><outline 1 [\xC4\x8D\\015]><outline 1 [a\\015]>x");
  std::string json;
  run_shell("qpdf --json=1 '" + result.path + "'", &json);
  EXPECT_NE(json.find("\"/Title\": \"\xC4\x8D\\r\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"/Title\": \"a\\r\""), std::string::npos) << json;
}

TEST(StringPool, ReadingBackAppliesNewlineRule) {
  feed("[a\\n\\nb]");
  pool_read_bracketed();
  open_scratch_output();
  EXPECT_EQ(emit_pool_string(0), 5);
  EXPECT_EQ(written_output(), "a\r\nb");
}

TEST(StringPool, Stops) {
  for (const char* text : {"]", "{", "<", ">", ""}) {
    feed(text);
    Stop stop = expect_stop(pool_read_bracketed);
    EXPECT_EQ(stop.code, 45) << text;
    EXPECT_EQ(stop.message, msg_error_in_string);
  }
  feed("[never closed\n");
  Stop stop = expect_stop(pool_read_bracketed);
  EXPECT_EQ(stop.code, 64);
  EXPECT_EQ(stop.message, msg_unexpected_end);
  EXPECT_EQ(stop.line, 2);
}

// The limit is tested before each character: 100000 characters fit, one more
// does not, and on a full pool even an empty string is refused.
TEST(StringPool, Limit) {
  std::string full(max_text, 'x');
  feed("[" + full + "]");
  pool_read_bracketed();
  EXPECT_EQ(run.pool_length, max_text + 1);

  feed("[" + full + "x]");
  EXPECT_EQ(expect_stop(pool_read_bracketed).code, 46);

  feed("[" + std::string(max_text - 1, 'x') + ")] []");
  pool_read_bracketed();
  EXPECT_EQ(run.pool_length, max_text + 2);  // the last escape reaches past the limit
  Stop stop = expect_stop(pool_read_bracketed);
  EXPECT_EQ(stop.code, 46);
  EXPECT_EQ(stop.message, msg_text_buffer_too_small);

  reset_run_state();
  run.pool_length = max_text;
  stop = expect_stop([] { pool_put_string("u"); });
  EXPECT_EQ(stop.code, 47);
  EXPECT_EQ(stop.message, msg_text_buffer_too_small);
}
