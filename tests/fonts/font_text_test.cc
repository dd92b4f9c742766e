// Page text in registered fonts, through whole documents: the glyphs the
// page shows for a line of each script, what the readers give back, the
// metric-compatible fallback of the standard fonts, the stop that lists
// every character no font has, and the refusals of the font commands.
#include <sys/resource.h>

#include <sstream>

#include "fonts.h"
#include "test_support.h"

namespace {

const std::string dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const std::string lohit = "/usr/share/fonts/truetype/lohit-devanagari/Lohit-Devanagari.ttf";
const std::string ipa = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
const std::string nimbus = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";

bool have(const char* tool) { return run_shell(std::string("command -v ") + tool, nullptr) == 0; }

bool readers_present() {
  if (have("hb-shape") && have("pdftotext") && have("mutool")) return true;
  if (std::getenv("KESTRIN_REQUIRE_READERS"))
    ADD_FAILURE() << "hb-shape, pdftotext and mutool are required";
  return false;
}

CompileResult compile_capturing(const std::string& input, std::string* diagnostics) {
  RunHost host;
  host.diagnostics_capture = diagnostics;
  return compile(input, "doc", true, host);
}

// The glyph ids a content stream shows, in order, as hb-shape writes them:
// the two-byte codes of its literal strings.
std::string shown_glyphs(const std::string& content) {
  std::string ids = "[", bytes;
  bool inside = false;
  for (size_t i = 0; i < content.size(); ++i) {
    char c = content[i];
    if (!inside) {
      inside = c == '(';
      continue;
    }
    if (c == ')') {
      for (size_t k = 0; k + 1 < bytes.size(); k += 2)
        ids += (ids.size() > 1 ? "|" : "") +
               std::to_string(uint8_t(bytes[k]) << 8 | uint8_t(bytes[k + 1]));
      bytes.clear();
      inside = false;
      continue;
    }
    if (c == '\\') {
      c = content[++i];
      if (c == 'n') c = '\n';
      if (c == 'r') c = '\r';
    }
    bytes += c;
  }
  return ids + "]";
}

// Dark pixels of the first page drawn in grey at 50 dpi.
int dark_pixels(const std::string& pdf) {
  std::string out;
  std::string image = scratch_path("page.pgm");
  run_shell("mutool draw -q -r 50 -c gray -o '" + image + "' '" + pdf + "' 1", &out);
  std::string pgm = read_file(image);
  std::istringstream in(pgm);
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  int dark = 0;
  for (size_t i = static_cast<size_t>(in.tellg()); i < pgm.size(); ++i)
    dark += static_cast<unsigned char>(pgm[i]) < 128;
  return dark;
}

// The text without the marks of direction readers put around right-to-left words.
std::string without_direction_marks(std::string text) {
  for (const char* mark : {"\u202B", "\u202C", "\u202A", "\u200F", "\u200E"})
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.erase(at, 3);
  return text;
}

std::string in_font(const std::string& font, const std::string& text) {
  return "<encoding utf8><font 15 " + font + "><inittext [/F15 12 Tf 25 811 Td 14 TL]>" + text;
}

}  // namespace

// For a line of each script: the glyphs written are hb-shape's, the text
// comes back from pdftotext (word by word for right-to-left lines, whose
// words readers give in their own order), and the page is not blank.
TEST(FontText, EachScriptShowsShapesAndReadsBack) {
  if (!readers_present()) GTEST_SKIP() << "hb-shape, pdftotext or mutool not installed";
  struct Line {
    const char* name;
    const std::string* font;
    const char* text;
    bool right_to_left;
  } lines[] = {
      {"Polish", &dejavu, "Zażółć gęślą jaźń, WAVE ffi", false},
      {"Czech", &dejavu, "Příliš žluťoučký kůň úpěl ďábelské ódy", false},
      {"Greek", &dejavu, "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία", false},
      {"Russian", &dejavu, "Съешь же ещё этих мягких французских булок", false},
      {"Hebrew", &dejavu, "שלום עולם זה מבחן", true},
      {"Arabic", &dejavu, "مرحبا بالعالم هذا اختبار", true},
      {"Hindi", &lohit, "नमस्ते दुनिया यह हिन्दी परीक्षण है", false},
      {"Japanese", &ipa, "日本語のテキストを表示します。カタカナ", false},
  };
  for (const Line& line : lines) {
    SCOPED_TRACE(line.name);
    CompileResult result = compile(in_font(*line.font, line.text));
    ASSERT_EQ(result.console, success_text());
    EXPECT_EQ(shown_glyphs(stream_of(result.pdf, 24)), hb_shape_glyphs(*line.font, line.text));
    std::string text;
    run_shell("pdftotext '" + result.path + "' -", &text);
    text = without_direction_marks(text);
    if (line.right_to_left) {
      std::istringstream words(line.text);
      for (std::string word; words >> word;) EXPECT_NE(text.find(word), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find(line.text), std::string::npos) << text;
    }
    EXPECT_GT(dark_pixels(result.path), 20);
    // pdffonts: the font embedded, as a subset, with a Unicode map.
    std::string fonts;
    run_shell("pdffonts '" + result.path + "' | grep Identity-H", &fonts);
    EXPECT_NE(fonts.find("yes yes yes"), std::string::npos) << fonts;
    if (have("gs")) {  // Ghostscript reads it without complaint
      std::string out;
      EXPECT_EQ(run_shell("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=nullpage '" + result.path + "'",
                          &out),
                0)
          << out;
      EXPECT_EQ(out.find("rror"), std::string::npos) << out;
    } else if (std::getenv("KESTRIN_REQUIRE_READERS")) {
      ADD_FAILURE() << "Ghostscript (gs) is required";
    }
  }
}

// A right-to-left line ends at the right margin, the left one mirrored.
TEST(FontText, RightToLeftLineIsFlushRight) {
  if (!readers_present()) GTEST_SKIP() << "pdftotext not installed";
  CompileResult result = compile(in_font(dejavu, "abc\nשלום\n"));
  std::string boxes;
  run_shell("pdftotext -bbox '" + result.path + "' -", &boxes);
  std::vector<std::pair<double, double>> found;  // each word's left and right edge
  for (size_t at = boxes.find("<word xMin=\""); at != std::string::npos;
       at = boxes.find("<word xMin=\"", at + 1)) {
    size_t right = boxes.find("xMax=\"", at);
    if (right == std::string::npos) break;
    found.emplace_back(std::atof(boxes.c_str() + at + 12), std::atof(boxes.c_str() + right + 6));
  }
  ASSERT_EQ(found.size(), 2u) << boxes;
  EXPECT_NEAR(found[0].first, 25, 0.5);
  EXPECT_NEAR(found[1].second, 595 - 25, 0.5);
}

// Under <encoding utf8> a standard font draws what Windows-1252 lacks from
// the Liberation face with its metrics: every other word of the line stays
// where the same line with plain letters has it.
TEST(FontText, FallbackKeepsTheLayout) {
  if (!readers_present()) GTEST_SKIP() << "pdftotext not installed";
  for (const char* font : {"/F1", "/F5", "/F10", "/F6"}) {
    SCOPED_TRACE(font);
    std::string start = std::string("<encoding utf8><inittext [") + font + " 12 Tf 25 811 Td 14 TL]>";
    CompileResult accented = compile(start + "Zażółć gęślą jaźń Łódź, Kraków\n", "accented");
    CompileResult plain = compile(start + "Zazolc gesla jazn Lodz, Krakow\n", "plain");
    ASSERT_EQ(accented.console, success_text());
    std::string a, b;
    // The words' left and right edges (their heights differ with the accents).
    const char* edges = "' - | grep '<word' | sed 's/ yMin.*xMax/ xMax/; s/ yMax.*//'";
    run_shell("pdftotext -bbox '" + accented.path + edges, &a);
    run_shell("pdftotext -bbox '" + plain.path + edges, &b);
    EXPECT_EQ(a, b);
    std::string text;
    run_shell("pdftotext '" + accented.path + "' -", &text);
    EXPECT_NE(text.find("Zażółć gęślą jaźń Łódź, Kraków"), std::string::npos) << text;
  }
}

// Characters no font has stop the run once, at the end, with every one of
// them named on standard error with its first line.
TEST(FontText, StopListsEveryMissingCharacter) {
  std::string diagnostics;
  CompileResult result =
      compile_capturing("<encoding utf8>ok ł\n中 and 文\n[/F5 12 Tf]中 again ☃\n", &diagnostics);
  EXPECT_EQ(result.console, stop_text(2, 84, msg_not_in_winansi));
  EXPECT_NE(diagnostics.find("line 2: U+4E2D \"中\" not in /F1 (Courier), Liberation Mono"),
            std::string::npos)
      << diagnostics;
  EXPECT_NE(diagnostics.find("line 2: U+6587"), std::string::npos) << diagnostics;
  EXPECT_EQ(diagnostics.find("line 3: U+4E2D"), std::string::npos) << diagnostics;
  EXPECT_EQ(diagnostics.find("U+0142"), std::string::npos) << diagnostics;  // Liberation has ł
  // A <fallback> font supplies them.
  result = compile("<encoding utf8><font 15 " + ipa + "><fallback 15>ok ł\n中 and 文\n");
  EXPECT_EQ(result.console, success_text());
  // Without the Liberation faces, the stop says which package has them, and
  // the host hears which files were lacking.
  RunHost no_liberation;
  std::vector<std::string> absent;
  no_liberation.diagnostics_capture = &diagnostics;
  no_liberation.fallback_font_folder = "/nonexistent";
  no_liberation.fallback_faces_absent = &absent;
  result = compile("<encoding utf8>ł [/F12 12 Tf]ł ę", "doc", true, no_liberation);
  EXPECT_EQ(result.console, stop_text(1, 84, msg_not_in_winansi));
  EXPECT_NE(diagnostics.find("fonts-liberation2"), std::string::npos) << diagnostics;
  EXPECT_EQ(absent, (std::vector<std::string>{"LiberationMono-Regular.ttf",
                                              "LiberationSerif-Italic.ttf"}));
}

// In a registered font, a character no font has is a warning naming it
// once; a string shown by Tj is a warning too.
TEST(FontText, WarningsOfRegisteredFonts) {
  std::string diagnostics;
  CompileResult result = compile_capturing(in_font(dejavu, "中 中\n文[(x) Tj]\n"), &diagnostics);
  EXPECT_EQ(result.console, success_text());
  EXPECT_NE(diagnostics.find(":1: warning: U+4E2D \"中\" is not in /F15 (DejaVuSans)"),
            std::string::npos)
      << diagnostics;
  EXPECT_EQ(diagnostics.find("U+4E2D", diagnostics.find("U+4E2D") + 1), std::string::npos);
  EXPECT_NE(diagnostics.find("not shaped"), std::string::npos) << diagnostics;
}

// Each refusal of <font> and <fallback> has its code, its message and its
// reason on standard error.
TEST(FontText, CommandRefusals) {
  const std::string good = read_file(dejavu);
  write_file(scratch_path("text.ttf"), "not a font at all\n");
  write_file(scratch_path("web.woff"), "wOFF" + good.substr(4));
  std::string restricted = good;
  for (int i = 0; i < 20; ++i)  // the OS/2 table's fsType, found by its directory record
    if (restricted.compare(12 + i * 16, 4, "OS/2") == 0) {
      size_t at = (uint8_t(good[12 + i * 16 + 8]) << 24 | uint8_t(good[12 + i * 16 + 9]) << 16 |
                   uint8_t(good[12 + i * 16 + 10]) << 8 | uint8_t(good[12 + i * 16 + 11])) + 8;
      restricted[at] = 0, restricted[at + 1] = 2;
    }
  write_file(scratch_path("restricted.ttf"), restricted);
  write_file(scratch_path("cut.ttf"), good.substr(0, 5000));
  std::string colour = good;
  colour.replace(colour.find("GPOS"), 4, "COLR");
  write_file(scratch_path("colour.ttf"), colour);
  const std::string dir = scratch_dir() + "/";
  struct Case {
    const char* situation;
    std::string input;
    int line, code, message;
    const char* reason;
  } cases[] = {
      {"in a page", "x<font 15 " + dejavu + ">", 1, 100, msg_font_in_page, ""},
      {"number 14", "<font 14 " + dejavu + ">", 1, 101, msg_font_number, "15 to 99"},
      {"number 100", "<font 100 " + dejavu + ">", 1, 101, msg_font_number, "15 to 99"},
      {"number used", "<font 15 " + dejavu + ">\n<font 15 " + dejavu + ">", 2, 102,
       msg_font_number_used, "already"},
      {"no such file", "<font 15 " + dir + "none.ttf>", 1, 103, msg_cant_open_external, "none.ttf"},
      {"not a font", "<font 15 " + dir + "text.ttf>", 1, 104, msg_not_a_font, "not a font"},
      {"web font", "<font 15 " + dir + "web.woff>", 1, 105, msg_web_font, "WOFF"},
      {"licence", "<font 15 " + dir + "restricted.ttf>", 1, 106, msg_font_licence, "fsType"},
      {"colour", "<font 15 " + dir + "colour.ttf>", 1, 107, msg_colour_font, "colour"},
      {"damaged", "<font 15 " + dir + "cut.ttf>", 1, 108, msg_font_damaged, "past the end"},
      {"fallback", "<font 15 " + dejavu + ">\n<fallback 15 16>", 2, 110, msg_fallback_not_font,
       "fallback 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation);
    std::string diagnostics;
    CompileResult result = compile_capturing(c.input, &diagnostics);
    EXPECT_EQ(result.console, stop_text(c.line, c.code, c.message));
    EXPECT_NE(diagnostics.find(c.reason), std::string::npos) << diagnostics;
  }
  // Names depend on the machine's fonts: the binary runs them, and they are
  // not kept among the documents the WebAssembly build (without fontconfig)
  // must match.
  if (fontconfig_available()) {
    write_file(scratch_path("unknown.txt"), "<font 15 [No Such Family 123]>");
    ProcessResult r = run_binary({"unknown.txt", "unknown.pdf"});
    EXPECT_EQ(r.out, stop_text(1, 109, msg_no_such_font));
    EXPECT_NE(r.err.find("No Such Family 123"), std::string::npos) << r.err;
    write_file(scratch_path("named.txt"), "<font 15 [DejaVu Sans Mono]><fallback 15>[/F15 12 Tf]x");
    r = run_binary({"named.txt", "named.pdf"});
    EXPECT_EQ(r.out, success_text());
    EXPECT_NE(read_file(scratch_path("named.pdf")).find("+DejaVuSansMono"), std::string::npos);
  }
}

// The pages name the new fonts through one dictionary from the first page
// after the first <font>; a CFF font makes the file 1.6.
TEST(FontText, ResourcesAndVersion) {
  CompileResult result = compile("page one\f<font 15 " + nimbus +
                                 "><inittext [/F15 12 Tf 25 811 Td 14 TL]>page two\fthree");
  ASSERT_EQ(result.console, success_text());
  EXPECT_NE(object_text(result.pdf, 27).find("/Font 8 0 R"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 31).find("/Font 32 0 R"), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 32).find("/F15 "), std::string::npos);
  EXPECT_NE(object_text(result.pdf, 1).find("/Version /1.6"), std::string::npos);
  EXPECT_NE(result.pdf.find("/FontFile3"), std::string::npos);
  EXPECT_EQ(compile(in_font(dejavu, "x")).pdf.find("/Version"), std::string::npos);
}

// A long document in a registered font keeps its memory: 5,000 pages take
// no more than 500 do, give or take a little.
TEST(FontTextSlow, MemoryStaysFlat) {
  if (run_shell("test -x /usr/bin/time", nullptr) != 0) {
    if (std::getenv("KESTRIN_REQUIRE_READERS")) ADD_FAILURE() << "/usr/bin/time is required";
    GTEST_SKIP() << "/usr/bin/time not installed";
  }
  auto peak_for = [&](int pages) {
    std::string doc = in_font(dejavu, "");
    for (int p = 0; p < pages; ++p) doc += "Zażółć gęślą jaźń page " + std::to_string(p) + "\f";
    write_file(scratch_path("long.txt"), doc);
    std::string out;
    run_shell("cd '" + scratch_dir() + "' && /usr/bin/time -f %M " KESTRIN_BINARY
              " long.txt long.pdf 2>&1 >/dev/null | tail -1",
              &out);
    return std::atol(out.c_str());
  };
  long small = peak_for(500), large = peak_for(5000);
  EXPECT_GT(small, 0);
  EXPECT_LT(large, small + 3000) << small << " KB for 500 pages, " << large << " KB for 5000";
}
