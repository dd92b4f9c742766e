// Warnings on standard error: each kind on a short document, and silence on
// clean documents and on every example. A warning never changes the PDF or
// the console text.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>

#include "page.h"
#include "test_support.h"

namespace {

struct Outcome {
  std::string warnings, console, pdf;
};

Outcome run_in_process(const std::string& text, bool warnings, bool text_in_runs = true) {
  Outcome outcome;
  std::string pdf_path = scratch_path(warnings ? "on.pdf" : "off.pdf");
  RunHost host;
  host.console_capture = &outcome.console;
  host.diagnostics_capture = &outcome.warnings;
  host.text_in_runs = text_in_runs;
  RunOptions options;
  options.warnings = warnings;
  run_kestrin_on_text(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                      pdf_path.c_str(), options, host);
  outcome.pdf = read_file(pdf_path);
  return outcome;
}

std::string repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

struct Case {
  const char* what;
  std::string document;
  std::string warning;  // the whole standard error, empty for none
};

}  // namespace

TEST(Warnings, EachKindOnAShortDocumentAndNoneOnCleanOnes) {
  std::string png = scratch_path("p.png"), gif = test_data("gif/tiny-2x2.gif"),
              arithmetic = test_data("jpeg/arithmetic-300x200.jpg");
  write_file(png, std::string("\x89PNG\r\n\x1A\n", 8) + std::string(40, '\0'));
  const std::string text = scratch_path("t.jpg");
  write_file(text, "hello\n");
  const std::string w = "<memory>:";
  const Case cases[] = {
      {"line below the page", "<lines 70>" + repeat("x\n", 70),
       w + "69: warning: line 69 of page 1 falls below the bottom of the page; <lines 68> fits "
           "this paper and text state\n"},
      {"leading from inittext", "<inittext [/F1 12 Tf 25 100 Td 20 TL]>" + repeat("x\n", 7),
       w + "7: warning: line 7 of page 1 falls below the bottom of the page; <lines 6> fits this "
           "paper and text state\n"},
      {"Courier line too wide", repeat("y", 80) + "\n",
       w + "1: warning: page text runs 6 points past the right edge of the page (it leaves the "
           "page at column 80)\n"},
      {"escapes count once", repeat("(", 80) + "\n",
       w + "1: warning: page text runs 6 points past the right edge of the page (it leaves the "
           "page at column 80)\n"},
      {"Helvetica line too wide", "<inittext [/F5 12 Tf 25 800 Td 14 TL]>" + repeat("W", 60),
       w + "1: warning: page text runs 110 points past the right edge of the page\n"},
      {"font changed in a block, then too wide", "a[/F13 20 Tf]b\n" + repeat("W", 35),
       w + "2: warning: page text runs 53 points past the right edge of the page\n"},
      {"ZapfDingbats too wide", "a[/F14 12 Tf]b\n" + repeat("A", 80),
       w + "2: warning: page text runs 95 points past the right edge of the page\n"},
      {"font in a block", "[/F99 12 Tf]x",
       w + "1: warning: font /F99 in a bracket block is not one of the fonts /F1 to /F14\n"},
      {"font in inittext", "<inittext [/F0 12 Tf 25 800 Td]>x",
       w + "1: warning: font /F0 in inittext is not one of the fonts /F1 to /F14\n"},
      {"unknown operator", "x\n[0 0 1 rg\n/F2 12 Tff]x",
       w + "3: warning: unknown operator 'Tff' in a bracket block\n"},
      {"tab", "a\tb\tc\n",
       w + "1: warning: a tab in page text shows as nothing; expand it to blanks (or use <tabs "
           "8>)\n"},
      {"control character", repeat("long run ", 5) + "\x01z",
       w + "1: warning: control character 1 in page text shows as nothing\n"},
      {"bracket in a block", "x{1 0 0 rg [1 2] 0 d}",
       w + "1: warning: an unescaped '[' inside a bracket block is written as byte 0; escape it "
           "as \\[\n"},
      {"angle in a block", "[<41> Tj]",
       w + "1: warning: an unescaped '<' inside a bracket block is written as byte 4 and turns "
           "on comment removal; escape it as \\<\n"},
      {"stray closer", "a]b",
       w + "1: warning: a ']' outside a bracket block shows as nothing; write \\] for the "
           "character\n"},
      {"png given to jpg", "<jpg 1 10 10 " + png + ">",
       w + "1: warning: " + png +
           " is a PNG file, not a JPEG; viewers will not show it (<image> reads JPEG, PNG and GIF "
           "files)\n"},
      {"gif given to jpg", "<jpg 1 2 2 " + gif + ">",
       w + "1: warning: " + gif +
           " is a GIF file, not a JPEG; viewers will not show it (<image> reads JPEG, PNG and GIF "
           "files)\n"},
      {"text given to jpg", "<jpg 1 10 10 " + text + ">",
       w + "1: warning: " + text +
           " is not a JPEG (its first bytes are 68 65 6C 6C); viewers will not show it\n"},
      {"arithmetic coding", "<jpg+ 1 " + arithmetic + ">",
       w + "1: warning: " + arithmetic +
           " is an arithmetic-coded JPEG, which several viewers cannot show; save it with "
           "Huffman coding\n"},
      {"empty line before a group", "para.\n\n<outline 1 [Results]>Results\n",
       w + "2: warning: this empty line does not show: the line end before the '<' that follows "
           "is dropped; write \\n on the line to keep it\n"},
      {"empty line before a block", "x\n\n[/F6 14 Tf]Heading",
       w + "2: warning: this empty line does not show: the line end before the '[' that follows "
           "is dropped; write \\n on the line to keep it\n"},
      {"leading smaller than the lines assume",
       "<inittext [/F1 10 Tf 25 811 Td 10 TL]>" + repeat("line\n", 67),
       w + "66: warning: page 1 ends with its last line 161 points above the bottom: the lines "
           "per page (66) are derived for 12 points from line to line, the text state has 10; "
           "<lines 79> fills the page\n"},
      {"text in the colour of a box", "{0.95 0.9 0.8 rg 60 700 200 30 re f}Caption\n",
       w + "1: warning: page text is drawn in the colour '0.95 0.9 0.8 rg' that the { } block "
           "on line 1 fills its shapes with; end that block with 0 g (or put it between q and "
           "Q) to draw the text in black\n"},
      {"TD sets the leading", "<lines 80>[0 -300 TD]" + repeat("x\n", 5),
       w + "3: warning: line 3 of page 1 falls below the bottom of the page; <lines 2> fits this "
           "paper and text state\n"},
      // Clean documents.
      {"a group on a line of its own, then an empty line", "one\n<rotate 0>\n\ntwo\n", ""},
      {"a block, then an empty line", "[/F6 14 Tf]A heading[/F1 12 Tf]\n\nBody", ""},
      {"lines set by hand", "<lines 40 inittext [/F1 10 Tf 25 811 Td 10 TL]>" + repeat("x\n", 45),
       ""},
      {"a colour chosen for the text", "{1 0 0 rg}Red\n", ""},
      {"a box between q and Q", "{q 0.9 g 0 0 9 9 re f Q}x", ""},
      {"a black box", "{0 g 0 0 9 9 re f}x", ""},
      {"the text's colour in a block", "{0.9 g 0 0 9 9 re f}[0 0 1 rg]x", ""},
      {"/F14 is a standard font", "[/F14 12 Tf]x", ""},
      {"a Tm that scales vertically", "<lines 80>[1 0 0 2 72 700 Tm]" + repeat("x\n", 80), ""},
      {"a cm that shrinks the text", "{0.5 0 0 0.5 0 0 cm}" + repeat("x", 150), ""},
      {"TD upwards", "<lines 80>[0 14 TD]" + repeat("x\n", 80), ""},
      {"79 columns", repeat("x", 79) + "\n" + repeat("x\n", 65), ""},
      {"control characters have no width", repeat("x", 79) + "\x01\x02\n",
       w + "1: warning: control character 1 in page text shows as nothing\n"},
      {"smaller font in a block", "xx[/F1 6 Tf]" + repeat("z", 100) + "\n" + repeat("z", 100), ""},
      {"line moved up", "<lines 80>[0 200 Td]" + repeat("x\n", 80), ""},
      {"operators PDF defines",
       "[BT 1 0 0 1 0 0 Tm \\[(a) -20 (b)\\] TJ (c\\)) ' 1 2 (d) \" /P \\<\\</MCID 0\\>\\> BDC EMC "
       "ET]"
       "{q 1 0 0 1 5 5 cm /Im1 Do Q BX /x foo EX % comment Tff\n BI /W 1 /H 1 ID xyz EI}",
       ""},
      {"escaped brackets", "[(a\\[b\\]c\\{d\\}e\\<f\\>) Tj]\\]", ""},
      {"a JPEG", "<jpg 1 10 10 " + test_data("jpeg/small-200x100.jpg") + ">", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome on = run_in_process(c.document, true);
    Outcome off = run_in_process(c.document, false);
    EXPECT_EQ(on.warnings, c.warning);
    EXPECT_EQ(off.warnings, "");
    EXPECT_EQ(on.console, off.console);
    EXPECT_EQ(on.console, success_text());
    EXPECT_TRUE(on.pdf == off.pdf) << "the documents differ";
    Outcome text_by_token = run_in_process(c.document, true, false);
    EXPECT_EQ(text_by_token.warnings, c.warning) << "token by token";
  }
}

TEST(Warnings, ShownThreeTimesPerKindThenCounted) {
  Outcome on = run_in_process(repeat("\t\n", 5), true);
  EXPECT_EQ(std::count(on.warnings.begin(), on.warnings.end(), '\n'), 4);
  EXPECT_EQ(warnings_so_far(), 5);
  EXPECT_NE(
      on.warnings.find("\n<memory>: warning: 2 more of the kind \"control character\" not shown\n"),
      std::string::npos)
      << on.warnings;
}

TEST(Warnings, EveryExampleIsSilent) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(KESTRIN_EXAMPLES), 0);
  DIR* dir = opendir(".");
  ASSERT_NE(dir, nullptr);
  int examples = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".txt") continue;
    SCOPED_TRACE(name);
    Outcome on = run_in_process(read_file(name), true);
    EXPECT_EQ(on.warnings, "");
    EXPECT_EQ(on.console, success_text());
    ++examples;
  }
  closedir(dir);
  EXPECT_EQ(chdir(previous), 0);
  EXPECT_GE(examples, 5);
}

// The lexer reads operators as PDF does: what is inside strings, comments
// and inline image data (an EI there not after white space) is not an
// operator.
TEST(Warnings, OperatorLexer) {
  struct Seen {
    std::vector<std::string> operators;
    std::vector<int> operand_counts;
  } seen;
  std::string content =
      "BT /F1 12 Tf (a (nested) \\) Tj) Tj <414243> Tj [1 (x) /N] TJ % Tj in a comment\n"
      "<< /A [1 2] >> BDC -1.5 .5 +3 Td BI /W 2 /IM false ID \x01\x02"
      "xEI EI\nQ Tff 1e5 12Tf" +
      std::string(" 1\f2\0003\frg true null d0", 22);
  lex_content_operators(
      reinterpret_cast<const unsigned char*>(content.data()), content.size(),
      [](const ContentOperator& op, void* context) {
        Seen& seen = *static_cast<Seen*>(context);
        seen.operators.push_back(std::string(reinterpret_cast<const char*>(op.text), op.length) +
                                 (op.known ? "" : "?") + "@" + std::to_string(op.newlines));
        seen.operand_counts.push_back(op.operand_count);
      },
      &seen);
  EXPECT_EQ(seen.operators, (std::vector<std::string>{"BT@0", "Tf@0", "Tj@0", "Tj@0", "TJ@0",
                                                      "BDC@1", "Td@1", "BI@1", "ID@1", "EI@1",
                                                      "Q@2", "Tff?@2", "1e5?@2", "12Tf?@2",
                                                      "rg@2", "d0@2"}));
  EXPECT_EQ(seen.operand_counts,
            (std::vector<int>{0, 2, 1, 1, 1, 1, 3, 0, 4, 0, 0, 0, 0, 0, 3, 2}));
}

TEST(Warnings, StandardFontWidths) {
  struct {
    int font;
    unsigned char code;
    int width;
  } const widths[] = {
      {5, 'a', 556},    {7, 'W', 944},   {6, 'i', 278},   {8, 0xE9, 556},  {10, ' ', 250},
      {10, 0x97, 1000}, {11, 'W', 1000}, {12, 'm', 722},  {13, 0xC6, 944}, {9, 'a', 631},
      {9, 0xA5, 713},   {14, 'A', 692},  {14, 0x80, 390}, {5, '\t', 0},    {10, 0x81, 350},
  };
  for (const auto& w : widths) {
    SCOPED_TRACE(std::to_string(w.font) + " " + std::to_string(w.code));
    ASSERT_NE(standard_font_widths(w.font), nullptr);
    EXPECT_EQ(standard_font_widths(w.font)[w.code], w.width);
  }
  for (int courier = 1; courier <= 4; ++courier) EXPECT_EQ(standard_font_widths(courier), nullptr);
}
