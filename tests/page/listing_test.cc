// Listings: --plain and <verbatim> give a text full of the language's own
// brackets back through pdftotext; the listing options; stops and warnings
// inside a verbatim file name the file.
#include <sstream>

#include "test_support.h"

namespace {

bool have(const std::string& command) { return run_shell("command -v " + command, nullptr) == 0; }

// Lines of words made of brackets, braces, angles, backslashes, parentheses,
// stars and percent signs, one blank between words; `lines` of them.
std::string markup_soup(int lines) {
  const char alphabet[] = "[]{}<>\\()*%abc";
  unsigned seed = 20261208;
  auto next = [&seed](unsigned range) {
    seed = seed * 1103515245 + 12345;
    return (seed >> 16) % range;
  };
  std::string text;
  for (int line = 0; line < lines; ++line) {
    int words = 1 + next(8);
    for (int w = 0; w < words; ++w) {
      if (w > 0) text += ' ';
      for (int length = 1 + next(8); length > 0; --length) text += alphabet[next(14)];
    }
    text += '\n';
  }
  return text;
}

// The text of a PDF in the order it was written, without the running head
// of a listing ("NAME page N of M") and, with `numbered`, without the line
// numbers before the lines.
std::string text_back(const std::string& pdf, const std::string& head, bool numbered) {
  std::string out;
  run_shell("pdftotext -raw -nopgbrk '" + pdf + "' -", &out);
  std::string text;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (!head.empty() && line.rfind(head + " page ", 0) == 0) continue;
    if (numbered) line.erase(0, line.find(' ') + 1);
    text += line + "\n";
  }
  return text;
}

int pages_of(const std::string& pdf) {
  std::string pages;
  run_shell("pdfinfo '" + pdf + "' | sed -n 's/^Pages: *//p'", &pages);
  return pages.empty() ? -1 : std::stoi(pages);
}

}  // namespace

// Whatever the layout, --plain shows every character as it stands.
TEST(Listing, PlainGivesItsTextBack) {
  if (!have("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  const std::string soup = markup_soup(150);
  write_file(scratch_path("soup.txt"), soup);
  const std::vector<std::string> layouts[] = {{},
                                              {"--line-numbers"},
                                              {"--columns", "2"},
                                              {"--font=Times-Roman", "--size", "8"},
                                              {"--paper", "letter", "--font", "Courier-Bold"}};
  for (const std::vector<std::string>& layout : layouts) {
    std::vector<std::string> args = {"--plain"};
    args.insert(args.end(), layout.begin(), layout.end());
    args.insert(args.end(), {"soup.txt", "soup.pdf"});
    SCOPED_TRACE(args[1]);
    ProcessResult result = run_binary(args);
    ASSERT_EQ(result.out, success_text()) << result.err;
    EXPECT_EQ(result.err, "");
    bool numbered = layout.size() == 1 && layout[0] == "--line-numbers";
    EXPECT_EQ(text_back(scratch_path("soup.pdf"), "soup.txt", numbered), soup);
    check_with_readers(scratch_path("soup.pdf"), pages_of(scratch_path("soup.pdf")));
  }
}

// A verbatim file in a document: its text as it stands, then the document
// goes on where it was; verbatim+ numbers the lines.
TEST(Listing, VerbatimGivesItsTextBack) {
  if (!have("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  const std::string soup = markup_soup(80), file = scratch_path("soup.c");
  write_file(file, soup);
  CompileResult plain = compile("before\n<verbatim " + file + ">after\n");  // on a line of its own
  ASSERT_EQ(plain.console, success_text());
  EXPECT_EQ(text_back(plain.path, "", false), "before\n" + soup + "after\n");
  CompileResult numbered = compile(
      "<lines 70 inittext [/F1 10 Tf 60 800 Td 11 TL]><verbatim+ " + file + ">", "numbered");
  ASSERT_EQ(numbered.console, success_text());
  EXPECT_EQ(text_back(numbered.path, "", true), soup);
  std::string out;
  run_shell("pdftotext -raw -f 1 -l 1 '" + numbered.path + "' - | head -2", &out);
  EXPECT_EQ(out.substr(0, 2), "1 ") << out;
}

// The listing options: what each takes, and that the layout ones need --plain.
TEST(Listing, CommandLineOptions) {
  write_file(scratch_path("in.txt"), "text\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;  // standard error; for a run that succeeds, the MediaBox it gives
  } cases[] = {
      {{"--plain", "--paper", "letter"}, "/MediaBox [0 0 612 792]"},
      {{"--plain", "--paper=200x300", "--columns", "2"}, "/MediaBox [0 0 300 200]"},
      {{"--font", "Times-Roman"}, "kestrin: --font lays out a listing: use it with --plain\n"},
      {{"--plain", "--font", "Symbol"},
       "kestrin: --font Symbol: use a font name such as Courier-Bold or Times-Roman, or its "
       "number 1 to 14 (not 9 or 14)\n"},
      {{"--plain", "--size", "80"},
       "kestrin: --size 80: use a size in points from 4 to 72, such as 9 or 9.5\n"},
      {{"--plain", "--paper", "b5"},
       "kestrin: --paper b5: use a4, a3, a5, letter, legal, or WIDTHxHEIGHT in points\n"},
      {{"--plain", "--columns", "3"}, "kestrin: --columns 3: use 1 or 2\n"},
      {{"--plain", "--size"},  // takes the input's name for its value
       "kestrin: --size in.txt: use a size in points from 4 to 72, such as 9 or 9.5\n"},
      {{"--encoding", "latin1"}, "kestrin: --encoding latin1: use utf8 or winansi\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"in.txt", "out.pdf"});
    SCOPED_TRACE(args[0] + " " + args[1]);
    ProcessResult result = run_binary(args);
    if (c.err.rfind("/MediaBox", 0) == 0) {
      EXPECT_EQ(result.out, success_text());
      EXPECT_NE(read_file(scratch_path("out.pdf")).find(c.err), std::string::npos);
    } else {
      EXPECT_EQ(result.out, stop_text(1, 1, msg_usage));
      EXPECT_EQ(result.err, c.err);
      EXPECT_EQ(result.status, 1);
    }
  }
}

// A UTF-8 listing, and what goes wrong inside a verbatim file: standard
// error names the file and its line and column, the console the line of
// the command.
TEST(Listing, EncodingAndStopsInsideAVerbatimFile) {
  write_file(scratch_path("utf8.txt"), "\xEF\xBB\xBFZ\xC3\xBCrich 5 \xE2\x82\xAC\n");
  ProcessResult utf8 = run_binary({"--plain", "--encoding", "utf8", "utf8.txt", "utf8.pdf"});
  EXPECT_EQ(utf8.out, success_text());
  EXPECT_EQ(utf8.err, "");
  EXPECT_NE(read_file(scratch_path("utf8.pdf")).find("(Z\xFCrich 5 \x80) Tj"), std::string::npos);

  const std::string file = scratch_path("bad.txt");
  write_file(file, "one\ntwo\nthr\xFF\n");
  RunHost host;
  std::string errors;
  std::vector<Diagnostic> records;
  host.diagnostics_capture = &errors;
  host.diagnostic_list = &records;
  CompileResult result = compile("x\n<encoding utf8>\n<verbatim " + file + ">", "doc", true, host);
  EXPECT_EQ(result.console, stop_text(3, 83, msg_invalid_utf8));
  EXPECT_NE(errors.find(file + ":3:4: error: invalid utf-8 in input file\n"), std::string::npos)
      << errors;
  ASSERT_FALSE(records.empty());  // the record stands at the verbatim command, naming the place
  EXPECT_EQ(records.back().line, 3);
  EXPECT_EQ(records.back().column, 2);
  EXPECT_EQ(records.back().text, file + ":3:4: invalid utf-8 in input file");

  // A warning inside the file names the file too; a missing file stops at its name.
  write_file(file, "a\tb\n");
  errors.clear();
  compile("<verbatim " + file + ">", "doc", true, host);
  EXPECT_EQ(errors, file +
                        ":1: warning: a tab in page text shows as nothing; expand it to "
                        "blanks (or use <tabs 8>)\n");
  errors.clear();
  compile_expecting_stop("x <verbatim missing.c>", 1, 130, msg_cant_open_external, &errors);
  EXPECT_NE(errors.find(":1:13: error: can't open external file"), std::string::npos) << errors;
  compile_expecting_stop("x <verbatim " + file + " verbatim " + file + ">", 1, 129,
                         msg_verbatim_twice);
}
