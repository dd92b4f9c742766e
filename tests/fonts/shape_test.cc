// Shaping and visual order: the glyphs of a line in each script equal what
// HarfBuzz's own hb-shape gives for the same text and font file.
#include <sstream>

#include "fonts.h"
#include "test_support.h"

namespace {

std::u32string utf32(const std::string& utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = utf8[i];
    int more = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = more == 0 ? c : c & (0x3F >> more);
    for (int k = 1; k <= more; ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
    out += cp;
    i += more + 1;
  }
  return out;
}

std::string our_glyphs(const std::string& font, const std::string& text) {
  FontState state;
  state.fonts.push_back(load_font_file(font, font));
  std::u32string line = utf32(text);
  LaidOutText out;
  lay_out_text(state, 0, line.data(), line.size(), &out, nullptr);
  std::string ids = "[";
  for (size_t i = 0; i < out.glyphs.size(); ++i)
    ids += (i ? "|" : "") + std::to_string(out.glyphs[i].glyph);
  return ids + "]";
}

}  // namespace

const std::string dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string lohit = "/usr/share/fonts/truetype/lohit-devanagari/Lohit-Devanagari.ttf";
const std::string ipa = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

struct ScriptLine {
  const char* name;
  const std::string* font;
  const char* text;
};
const ScriptLine script_lines[] = {
    {"Polish", &dejavu, "Zażółć gęślą jaźń, WAVE AVA"},
    {"Czech", &dejavu, "Příliš žluťoučký kůň úpěl ďábelské ódy"},
    {"Greek", &dejavu, "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία"},
    {"Russian", &dejavu, "Съешь же ещё этих мягких французских булок"},
    {"Hebrew", &dejavu, "שָׁלוֹם עוֹלָם, זה מבחן"},
    {"Arabic", &dejavu, "مرحبا بالعالم، هذا اختبار"},
    {"Hindi", &lohit, "नमस्ते दुनिया, यह हिन्दी परीक्षण है"},
    {"Japanese", &ipa, "日本語のテキストを表示します。カタカナ"},
};

// A fault in the script runs, the word cache or the visual order shows as
// other glyphs or another order than HarfBuzz's own tool gives.
TEST(Shape, GlyphsEqualHbShape) {
  if (run_shell("command -v hb-shape", nullptr) != 0) GTEST_SKIP() << "hb-shape not installed";
  for (const ScriptLine& line : script_lines) {
    EXPECT_EQ(our_glyphs(*line.font, line.text), hb_shape_glyphs(*line.font, line.text))
        << line.name;
  }
}
