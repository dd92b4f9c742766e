// Object framing, the cross-reference table and the trailer.
#include "pdf.h"
#include "test_support.h"

TEST(Objects, FramingAndLengthObject) {
  reset_run_state();
  open_scratch_output();
  run.next_object = 5;
  whole_object("<<\n/A 1\n>>\n");
  length_object(5);
  EXPECT_EQ(run.next_object, 7);
  EXPECT_EQ(written_output(),
            "5 0 obj\r\n<<\r\n/A 1\r\n>>\r\nendobj\r\n6 0 obj\r\n5\r\nendobj\r\n");
}

// Objects written out of number order are listed in number order, each entry
// 20 bytes with its true offset, and startxref names the table.
TEST(Objects, CrossReferenceInNumberOrder) {
  reset_run_state();
  open_scratch_output();
  emit_text("%head\n");
  run.next_object = 3;
  whole_object("three");
  int32_t saved = run.next_object;
  run.next_object = 1;
  whole_object("one");
  whole_object("two");
  run.next_object = saved;
  write_xref();
  write_trailer();
  std::string pdf = written_output();
  size_t xref = pdf.find("xref\r\n");
  std::string expected =
      "%head\r\n"
      "3 0 obj\r\nthree\r\nendobj\r\n"
      "1 0 obj\r\none\r\nendobj\r\n"
      "2 0 obj\r\ntwo\r\nendobj\r\n"
      "xref\r\n0 4\r\n"
      "0000000000 65535 f\r\n"
      "0000000031 00000 n\r\n"
      "0000000053 00000 n\r\n"
      "0000000007 00000 n\r\n"
      "trailer\r\n<<\r\n/Size 4\r\n/Root 1 0 R\r\n/Info 7 0 R\r\n>>\r\nstartxref\r\n" +
      std::to_string(xref) + "\r\n%%EOF\r\n";
  EXPECT_EQ(pdf, expected);
  EXPECT_EQ(pdf.find("1 0 obj"), 31u);
  EXPECT_EQ(pdf.find("2 0 obj"), 53u);
}

TEST(Objects, LastNumberAndLimit) {
  reset_run_state();
  open_scratch_output();
  run.next_object = max_obj - 1;
  begin_object("");
  EXPECT_EQ(run.next_object, 30000);
  Stop stop = expect_stop([] { begin_object(""); });
  EXPECT_EQ(stop.code, 48);
  EXPECT_EQ(stop.message, msg_too_many_objects);
  EXPECT_EQ(reserve_object(), 30000);  // reserving checks nothing
  written_output();
}

TEST(Objects, FullTableHeadAndSize) {
  reset_run_state();
  open_scratch_output();
  run.next_object = max_obj;
  write_xref();
  write_trailer();
  std::string pdf = written_output();
  EXPECT_EQ(pdf.substr(0, 14), "xref\r\n0 30000\r");
  EXPECT_EQ(pdf.find("trailer"), 6 + 9 + 30000u * 20);
  EXPECT_NE(pdf.find("/Size 30000\r\n"), std::string::npos);
}
