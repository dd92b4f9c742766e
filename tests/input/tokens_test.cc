// Tokens, words and numbers: escapes, the blank rules, the readers' stops.
#include "input.h"
#include "test_support.h"

namespace {

// The token stream of `text` as readable words: characters as themselves,
// brackets as their names, other values as numbers.
std::string tokens(const std::string& text) {
  feed(text);
  std::string dump;
  for (int t = next_token(); t != tok_end; t = next_token()) {
    if (!dump.empty()) dump += ' ';
    switch (t) {
      case tok_open_bracket: dump += "[["; break;
      case tok_close_bracket: dump += "]]"; break;
      case tok_open_brace: dump += "{{"; break;
      case tok_close_brace: dump += "}}"; break;
      case tok_open_angle: dump += "<<"; break;
      case tok_close_angle: dump += ">>"; break;
      case ' ': dump += "_"; break;
      case '\n': dump += "LF"; break;
      default:
        if (t > ' ' && t < 127)
          dump += static_cast<char>(t);
        else
          dump += "#" + std::to_string(t);
    }
  }
  return dump;
}

}  // namespace

TEST(Tokens, Escapes) {
  EXPECT_EQ(tokens("\\101"), "A");
  EXPECT_EQ(tokens("\\1017"), "A 7");  // three digits at most
  EXPECT_EQ(tokens("\\400"), "[[");    // not reduced: reads like the bracket
  EXPECT_EQ(tokens("\\777"), "#511");
  EXPECT_EQ(tokens("\\0x"), "#0 x");
  EXPECT_EQ(tokens("\\n\\r\\f"), "LF #13 #12");
  EXPECT_EQ(tokens("\\t\\\\\\[\\]\\<\\>"), "t \\ [ ] < >");
  EXPECT_EQ(tokens("\\"), "");  // a backslash at the end is the end
}

// An escaped "<" must not switch comments on, nor ">" off.
TEST(Tokens, EscapedAnglesKeepCommandState) {
  feed("\\<*x*");
  next_token();
  EXPECT_EQ(run.in_command, 0);
  EXPECT_EQ(next_token(), '*');
}

TEST(Tokens, BlankBeforeOpenerDroppedOnlyOutsideCommands) {
  EXPECT_EQ(tokens("ab [x]"), "a b [[ x ]]");
  EXPECT_EQ(tokens("ab\n{x}"), "a b {{ x }}");
  EXPECT_EQ(tokens("ab\n<>"), "a b << _ >>");
  EXPECT_EQ(tokens("ab  [x]"), "a b _ [[ x ]]");  // only one blank
  EXPECT_EQ(tokens("a\t[x]"), "a #9 [[ x ]]");    // a tab is not a blank
  EXPECT_EQ(tokens("<a [x]>"), "<< a _ [[ x ]] _ >>");
  EXPECT_EQ(tokens("a\\ [x]"), "a _ [[ x ]]");  // an escaped blank stays
}

TEST(Tokens, BlankAfterCloserDropped) {
  EXPECT_EQ(tokens("[x] a"), "[[ x ]] a");
  EXPECT_EQ(tokens("{x}\na"), "{{ x }} a");
  EXPECT_EQ(tokens("<> a"), "<< _ >> a");
  EXPECT_EQ(tokens("[x]  a"), "[[ x ]] _ a");
  EXPECT_EQ(tokens("<x [y]  z>"), "<< x _ [[ y ]] _ z _ >>");
}

TEST(Tokens, BlankDeliveredBeforeCloseAngle) {
  EXPECT_EQ(tokens("<ab>"), "<< a b _ >>");
  EXPECT_EQ(tokens("<ab >"), "<< a b _ >>");
  EXPECT_EQ(tokens("<ab*c*>"), "<< a b >>");  // through a comment: no blank
  EXPECT_EQ(tokens("x>y"), "x _ >> y");       // outside commands too
}

TEST(Tokens, AngleBracketsSwitchCommandStateWithoutCounting) {
  feed("<<>x");
  next_token();
  next_token();
  EXPECT_EQ(run.in_command, 1);
  EXPECT_EQ(next_token(), ' ');
  EXPECT_EQ(next_token(), tok_close_angle);
  EXPECT_EQ(run.in_command, 0);
}

TEST(Words, EndAtBlankOrBracket) {
  char word[word_buffer_size];
  feed("  \n\x01 jpg+ 12>");
  EXPECT_EQ(read_word(word), 0);
  EXPECT_STREQ(word, "jpg+");
  EXPECT_EQ(read_word(word), 0);  // against ">": the blank comes first
  EXPECT_STREQ(word, "12");
  EXPECT_EQ(read_word(word), tok_close_angle);
  EXPECT_STREQ(word, "");

  feed("<word*comment*>");
  next_token();
  EXPECT_EQ(read_word(word), tok_close_angle);
  EXPECT_STREQ(word, "word");

  feed("a\\nb");  // an escape worth 32 or less ends the word
  EXPECT_EQ(read_word(word), 0);
  EXPECT_STREQ(word, "a");
}

TEST(Words, LengthLimit) {
  char word[word_buffer_size];
  feed(std::string(256, 'w') + " ");
  EXPECT_EQ(read_word(word), 0);
  EXPECT_EQ(std::string(word).size(), 256u);

  feed(std::string(257, 'w') + " ");
  Stop stop = expect_stop([&] { read_word(word); });
  EXPECT_EQ(stop.code, 58);
  EXPECT_EQ(stop.message, msg_string_too_long);
}

TEST(Words, EndOfInputWhileSkipping) {
  char word[word_buffer_size];
  feed("  \n");
  Stop stop = expect_stop([&] { read_word(word); });
  EXPECT_EQ(stop.code, 62);
  EXPECT_EQ(stop.message, msg_unexpected_end);
  EXPECT_EQ(stop.line, 2);
}

TEST(Numbers, ReadAndEnd) {
  feed("-12 12> - 007\n2147483648 99999999999 ");
  EXPECT_EQ(read_number(), -12);
  EXPECT_EQ(read_number(), 12);
  EXPECT_EQ(next_token(), tok_close_angle);
  EXPECT_EQ(read_number(), 0);  // "-" alone
  EXPECT_EQ(read_number(), 7);
  EXPECT_EQ(read_number(), INT32_MIN);  // wraps modulo 2^32
  EXPECT_EQ(read_number(), 1215752191);
}

TEST(Numbers, Stops) {
  struct Case {
    const char* text;
    int code, message;
  } cases[] = {
      {"12]", 60, msg_error_reading_number},  {"+5 ", 61, msg_error_reading_number},
      {"12x ", 61, msg_error_reading_number}, {"[", 59, msg_error_reading_number},
      {"-[", 59, msg_error_reading_number},   {"  ", 63, msg_unexpected_end},
  };
  for (const Case& c : cases) {
    feed(c.text);
    Stop stop = expect_stop([] { read_number(); });
    EXPECT_EQ(stop.code, c.code) << c.text;
    EXPECT_EQ(stop.message, c.message) << c.text;
  }
}

TEST(Words, EqualityIsWholeAndCaseSensitive) {
  EXPECT_EQ(words_equal("rotate", "rotate"), 1);
  EXPECT_EQ(words_equal("Rotate", "rotate"), 0);
  EXPECT_EQ(words_equal("jpg", "jpg+"), 0);
  EXPECT_EQ(words_equal("", ""), 1);
}
