// Page objects, resources and the two-level page tree.
#include "test_support.h"

TEST(PageObjects, PageAndResourcesOfFirstPage) {
  CompileResult result = compile("text");
  EXPECT_EQ(object_text(result.pdf, 26) + object_text(result.pdf, 27),
            crlf({"26 0 obj", "<<", "/Type /Page", "/Parent 23 0 R", "/Resources 27 0 R",
                  "/MediaBox [0 0 595 842]", "/Contents 24 0 R", ">>", "endobj", "27 0 obj", "<<",
                  "/Font 8 0 R", "/ProcSet 6 0 R", ">>", "endobj"}));
}

// Settings changed during a page hold for that page's own object.
TEST(PageObjects, RotateAndDurationOnlyWhenSet) {
  CompileResult result =
      compile("<paper 612 792>a<rotate -90><fullscreen 7>\fb<rotate 0><fullscreen 0>");
  EXPECT_EQ(
      object_text(result.pdf, 26),
      crlf({"26 0 obj", "<<", "/Type /Page", "/Parent 23 0 R", "/Resources 27 0 R", "/Rotate -90",
            "/Dur 7", "/MediaBox [0 0 612 792]", "/Contents 24 0 R", ">>", "endobj"}));
  std::string second = object_text(result.pdf, 30);
  EXPECT_EQ(second.find("/Rotate"), std::string::npos);
  EXPECT_EQ(second.find("/Dur"), std::string::npos);  // -1: full screen, no timer
  EXPECT_NE(object_text(result.pdf, 1).find("/PageMode /FullScreen"), std::string::npos);
}

TEST(PageObjects, NodesOfThreeHundredPages) {
  std::string pages;
  for (int i = 1; i < 300; ++i) pages += "p\f";
  CompileResult result = compile(pages + "p");
  EXPECT_EQ(run.page_count, 300);
  std::string root = object_text(result.pdf, 3);
  EXPECT_NE(root.find("/Count 300\r\n/Kids [23 0 R ]\r\n"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 23).find("/Count 300\r\n"), std::string::npos);

  // Page 301 starts a second node, numbered right before its stream.
  result = compile(pages + "p\fp");
  EXPECT_EQ(run.page_count, 301);
  int node = 23 + 1 + 300 * 4;
  EXPECT_NE(object_text(result.pdf, 3)
                .find("/Count 301\r\n/Kids [23 0 R " + std::to_string(node) + " 0 R ]"),
            std::string::npos);
  EXPECT_EQ(object_text(result.pdf, node),
            crlf({std::to_string(node) + " 0 obj", "<<", "/Type /Pages", "/Parent 3 0 R",
                  "/Count 1", "/Kids [" + std::to_string(node + 3) + " 0 R ]", ">>", "endobj"}));
  EXPECT_NE(object_text(result.pdf, node + 1).find("<< /Length"), std::string::npos);
}

// Every page takes four numbers, so plain pages meet the object limit at the
// stream of page 7489, long before the page limit.
TEST(PageObjects, ObjectLimitOfPlainPages) {
  std::string pages;
  for (int i = 1; i < 7488; ++i) pages += "x\f";
  CompileResult result = compile(pages + "x");
  EXPECT_EQ(result.console, success_text());
  EXPECT_NE(result.pdf.find("/Size 30000\r\n"), std::string::npos);
  EXPECT_NE(result.pdf.find("\r\n29999 0 obj\r\n<<\r\n/Font"), std::string::npos);

  compile_expecting_stop(pages + "x\fx", 1, 48, msg_too_many_objects);
  EXPECT_EQ(run.page_count, 7488);
}
