// Input read as UTF-8: page text in Windows-1252, titles and notes that keep
// every character, URLs percent-encoded, the new stops, the byte order mark
// and the warning for UTF-8 that was not declared.
#include "page.h"
#include "test_support.h"

namespace {

std::string page_text(const CompileResult& result) {
  std::string text;
  run_shell("pdftotext '" + result.path + "' -", &text);
  return text;
}

// Every string of the document as qpdf reports it, text strings decoded.
std::string reader_strings(const CompileResult& result) {
  std::string json;
  run_shell("qpdf --json=1 '" + result.path + "'", &json);
  return json;
}

CompileResult compile_capturing(const std::string& input, std::string* diagnostics) {
  RunHost host;
  host.diagnostics_capture = diagnostics;
  return compile(input, "doc", true, host);
}

}  // namespace

TEST(Encoding, Utf8RoundTripsThroughTheReaders) {
  const std::string text = "Zürich “quoted” ‘single’ – en — em € naïve Ÿ œ";
  CompileResult result =
      compile("<encoding utf8>" + text +
              "\n<outline 1 [Łódź — 東京]><outline 1 [Ελληνικά 😀]><outline 1 [plain (ascii)]>"
              "<text 10 10 50 50 [Zażółć gęślą jaźń]><text 10 60 50 50 [日本語のノート]>"
              "<action 0 0 9 9 0 <url http://example.org/straße exec prog-é [arg é]>>end");
  ASSERT_EQ(result.console, success_text());
  EXPECT_NE(page_text(result).find(text), std::string::npos);
  std::string strings = reader_strings(result);
  for (const char* expected :
       {"\"Łódź — 東京\"", "\"Ελληνικά 😀\"", "\"plain (ascii)\"", "\"Zażółć gęślą jaźń\"",
        "\"日本語のノート\"", "\"http://example.org/stra%C3%9Fe\""})
    EXPECT_NE(strings.find(expected), std::string::npos) << expected;
  // Program names and launch parameters keep the bytes as written.
  EXPECT_NE(result.pdf.find("(prog-é)"), std::string::npos);
  EXPECT_NE(result.pdf.find("(arg é)"), std::string::npos);
  // An all-ASCII title stays a plain string; the others are UTF-16BE.
  EXPECT_NE(result.pdf.find("/Title (plain \\(ascii\\))"), std::string::npos);
  EXPECT_NE(result.pdf.find("/Title (\xFE\xFF\x01\x41\\000\xF3"), std::string::npos);
}

// Characters and escapes give the same Windows-1252 bytes; escapes keep
// meaning bytes, and "winansi" goes back to reading bytes.
TEST(Encoding, PageTextAndBlocksInWinAnsi) {
  CompileResult result = compile("<encoding utf8>é\\351€\\200[(—) Tj]<encoding winansi>\xE9");
  ASSERT_EQ(result.console, success_text());
  std::string stream = stream_of(result.pdf, 24);
  EXPECT_NE(stream.find("(\xE9\xE9\x80\x80) Tj (\x97) Tj\r\n(\xE9)"), std::string::npos);
  // A title escape in a UTF-8 document is the Windows-1252 character.
  EXPECT_NE(reader_strings(compile("<encoding utf8>x<outline 1 [\\200 ok]>")).find("\"€ ok\""),
            std::string::npos);
}

TEST(Encoding, Stops) {
  struct Case {
    const char* situation;
    std::string input;
    int line, code, message;
    const char* diagnostic;
  } cases[] = {
      {"stray continuation byte", "<encoding utf8>ok\n\x80", 2, 83, msg_invalid_utf8, "0x80"},
      {"overlong form", "<encoding utf8>\xC0\xAF", 1, 83, msg_invalid_utf8,
       "kestrin: line 1: byte 0xC0 begins no character (invalid UTF-8)\n"},
      {"overlong form of ASCII", "<encoding utf8>\xC1\xBF", 1, 83, msg_invalid_utf8,
       "kestrin: line 1: byte 0xC1 begins no character (invalid UTF-8)\n"},
      {"surrogate", "<encoding utf8>\xED\xA0\x80", 1, 83, msg_invalid_utf8, "0xED"},
      {"last surrogate", "<encoding utf8>\xED\xBF\xBF", 1, 83, msg_invalid_utf8, "0xED"},
      {"sequence cut by a line end", "<encoding utf8>\n\n\xE2\x82\n", 3, 83, msg_invalid_utf8,
       "0xE2"},
      {"sequence cut by the end", "<encoding utf8>x\xF0\x9F", 1, 83, msg_invalid_utf8, "0xF0"},
      {"page text no font has", "<encoding utf8>a\n中文\n", 2, 84, msg_not_in_winansi,
       "line 2: U+4E2D \"中\" not in /F1 (Courier), Liberation Mono"},
      {"last character of a line", "<encoding utf8>a\nx中\nb", 2, 84, msg_not_in_winansi, "U+4E2D"},
      // U+0080 to U+009F are control characters, not the letters of bytes 0x80 to 0x9F.
      {"U+0080", "<encoding utf8>\xC2\x80", 1, 84, msg_not_in_winansi, "U+0080"},
      {"U+0085", "<encoding utf8>[(\xC2\x85) Tj]", 1, 85, msg_not_in_winansi, "U+0085"},
      {"U+009F", "<encoding utf8>\xC2\x9F", 1, 84, msg_not_in_winansi, "U+009F"},
      {"raw block", "<encoding utf8>x[(東) Tj]", 1, 85, msg_not_in_winansi, "U+6771"},
      {"held-back block", "<encoding utf8>x{% Ω\n}", 1, 85, msg_not_in_winansi, "U+03A9"},
      {"inittext", "<encoding utf8 inittext [/F1 12 Tf % ∞]>", 1, 85, msg_not_in_winansi, "U+221E"},
      {"unknown encoding", "<encoding latin1>", 1, 86, msg_unknown_encoding, "\"latin1\""},
      {"tabs 33", "<tabs 33>", 1, 87, msg_value_out_of_range, "tabs 33"},
      {"tabs -1", "<tabs -1>", 1, 87, msg_value_out_of_range, "1 to 32"},
      {"wrap 9", "<wrap 9>", 1, 88, msg_value_out_of_range, "10 to 1000"},
      {"wrap 1001", "<wrap 1001>", 1, 88, msg_value_out_of_range, "wrap 1001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation);
    std::string diagnostics;
    CompileResult result = compile_capturing(c.input, &diagnostics);
    EXPECT_EQ(result.console, stop_text(c.line, c.code, c.message));
    EXPECT_NE(diagnostics.find(c.diagnostic), std::string::npos) << diagnostics;
  }
}

// A byte order mark is skipped before "<encoding utf8" at the very start; in
// any other place it stays what it always was.
TEST(Encoding, ByteOrderMark) {
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(stream_of(compile(bom + "<encoding utf8>é").pdf, 24),
            stream_of(compile("<encoding utf8>é").pdf, 24));
  EXPECT_NE(stream_of(compile(bom + "é").pdf, 24).find("(" + bom + "\xC3\xA9)"), std::string::npos);
  EXPECT_EQ(compile("<encoding utf8>" + bom).console, stop_text(1, 84, msg_not_in_winansi));
}

// Valid multi-byte UTF-8 in page text read as Windows-1252 draws one warning
// on its line; never once the encoding is declared, for Windows-1252 text,
// or for escapes.
TEST(Encoding, WarningForUndeclaredUtf8) {
  struct Case {
    std::string input;
    const char* expected;  // the warning's line, or "" for none
  } cases[] = {
      {"plain\nZürich and Zürich\nMünchen", ":2: warning: this text looks like UTF-8"},
      {"x" + std::string(70000, 'a') + "\n\nZürich", ":3: warning:"},
      {"<encoding utf8>Zürich", ""},
      {"<encoding winansi>Zürich", ""},
      {"Z\xFCrich caf\xE9 na\xEFve", ""},
      {"\\303\\274 [(\xC3\xBC) Tj]", ""},
  };
  for (const Case& c : cases) {
    std::string diagnostics;
    CompileResult result = compile_capturing(c.input, &diagnostics);
    EXPECT_EQ(result.console, success_text());
    if (*c.expected == 0) {
      EXPECT_EQ(diagnostics, "") << c.input.substr(0, 40);
    } else {
      EXPECT_NE(diagnostics.find(c.expected), std::string::npos) << diagnostics;
      EXPECT_NE(diagnostics.find("<encoding utf8>"), std::string::npos);
      size_t first = diagnostics.find("looks like UTF-8");
      EXPECT_EQ(diagnostics.find("looks like UTF-8", first + 1), std::string::npos);
    }
  }
}

// Runs of plain text read as UTF-8 give the same document as token by token.
TEST(Encoding, RunsMatchTokenByToken) {
  std::string text = "<encoding utf8>";
  for (int i = 0; i < 3000; ++i) text += i % 7 ? "plain words é and “quotes” (x)\n" : "€ — \\351\f";
  CompileResult runs = compile(text, "runs", false);
  RunHost token_by_token;
  token_by_token.text_in_runs = false;
  CompileResult tokens = compile(text, "tokens", false, token_by_token);
  EXPECT_EQ(runs.console, success_text());
  EXPECT_TRUE(runs.pdf == tokens.pdf) << "the documents differ";
}
