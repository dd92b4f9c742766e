// Command groups and the settings commands.
#include "test_support.h"

TEST(Commands, EmptyGroupWritesNothing) {
  CompileResult result = compile("<>");
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(stream_of(result.pdf, 24), "");
}

TEST(Commands, SeveralCommandsInOneGroup) {
  CompileResult result = compile("<rotate 90 rotate 0 paper 612 792 lines 3>");
  EXPECT_EQ(run.rotate, 0);
  EXPECT_EQ(run.paper_width, 612);
  EXPECT_EQ(run.lines_per_page, 3);
  EXPECT_EQ(object_text(result.pdf, 26).find("/Rotate"), std::string::npos);
}

// Unknown words are shown before the stop line; case matters.
TEST(Commands, UnknownWordShownOnConsole) {
  CompileResult result = compile("a\n<Rotate 90>");
  EXPECT_EQ(result.console, "Rotate" + stop_text(2, 44, msg_unknown_command));
  result = compile("<[x]>");  // an empty word fails the same way
  EXPECT_EQ(result.console, stop_text(1, 44, msg_unknown_command));
}

// The paper size holds for the whole document: only before the first page's
// stream opens and before any page is written, even an empty one.
TEST(Commands, PaperOnlyBeforeAnyOutput) {
  CompileResult result = compile("<paper 612 792>text");
  EXPECT_NE(object_text(result.pdf, 26).find("/MediaBox [0 0 612 792]"), std::string::npos);
  EXPECT_NE(stream_of(result.pdf, 24).find("25 761 Td"), std::string::npos);
  compile_expecting_stop("text<paper 612 792>", 1, 20, msg_paper_before_text);
  compile_expecting_stop("\f<paper 612 792>", 1, 20, msg_paper_before_text);
  compile_expecting_stop("{1 w}<paper 612 792>", 1, 20, msg_paper_before_text);
}

TEST(Commands, InittextStops) {
  compile_expecting_stop("<inittext {x}>", 1, 21, msg_error_in_string);
  compile_expecting_stop("<inittext\n\n", 3, 21, msg_error_in_string);  // never reaches [
  compile_expecting_stop("<inittext [/F1 1 Tf\n", 2, 65, msg_unexpected_end);
  std::string full = "/F2 12 Tf 25 811 Td 12 TL" + std::string(1024 - 25, ' ');
  CompileResult result = compile("<inittext [" + full + "]>a");
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(stream_of(result.pdf, 24), "BT\r\n" + full + "\r\n(a) Tj \r\nET\r\n");
  compile_expecting_stop("<inittext [" + full + " ]>", 1, 22, msg_inittext_too_long);
}

TEST(Commands, ArgumentsMustBeNumbers) {
  compile_expecting_stop("<rotate ninety>", 1, 61, msg_error_reading_number);
  compile_expecting_stop("<lines [3]>", 1, 59, msg_error_reading_number);
  compile_expecting_stop("<rotate\n", 2, 63, msg_unexpected_end);
}
