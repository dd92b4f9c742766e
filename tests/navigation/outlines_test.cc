// Outlines: items recorded in input order, filler items for skipped levels,
// and the tree written in the document tail.
#include "test_support.h"

namespace {

// Six empty images take 24 to 35, so the first page is 36 .. 39 and the
// outline items start at 40.
std::string six_images() {
  std::string group = "<";
  for (int i = 0; i < 6; ++i)
    group += "jpg " + std::to_string(i) + " 1 1 " + test_data("jpeg/empty.jpg") + " ";
  return group + ">";
}

std::vector<std::string> item(int number, int parent, const std::string& title,
                              const std::vector<std::string>& links) {
  std::vector<std::string> lines = {std::to_string(number) + " 0 obj", "<<",
                                    "/Parent " + std::to_string(parent) + " 0 R",
                                    "/Dest [38 0 R /XYZ null 842 null]", "/Title (" + title + ")"};
  lines.insert(lines.end(), links.begin(), links.end());
  lines.insert(lines.end(), {">>", "endobj"});
  return lines;
}

}  // namespace

TEST(Outlines, TreeOfLevelsOneTwoTwoOne) {
  CompileResult result = compile(
      six_images() + "<outline 1 [A] outline 2 [B] outline 2 [C] outline 1 [D (x)]>", "doc", false);
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(object_text(result.pdf, 40) + object_text(result.pdf, 41) +
                object_text(result.pdf, 42) + object_text(result.pdf, 43),
            crlf(item(40, 2, "A", {"/Next 43 0 R", "/First 41 0 R", "/Last 42 0 R", "/Count -2"})) +
                crlf(item(41, 40, "B", {"/Next 42 0 R"})) +
                crlf(item(42, 40, "C", {"/Prev 41 0 R"})) +
                crlf(item(43, 2, "D \\(x\\)", {"/Prev 40 0 R"})));
  EXPECT_EQ(object_text(result.pdf, 2), crlf({"2 0 obj", "<<", "/Type /Outlines", "/Count 2",
                                              "/First 40 0 R", "/Last 43 0 R", ">>", "endobj"}));
  EXPECT_NE(result.pdf.find("/Size 44\r\n"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 1).find("/Pages 3 0 R\r\n/PageMode /UseOutlines\r\n"),
            std::string::npos);
}

// Skipped levels get fillers with the title and page of the item that needs
// them; the readers see the nesting.
TEST(Outlines, FillersForSkippedLevels) {
  CompileResult result = compile("<outline 3 [Deep]>page one\f<outline 1 [Top] outline 4 [Four]>");
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(run.outline_count, 7);
  const std::string root = "trailer/Root/Outlines/";
  EXPECT_EQ(reader_show(result.path, root + "Count"), "2");
  EXPECT_EQ(reader_show(result.path, root + "First/Title"), "(Deep)");
  EXPECT_EQ(reader_show(result.path, root + "First/First/First/Title"), "(Deep)");
  EXPECT_EQ(reader_show(result.path, root + "First/First/First/First"), "null");
  EXPECT_EQ(reader_show(result.path, root + "First/Count"), "-1");
  EXPECT_EQ(reader_show(result.path, root + "Last/Title"), "(Top)");
  EXPECT_EQ(reader_show(result.path, root + "Last/First/Title"), "(Four)");
  EXPECT_EQ(reader_show(result.path, root + "Last/First/First/First/Title"), "(Four)");
  std::string page_two = reader_show(result.path, "trailer/Root/Pages/Kids/1/Kids/2");
  EXPECT_EQ(reader_show(result.path, root + "Last/First/First/First/Dest/1"), page_two);
  EXPECT_EQ(reader_show(result.path, root + "First/Dest/1"),
            reader_show(result.path, "trailer/Root/Pages/Kids/1/Kids/1"));
}

// Each parent's children are a list of their own: the first child of the
// second parent has no /Prev in the first parent's children.
TEST(Outlines, TwoParentsWithChildren) {
  CompileResult result =
      compile("<outline 1 [A] outline 2 [A1] outline 2 [A2] outline 1 [B] outline 2 [B1]>x");
  ASSERT_EQ(result.console, success_text());
  const std::string root = "trailer/Root/Outlines/";
  EXPECT_EQ(reader_show(result.path, root + "Last/First/Title"), "(B1)");
  EXPECT_EQ(reader_show(result.path, root + "Last/First/Prev"), "null");
  EXPECT_EQ(reader_show(result.path, root + "Last/Prev/Title"), "(A)");
  EXPECT_EQ(reader_show(result.path, root + "First/Last/Prev/Title"), "(A1)");
}

// Titles keep escaped line feeds as CR LF and may be empty.
TEST(Outlines, TitleContent) {
  CompileResult result = compile("<outline 1 [two\\nlines] outline 1 []>");
  EXPECT_NE(result.pdf.find("/Title (two\r\nlines)\r\n"), std::string::npos);
  EXPECT_NE(result.pdf.find("/Title ()\r\n"), std::string::npos);
  EXPECT_EQ(reader_show(result.path, "trailer/Root/Outlines/Count"), "2");
}

TEST(Outlines, LevelStops) {
  for (const char* level : {"0", "10", "-1"})
    compile_expecting_stop(std::string("<outline ") + level + " [x]>", 1, 26,
                           msg_too_many_outline_levels);
  compile_expecting_stop("<outline 1 [unterminated\n", 2, 64, msg_unexpected_end);
  compile_expecting_stop("<outline 1 x>", 1, 45, msg_error_in_string);
}

TEST(Outlines, ItemLimit) {
  std::string items;
  for (int i = 0; i < max_outline; ++i) items += "<outline 1 []>";
  CompileResult result = compile(items, "doc", false);
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(reader_show(result.path, "trailer/Root/Outlines/Count"), "10000");
  compile_expecting_stop(items + "<outline 1 []>", 1, 25, msg_too_many_outlines);
  // Fillers that reach the limit stop as soon as the count is full.
  items.resize(items.size() - 3 * 14);
  compile_expecting_stop(items + "<outline 5 []>", 1, 27, msg_too_many_outlines);
  EXPECT_EQ(run.outline_count, max_outline);
}

// An item's page must exist when the tail writes it.
TEST(Outlines, EveryItemPointsAtAWrittenPage) {
  CompileResult result = compile("a\f<outline 1 [last]>");
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(reader_show(result.path, "trailer/Root/Outlines/First/Dest/1"),
            reader_show(result.path, "trailer/Root/Pages/Kids/1/Kids/2"));
}
