// Picture placement: resources, the size and centre rules, and where the
// operators go.
#include "test_support.h"

namespace {

// Registers the 200 by 100 sample as picture 3 and runs `page` after it.
CompileResult place(const std::string& page, bool readers = true) {
  return compile("<jpg 3 200 100 " + test_data("jpeg/small-200x100.jpg") + ">" + page, "doc",
                 readers);
}

// The operators written for one pict+ on an otherwise empty page.
std::string operators(const std::string& arguments) {
  return stream_of(place("<pict+ 3 " + arguments + ">").pdf, 26);
}

}  // namespace

TEST(Placement, SizeAndPosition) {
  EXPECT_EQ(operators("-300 -400 0 50"), "q 100 0 0 50 250 375 cm /Im3 Do Q\r\n");
  EXPECT_EQ(operators("-300 -400 -150 -150"), "q 150 0 0 75 225 363 cm /Im3 Do Q\r\n");
  EXPECT_EQ(operators("-300 -400 101 50"), "q 101 0 0 50 250 375 cm /Im3 Do Q\r\n");
  EXPECT_EQ(operators("10 20 0 0"), "q 200 0 0 100 10 20 cm /Im3 Do Q\r\n");
  EXPECT_EQ(operators("10 20 50 0"), "q 50 0 0 25 10 20 cm /Im3 Do Q\r\n");
  EXPECT_EQ(operators("-10 20 -200 100"), "q -200 0 0 100 -10 20 cm /Im3 Do Q\r\n");
  EXPECT_EQ(operators("10 -20 -50 -100"), "q 50 0 0 25 10 -20 cm /Im3 Do Q\r\n");
  // A box of the picture's own proportions: the tie fits the width.
  EXPECT_EQ(operators("0 0 -400 -200"), "q 400 0 0 200 0 0 cm /Im3 Do Q\r\n");
}

// Before the page's first text the operators come before BT; after it they
// are held back until after ET.
TEST(Placement, BeforeAndAfterText) {
  CompileResult result = place("<pict+ 3 0 0 0 0>Hi<pict+ 3 5 5 20 10>");
  EXPECT_EQ(stream_of(result.pdf, 26),
            crlf({"q 200 0 0 100 0 0 cm /Im3 Do Q", "BT", "/F1 12 Tf 25 811 Td 12 TL", "(Hi) Tj ",
                  "ET", "q 20 0 0 10 5 5 cm /Im3 Do Q"}));
  EXPECT_NE(object_text(result.pdf, 29).find("/XObject << /Im3 24 0 R >>\r\n"), std::string::npos);
}

// A picture is listed on the pages that use it, once, and nowhere else; pict
// only lists it.
TEST(Placement, ListedOnItsPagesOnly) {
  CompileResult result = compile(
      "<jpg 3 200 100 " + test_data("jpeg/small-200x100.jpg") + " jpg 9998 1 1 " +
      test_data("jpeg/small-200x100.jpg") + ">" +
      "<pict 9998 pict+ 3 0 0 0 0 pict 3>{q 10 0 0 10 300 300 cm /Im9998 Do Q}\fsecond page");
  EXPECT_EQ(result.console, success_text());
  EXPECT_NE(object_text(result.pdf, 31).find("/XObject << /Im3 24 0 R /Im9998 26 0 R >>\r\n"),
            std::string::npos);
  EXPECT_EQ(object_text(result.pdf, 35).find("/XObject"), std::string::npos);
}

TEST(Placement, HeldBackBufferFills) {
  std::string page = "text";
  for (int i = 0; i < 30; ++i) page += "<pict+ 3 -1000 -1000 -1000 -1000>";
  CompileResult result = place(page);
  EXPECT_EQ(result.console, stop_text(1, 12, msg_too_many_pdf_commands));
}

TEST(Placement, Stops) {
  compile_expecting_stop("<pict 4>", 1, 24, msg_picture_not_read);
  compile_expecting_stop("<pict+ 9999 0 0 0 0>", 1, 23, msg_too_many_pictures);
  compile_expecting_stop("<pict -1>", 1, 23, msg_too_many_pictures);
  compile_expecting_stop("<jpg 9999 1 1 " + test_data("jpeg/empty.jpg") + ">\f<pict 9999>", 1, 23,
                         msg_too_many_pictures);
  compile_expecting_stop("<pict+ 3 0 0>", 1, 24, msg_picture_not_read);
}

// A registered size of 0 cannot be kept in proportion: a clear stop, not a
// division by zero. Natural size needs no division.
TEST(Placement, ZeroSizeAndLargeProducts) {
  const std::string file = test_data("jpeg/small-200x100.jpg");
  compile_expecting_stop("<jpg 1 200 0 " + file + " pict+ 1 0 0 0 50>", 1, 69,
                         msg_picture_size_zero);
  compile_expecting_stop("<jpg 1 0 100 " + file + " pict+ 1 0 0 50 0>", 1, 69,
                         msg_picture_size_zero);
  compile_expecting_stop("<jpg 1 0 0 " + file + " pict+ 1 0 0 -5 -5>", 1, 69,
                         msg_picture_size_zero);
  EXPECT_EQ(stream_of(compile("<jpg 1 0 0 " + file + " pict+ 1 0 0 0 0>", "doc", false).pdf, 26),
            "q 0 0 0 0 0 0 cm /Im1 Do Q\r\n");
  // Products are formed in 64 bits and the result wrapped to 32.
  EXPECT_EQ(
      stream_of(compile("<jpg 1 100000 1 " + file + " pict+ 1 0 0 0 100000>", "doc", false).pdf,
                26),
      "q 1410065408 0 0 100000 0 0 cm /Im1 Do Q\r\n");
}
