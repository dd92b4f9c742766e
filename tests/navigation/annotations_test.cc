// Annotation commands: object numbers fixed when the command is read, the
// page's /Annots list, the action list, and the store's limits.
#include "test_support.h"

namespace {

// Three empty images take 24 to 29, so the first page's stream is 30.
std::string three_images() {
  std::string group = "<";
  for (int i = 0; i < 3; ++i)
    group += "jpg " + std::to_string(i) + " 1 1 " + test_data("jpeg/empty.jpg") + " ";
  return group + ">";
}

}  // namespace

// Stream 30: the page is 32, its resources 33, and the annotations 34 on,
// each action annotation followed by its actions.
TEST(Annotations, NumbersFixedByRecordingOrder) {
  CompileResult result = compile(three_images() +
                                 "x<text 10 10 20 20 [note] action 10 40 20 20 1 <next prev>"
                                 " link 10 70 20 20 0 2>\fsecond");
  ASSERT_EQ(result.console, success_text());
  EXPECT_NE(
      object_text(result.pdf, 32).find("/Contents 30 0 R\r\n/Annots [34 0 R 35 0 R 38 0 R ]\r\n>>"),
      std::string::npos);
  EXPECT_NE(object_text(result.pdf, 34).find("/Subtype /Text"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 35).find("/A 36 0 R \r\n"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 37).find("/N /PrevPage"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 38).find("/Dest [41 0 R /XYZ null 842 null]"),
            std::string::npos);
  EXPECT_NE(object_text(result.pdf, 39).find("<< /Length 40 0 R >>"), std::string::npos);
}

TEST(Annotations, ActionWithThreeActionsThenText) {
  // After the action list's ">" the group reads as if outside a group, so the
  // text annotation needs a group of its own.
  CompileResult result = compile("x<action 0 0 9 9 0 <first last back>><text 0 0 9 9 [t]>");
  ASSERT_EQ(result.console, success_text());
  EXPECT_NE(object_text(result.pdf, 26).find("/Annots [28 0 R 32 0 R ]\r\n"), std::string::npos);
  EXPECT_NE(result.pdf.find("/Size 33\r\n"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 32).find("/Contents (t)"), std::string::npos);
}

// The rectangle is stored as given: x, y, x + width, y + height.
TEST(Annotations, RectangleNotNormalised) {
  CompileResult result = compile("page one\fpage two<link 10 20 -5 30 1 1>");
  EXPECT_NE(object_text(result.pdf, 32).find("/Rect [10 20 5 50]\r\n"), std::string::npos);
}

// Junk before the action list is skipped; empty words add nothing.
TEST(Annotations, ActionListWords) {
  CompileResult result = compile("x<action 0 0 9 9 2 junk words <  next\n\n>>");
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(run.annot_store[8], 1);
  EXPECT_NE(object_text(result.pdf, 28).find("/Border [0 0 2]"), std::string::npos);
}

TEST(Annotations, Stops) {
  compile_expecting_stop("<text 0 0 9 9 [x]>", 1, 28, msg_annotation_only_in_page);
  compile_expecting_stop("<link 0 0 9 9 0 1>", 1, 31, msg_annotation_only_in_page);
  compile_expecting_stop("\f<action 0 0 9 9 0 <next>>", 1, 35, msg_annotation_only_in_page);
  compile_expecting_stop("x<link 0 0 9 9 0 10000>", 1, 33, msg_too_many_pages);
  compile_expecting_stop("x<action 0 0 10 10 0 <>>", 1, 43, msg_no_action);
  compile_expecting_stop("x<action 0 0 10 10 0 <jump>>", 1, 41, msg_unknown_action);
  compile_expecting_stop("x<action 0 0 10 10 0 <url>>", 1, 39, msg_error_in_string);
  compile_expecting_stop("x<action 0 0 10 10 0 <exec>>", 1, 40, msg_error_in_string);
  compile_expecting_stop("x<action 0 0 10 10 0 <next[>>", 1, 38, msg_error_in_string);
  compile_expecting_stop("x<action 0 0 10 10 0 [<next>>", 1, 37, msg_error_in_string);
  compile_expecting_stop("x<action 0 0 10 10 0 <sound 17>>", 1, 66, msg_too_many_sounds);
  compile_expecting_stop("x<action 0 0 10 10 0 <sound -1>>", 1, 66, msg_too_many_sounds);
  compile_expecting_stop("x<text 0 0 9 9 [open\n", 2, 64, msg_unexpected_end);
}

// The 256th annotation is accepted, whatever page it is on; the 257th is not.
TEST(Annotations, AnnotationLimit) {
  std::string input = "x";
  for (int i = 0; i < max_annot; ++i) {
    input += "<link 0 0 9 9 0 1>";
    if (i % 100 == 99) input += "\fx";
  }
  EXPECT_EQ(compile(input).console, success_text());
  compile_expecting_stop(input + "<text 0 0 1 1 []>", 1, 29, msg_too_many_annotations);
  compile_expecting_stop(input + "<link 0 0 1 1 0 1>", 1, 32, msg_too_many_annotations);
  compile_expecting_stop(input + "<action 0 0 1 1 0 <next>>", 1, 36, msg_too_many_annotations);
}

// A long action list stops at the word that fills the store, and the store
// is never written past its end.
TEST(Annotations, StoreFilledByActionList) {
  std::string list(4991 * 5, ' ');
  for (int i = 0; i < 4991; ++i) list.replace(i * 5, 4, "next");
  compile_expecting_stop("x<action 0 0 9 9 0 <" + list + ">>", 1, 42, msg_too_many_parameters);
  EXPECT_EQ(run.annot_store_length, max_para);
  CompileResult result = compile("x<action 0 0 9 9 0 <" + list.substr(5) + ">>", "doc", false);
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(run.annot_store_length, max_para - 1);
}

// Text and link records are checked once complete; the store has room for
// the last one to reach past the limit.
TEST(Annotations, StoreFilledByRecords) {
  std::string input = "x<action 0 0 9 9 0 <" + std::string(4984 * 5, ' ');
  for (int i = 0; i < 4984; ++i) input.replace(20 + i * 5, 4, "next");
  input += ">>";  // 4993 words
  compile_expecting_stop(input + "<link 0 0 9 9 0 1>", 1, 34, msg_too_many_parameters);
  EXPECT_EQ(run.annot_store_length, 5001);
  compile_expecting_stop(input + "<text 0 0 9 9 []>", 1, 30, msg_too_many_parameters);
}
