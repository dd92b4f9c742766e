// Annotation and action objects as the document tail writes them, and as a
// reader sees them.
#include "test_support.h"

// An action annotation with goto, next and url: each action is the next
// object, chained by /Next, the last without.
TEST(AnnotationObjects, ActionChain) {
  CompileResult result = compile(
      "x<action 72 700 144 14 0 <goto 2 0 0 595 842 next url http://kestrin-pdf.org/(a)>>\fy");
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(object_text(result.pdf, 28) + object_text(result.pdf, 29) +
                object_text(result.pdf, 30) + object_text(result.pdf, 31),
            crlf({"28 0 obj",
                  "<<",
                  "/Type /Annot",
                  "/Subtype /Link",
                  "/Rect [72 700 216 714]",
                  "/Border [0 0 0]",
                  "/C [1 0 0.5]",
                  "/A 29 0 R ",
                  ">>",
                  "endobj",
                  "29 0 obj",
                  "<<",
                  "/Type /Action /S /GoTo",
                  "/Next 30 0 R",
                  "/D [34 0 R /FitR 0 0 595 842 ]",
                  ">>",
                  "endobj",
                  "30 0 obj",
                  "<<",
                  "/Type /Action /S /Named /N /NextPage ",
                  "/Next 31 0 R",
                  ">>",
                  "endobj",
                  "31 0 obj",
                  "<<",
                  "/Type /Action /S /URI",
                  "/URI (http://kestrin-pdf.org/\\(a\\))",
                  ">>",
                  "endobj"}));
  const std::string annot = "trailer/Root/Pages/Kids/1/Kids/1/Annots/1/";
  EXPECT_EQ(reader_show(result.path, annot + "A/S"), "/GoTo");
  EXPECT_EQ(reader_show(result.path, annot + "A/Next/N"), "/NextPage");
  EXPECT_EQ(reader_show(result.path, annot + "A/Next/Next/URI"),
            "(http://kestrin-pdf.org/\\(a\\))");
}

TEST(AnnotationObjects, TextAndLink) {
  CompileResult result = compile("x<text 1 2 3 4 [two\\n\\nlines] link 5 6 7 8 1 1>");
  EXPECT_EQ(object_text(result.pdf, 28),
            crlf({"28 0 obj", "<<", "/Type /Annot", "/Subtype /Text", "/Rect [1 2 4 6]",
                  "/Contents (two", "lines)", ">>", "endobj"}));
  EXPECT_EQ(object_text(result.pdf, 29),
            crlf({"29 0 obj", "<<", "/Type /Annot", "/Subtype /Link", "/Rect [5 6 12 14]",
                  "/Border [0 0 1]", "/C [1 0 0.5]", "/Dest [26 0 R /XYZ null 842 null]", ">>",
                  "endobj"}));
}

// Every action kind, with the heads exactly as viewers have always read them.
TEST(AnnotationObjects, EveryActionKind) {
  CompileResult result =
      compile("<sound 3 8000 1 8 Raw " + test_data("sound/tone-8k-u8.raw") + ">" +
              "x<action 0 0 9 9 0 <exec viewer [] exec run [-a (b)] sound 3 first prev last back "
              "forward>>");
  ASSERT_EQ(result.console, success_text());
  std::string tail = result.pdf.substr(result.pdf.find("\r\n31 0 obj\r\n") + 2);
  tail = tail.substr(0, tail.find("\r\n1 0 obj\r\n") + 2);
  EXPECT_EQ(tail, crlf({"31 0 obj",
                        "<<",
                        "/Type /Action /S /Launch",
                        "/Next 32 0 R",
                        "/Win <</F (viewer)>>",
                        ">>",
                        "endobj",
                        "32 0 obj",
                        "<<",
                        "/Type /Action /S /Launch",
                        "/Next 33 0 R",
                        "/Win <</F (run) /P (-a \\(b\\))>>",
                        ">>",
                        "endobj",
                        "33 0 obj",
                        "<<",
                        "/Type /Action /S /Sound /Synchronous true ",
                        "/Next 34 0 R",
                        "/Sound 24 0 R",
                        ">>",
                        "endobj",
                        "34 0 obj",
                        "<<",
                        "/Type /Action /S /Named /N /FirstPage ",
                        "/Next 35 0 R",
                        ">>",
                        "endobj",
                        "35 0 obj",
                        "<<",
                        "/Type /Action /S /Named /N /PrevPage ",
                        "/Next 36 0 R",
                        ">>",
                        "endobj",
                        "36 0 obj",
                        "<<",
                        "/Type /Action /S /Named /N /LastPage ",
                        "/Next 37 0 R",
                        ">>",
                        "endobj",
                        "37 0 obj",
                        "<<",
                        "/Type /Action /S /Named /N /GoBack",
                        "/Next 38 0 R",
                        ">>",
                        "endobj",
                        "38 0 obj",
                        "<<",
                        "/Type /Action /S /Named /N /GoForward ",
                        ">>",
                        "endobj"}));
  const std::string action = "trailer/Root/Pages/Kids/1/Kids/1/Annots/1/A/";
  EXPECT_EQ(reader_show(result.path, action + "S"), "/Launch");
  EXPECT_EQ(reader_show(result.path, action + "Next/Next/S"), "/Sound");
  EXPECT_EQ(reader_show(result.path, action + "Next/Next/Sound/R"), "8000");
}

// A zero character in one string of a record must not shift the strings
// after it.
TEST(AnnotationObjects, ZeroCharactersKeepStringsApart) {
  CompileResult result =
      compile("x<outline 1 [a\\0b] action 0 0 9 9 0 <exec tool [p\\0q] url http://x.org/>>");
  ASSERT_EQ(result.console, success_text());
  EXPECT_NE(result.pdf.find("/Title (a\\000b)\r\n"), std::string::npos);
  EXPECT_NE(result.pdf.find("/Win <</F (tool) /P (p\\000q)>>"), std::string::npos);
  EXPECT_NE(result.pdf.find("/URI (http://x.org/)"), std::string::npos);
  EXPECT_EQ(reader_show(result.path, "trailer/Root/Outlines/First/Title"), "(a\\000b)");
}

TEST(AnnotationObjects, OctalEscapesOfSpecialsInStrings) {
  CompileResult result = compile("<outline 1 [\\450\\451\\534]>");
  EXPECT_NE(result.pdf.find("/Title (\\(\\)\\\\)\r\n"), std::string::npos);
}

TEST(AnnotationObjects, PagesCheckedInTail) {
  compile_expecting_stop("x<link 0 0 9 9 0 2>", 1, 6, msg_bad_page_number);
  compile_expecting_stop("x<link 0 0 9 9 0 0>", 1, 6, msg_bad_page_number);
  compile_expecting_stop("x<action 0 0 9 9 0 <goto 3 0 0 1 1>>\f", 1, 7, msg_bad_page_number);
  compile_expecting_stop("x<action 0 0 9 9 0 <sound 4>>", 1, 67, msg_sound_not_read);
}
