// Whole documents against texts written out by hand: the header, the fonts,
// one page, the tail in its order, the cross-reference table and trailer.
#include "test_support.h"

namespace {

std::vector<std::string> font_lines() {
  std::vector<std::string> lines = {
      "8 0 obj",     "<<",          "/F1 9 0 R",   "/F2 10 0 R",  "/F3 11 0 R", "/F4 12 0 R",
      "/F5 13 0 R",  "/F6 14 0 R",  "/F7 15 0 R",  "/F8 16 0 R",  "/F9 17 0 R", "/F10 18 0 R",
      "/F11 19 0 R", "/F12 20 0 R", "/F13 21 0 R", "/F14 22 0 R", ">>",         "endobj"};
  const char* names[] = {
      "Courier",          "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
      "Helvetica",        "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
      "Symbol",           "Times-Roman",    "Times-Bold",        "Times-Italic",
      "Times-BoldItalic", "ZapfDingbats"};
  for (int i = 0; i < 14; ++i) {
    std::vector<std::string> font = {std::to_string(9 + i) + " 0 obj",
                                     "<<",
                                     "/Type /Font",
                                     "/Subtype /Type1",
                                     "/Name /F" + std::to_string(i + 1),
                                     std::string("/BaseFont /") + names[i]};
    if (i != 8 && i != 13) font.push_back("/Encoding /WinAnsiEncoding");
    font.insert(font.end(), {">>", "endobj"});
    lines.insert(lines.end(), font.begin(), font.end());
  }
  return lines;
}

}  // namespace

// An empty input: one empty page, objects 1 to 27, /Size 28.
TEST(Document, EmptyInputIsCompleteDocument) {
  std::string expected =
      std::string("%PDF-1.2\r\n%\x88\x89\x8A This is a binary file. Don't edit.\r\n") +
      crlf({"%created by Kestrin V 0.08 alpha", "%https://kestrin-pdf.org/"}) + crlf(font_lines()) +
      crlf({"24 0 obj",
            "<< /Length 25 0 R >>",
            "stream",
            "endstream",
            "endobj",
            "25 0 obj",
            "0",
            "endobj",
            "26 0 obj",
            "<<",
            "/Type /Page",
            "/Parent 23 0 R",
            "/Resources 27 0 R",
            "/MediaBox [0 0 595 842]",
            "/Contents 24 0 R",
            ">>",
            "endobj",
            "27 0 obj",
            "<<",
            "/Font 8 0 R",
            "/ProcSet 6 0 R",
            ">>",
            "endobj",
            "1 0 obj",
            "<<",
            "/Type /Catalog",
            "/Outlines 2 0 R",
            "/Pages 3 0 R",
            "/OpenAction 4 0 R",
            "/ViewerPreferences 5 0 R",
            ">>",
            "endobj",
            "2 0 obj",
            "<<",
            "/Type /Outlines",
            "/Count 0",
            ">>",
            "endobj",
            "3 0 obj",
            "<<",
            "/Type /Pages",
            "/Count 1",
            "/Kids [23 0 R ]",
            ">>",
            "endobj",
            "23 0 obj",
            "<<",
            "/Type /Pages",
            "/Parent 3 0 R",
            "/Count 1",
            "/Kids [26 0 R ]",
            ">>",
            "endobj",
            "4 0 obj",
            "<<",
            "/Type /Action",
            "/S /GoTo",
            "/D [26 0 R /Fit]",
            ">>",
            "endobj",
            "5 0 obj",
            "<<",
            "/PageLayout /OneColumn",
            ">>",
            "endobj",
            "6 0 obj",
            "[/PDF /Text /ImageC]",
            "endobj",
            "7 0 obj",
            "<<",
            "/Producer (Kestrin V0.08 alpha 08.09.11)",
            ">>",
            "endobj"});
  expected += xref_and_trailer(expected, 28);
  CompileResult result = compile("");
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.pdf, expected);
}

// The page mode: none by default, full screen for any full-screen setting.
TEST(Document, CatalogPageMode) {
  std::string plain = object_text(compile("text\n").pdf, 1);
  EXPECT_EQ(plain.find("/PageMode"), std::string::npos);
  for (const char* input : {"<fullscreen 0>", "<fullscreen 5>", "<fullscreen -3>"}) {
    std::string catalog = object_text(compile(input).pdf, 1);
    EXPECT_NE(catalog.find("/Pages 3 0 R\r\n/PageMode /FullScreen\r\n/OpenAction"),
              std::string::npos)
        << input;
  }
}

TEST(Document, OpenActionNamesFirstPage) {
  CompileResult result = compile("one\fthree\f");
  EXPECT_NE(object_text(result.pdf, 4).find("/D [26 0 R /Fit]"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 26).find("/Type /Page\r\n"), std::string::npos);
}
