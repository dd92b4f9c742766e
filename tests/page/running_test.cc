// Running heads and feet, page numbers and page labels, read back from
// whole documents with pdftotext and qpdf.
#include "test_support.h"

namespace {

bool have(const std::string& command) { return run_shell("command -v " + command, nullptr) == 0; }

std::string repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

// The text pdftotext finds on each page, in reading order.
std::vector<std::string> page_texts(const std::string& pdf) {
  std::string out;
  run_shell("pdftotext -layout '" + pdf + "' -", &out);
  std::vector<std::string> pages;
  size_t from = 0;
  for (size_t at = out.find('\f'); at != std::string::npos; at = out.find('\f', from)) {
    pages.push_back(out.substr(from, at - from));
    from = at + 1;
  }
  return pages;
}

// The text of one page, and the number of pages.
std::string page_text(const std::string& pdf, int page) {
  std::string out, number = std::to_string(page);
  run_shell("pdftotext -layout -f " + number + " -l " + number + " '" + pdf + "' -", &out);
  return out;
}

int page_count(const std::string& pdf) {
  std::string out;
  run_shell("pdfinfo '" + pdf + "' | sed -n 's/^Pages: *//p'", &out);
  return out.empty() ? -1 : std::stoi(out);
}

// The page labels as qpdf reads them: "index:style:start:prefix" each.
std::string page_labels(const std::string& pdf) {
  std::string out;
  run_shell("qpdf --json --json-key=pagelabels '" + pdf +
                "' | python3 -c 'import json,sys\n"
                "for r in json.load(sys.stdin)[\"pagelabels\"]:\n"
                " l=r[\"label\"]; print(r[\"index\"], l.get(\"/S\",\"\"), l.get(\"/St\",\"\"), "
                "l.get(\"/P\",\"\"), sep=\":\", end=\" \")'",
            &out);
  return out;
}

// The peak memory of the built program converting `input`, in kilobytes,
// as /usr/bin/time measures it (a child forked from this test would count
// this process's memory too); -1 without it.
long peak_kilobytes(const std::string& input, const std::string& output) {
  std::string out;
  if (run_shell("/usr/bin/time -f %M -o '" + output + ".peak' '" KESTRIN_BINARY "' '" + input +
                    "' '" + output + "' >/dev/null",
                &out) != 0)
    return -1;
  return std::stol(read_file(output + ".peak"));
}

}  // namespace

// "page N of M" in one pass: the count goes into a form of each page,
// written after the last page, so memory does not grow with the pages.
TEST(Running, PageOfPagesOnOneThreeAndFiveThousandPages) {
  if (!have("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  // The reference is as many pages without a foot: the fixed tables that
  // pages fill are touched as far in both, and the foot must add nothing.
  // (Not under AddressSanitizer, whose quarantine keeps freed memory.)
#if defined(__SANITIZE_ADDRESS__)
  const bool measure = false;
#else
  const bool measure = have("/usr/bin/time");
#endif
  long reference = -1;
  if (measure) {
    write_file(scratch_path("plain.txt"), repeat("x\f", 4999) + "x");
    reference = peak_kilobytes(scratch_path("plain.txt"), scratch_path("out.pdf"));
    ASSERT_GT(reference, 0);
  }
  for (int count : {1, 3, 5000}) {
    SCOPED_TRACE(count);
    std::string input = "<foot centre 5 9 [page %p of %n]>" + repeat("x\f", count - 1) + "x";
    CompileResult result = compile(input, "doc", count < 10);
    ASSERT_EQ(result.console, success_text());
    ASSERT_EQ(page_count(result.path), count);
    for (int page : {1, count}) {
      std::string foot = "page " + std::to_string(page) + " of " + std::to_string(count);
      std::string text = page_text(result.path, page);
      EXPECT_NE(text.find(foot), std::string::npos) << text;
    }
    if (!measure) continue;
    write_file(scratch_path("in.txt"), input);
    long peak = peak_kilobytes(scratch_path("in.txt"), scratch_path("out.pdf"));
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak - reference, 512) << "kilobytes more for " << count << " pages";
  }
}

// A centred foot and a right-aligned head stay exact when the page number
// and the count have different widths (page 9 of 10, page 10 of 10).
TEST(Running, CentredAndRightAlignedStayExact) {
  if (!have("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  CompileResult result = compile("<foot centre 5 10 [page %p of %n] head right 10 10 [%p/%n]>" +
                                 repeat("x\f", 9) + "x");
  for (int page : {9, 10}) {
    std::string out;
    run_shell("pdftotext -bbox-layout -f " + std::to_string(page) + " -l " + std::to_string(page) +
                  " '" + result.path + "' - | grep '<line'",
              &out);
    double edges[3][2];
    ASSERT_EQ(std::sscanf(out.c_str(),
                          " <line xMin=\"%lf\" yMin=\"%*f\" xMax=\"%lf\" yMax=\"%*f\">"
                          " <line xMin=\"%lf\" yMin=\"%*f\" xMax=\"%lf\" yMax=\"%*f\">"
                          " <line xMin=\"%lf\" yMin=\"%*f\" xMax=\"%lf\" yMax=\"%*f\">",
                          &edges[0][0], &edges[0][1], &edges[1][0], &edges[1][1], &edges[2][0],
                          &edges[2][1]),
              6)
        << out;
    EXPECT_NEAR(edges[0][1], 595 - 25, 0.01) << "the head ends at the right margin";
    EXPECT_NEAR((edges[2][0] + edges[2][1]) / 2, 297.5, 0.01) << "the foot is centred";
  }
}

// Where each line goes, which pages show it, and the page labels.
TEST(Running, LinesNumbersAndLabels) {
  if (!have("pdftotext") || !have("qpdf")) GTEST_SKIP() << "pdftotext or qpdf not installed";
  struct Case {
    const char* what;
    std::string document;
    std::vector<std::string> shown, hidden;  // per page: text that shows, text that does not
    std::string labels;
  } cases[] = {
      {"head and foot in all places, with the file name",
       "<head left 5 9 [L %f] head centre 5 9 [C] head right 5 9 [R] foot left 6 9 [%%p] "
       "foot right 10 9 [%p]>a\fb",
       {"doc.txt C R a %p 1", "doc.txt C R b %p 2"},
       {"", ""},
       ""},
      {"numbering from 5",
       "<pagenumber 5 foot right 5 9 [%p of %n]>a\fb",
       {"5 of 6", "6 of 6"},
       {"", ""},
       "0:/D:5: "},
      {"the first page bare",
       "<bare foot centre 5 9 [page %p]>title\fsecond",
       {"title", "page 2"},
       {"page", ""},
       ""},
      {"a cover numbered 0",
       "<bare pagenumber 0 foot centre 5 9 [%p of %n]>cover\f"
       "<pagenumber 1>one\ftwo",
       {"cover", "1 of 2", "2 of 2"},
       {"of", "", ""},
       "0::1:u:0 1:/D:1: "},
      {"set after text: from the next page",
       "first<head left 5 9 [H]>\fsecond<head off>\fthird",
       {"first", "H", "third"},
       {"H", "", "H"},
       ""},
      {"an empty text empties its place",
       "<head left 5 9 [H] head left 5 9 []>x",
       {"x"},
       {"H"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompileResult result = compile(c.document);
    ASSERT_EQ(result.console, success_text());
    std::vector<std::string> pages = page_texts(result.path);
    ASSERT_EQ(pages.size(), c.shown.size());
    for (size_t i = 0; i < pages.size(); ++i) {
      std::string flat;  // words separated by single blanks
      for (char ch : pages[i]) flat += ch == '\n' || ch == ' ' ? ' ' : ch;
      flat.erase(std::unique(flat.begin(), flat.end(),
                             [](char a, char b) { return a == ' ' && b == ' '; }),
                 flat.end());
      EXPECT_NE(flat.find(c.shown[i]), std::string::npos) << "page " << i + 1 << ": " << flat;
      if (!c.hidden[i].empty()) {
        EXPECT_EQ(flat.find(c.hidden[i]), std::string::npos) << "page " << i + 1 << ": " << flat;
      }
    }
    EXPECT_EQ(page_labels(result.path), c.labels);
  }
}
