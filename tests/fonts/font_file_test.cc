// Font files: what the table directory check refuses, with which reason;
// the facts it reads for the descriptor; and the subsets the subsetter
// makes, which keep glyph ids and pass the same check.
#include <hb.h>

#include <cstring>

#include "fonts.h"
#include "test_support.h"

namespace {

const std::string dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const std::string nimbus = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";

uint32_t be32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
         uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

// The directory record of table `name` (its offset in the file), or 0.
size_t table_record(const std::string& font, const char* name) {
  int count = uint8_t(font[4]) << 8 | uint8_t(font[5]);
  for (int i = 0; i < count; ++i)
    if (font.compare(12 + i * 16, 4, name) == 0) return 12 + i * 16;
  return 0;
}

// A collection of one face: its header, then the font with every table's
// offset moved past that header.
std::string collection_of(const std::string& font) {
  std::string header("ttcf\0\1\0\0\0\0\0\1\0\0\0\x10", 16), moved = font;
  int count = uint8_t(font[4]) << 8 | uint8_t(font[5]);
  for (int i = 0; i < count; ++i) {
    size_t at = 12 + i * 16 + 8;
    uint32_t offset = be32(font, at) + 16;
    for (int k = 0; k < 4; ++k) moved[at + k] = char(offset >> (24 - 8 * k));
  }
  return header + moved;
}

FontRefusal check(const std::string& bytes, std::string* reason, FontFacts* facts = nullptr) {
  FontFacts scratch;
  return check_font_file(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         facts ? facts : &scratch, reason);
}

}  // namespace

// Each kind of file that cannot be embedded is refused for its own reason,
// never taken for a font; a font made from DejaVu Sans by one change each.
TEST(FontFile, RefusesWhatCannotBeEmbedded) {
  const std::string good = read_file(dejavu);
  auto changed = [&](const std::function<void(std::string&)>& change) {
    std::string bytes = good;
    change(bytes);
    return bytes;
  };
  auto rename = [&](const char* from, const char* to) {
    return changed([=](std::string& b) { b.replace(table_record(b, from), 4, to); });
  };
  auto os2_fs_type = [&](int value) {
    return changed([=](std::string& b) {
      size_t os2 = be32(b, table_record(b, "OS/2") + 8);
      b[os2 + 8] = char(value >> 8);
      b[os2 + 9] = char(value);
    });
  };
  struct Case {
    const char* name;
    std::string bytes;
    FontRefusal refusal;
    const char* reason_part;
  } cases[] = {
      {"DejaVu Sans", good, FontRefusal::none, ""},
      {"empty", "", FontRefusal::not_a_font, "empty"},
      {"text", "Hello, world\n", FontRefusal::not_a_font, "not a font"},
      {"PNG", "\x89PNG\r\n\x1a\n rest", FontRefusal::not_a_font, "not a font"},
      {"Type 1", "%!PS-AdobeFont-1.0: Foo", FontRefusal::not_a_font, "Type 1"},
      {"WOFF", "wOFF" + good.substr(4), FontRefusal::woff, "WOFF web font"},
      {"WOFF2", "wOF2" + good.substr(4), FontRefusal::woff, "WOFF2"},
      {"restricted", os2_fs_type(2), FontRefusal::licence, "forbids"},
      {"bitmaps only", os2_fs_type(0x0200), FontRefusal::licence, "bitmaps only"},
      {"editable", os2_fs_type(8), FontRefusal::none, ""},
      {"colour", rename("GPOS", "COLR"), FontRefusal::colour, "colour"},
      {"no outlines", changed([&](std::string& b) {
         b.replace(table_record(b, "glyf"), 4, "EBDT");
         b.replace(table_record(b, "loca"), 4, "EBLC");
       }),
       FontRefusal::colour, "bitmaps only"},
      {"cut short", good.substr(0, good.size() / 2), FontRefusal::damaged, "past the end"},
      {"directory cut", good.substr(0, 40), FontRefusal::damaged, "cut short"},
      {"head", changed([&](std::string& b) { b[be32(b, table_record(b, "head") + 8) + 12] = 0; }),
       FontRefusal::damaged, "head"},
      {"no cmap", rename("cmap", "xmap"), FontRefusal::damaged, "lacks"},
      {"loca", changed([&](std::string& b) {
         size_t loca = be32(b, table_record(b, "loca") + 8);
         b[loca + 4] = char(0xFF);  // the second glyph ends before it starts
       }),
       FontRefusal::damaged, "locations"},
      {"collection", collection_of(good), FontRefusal::none, ""},
      {"bad collection", std::string("ttcf\0\1\0\0\0\0\0\1\0\0\0\x10", 16) + good.substr(4),
       FontRefusal::damaged, "names no"},
  };
  for (const Case& c : cases) {
    std::string reason;
    EXPECT_EQ(check(c.bytes, &reason), c.refusal) << c.name << ": " << reason;
    EXPECT_NE(reason.find(c.reason_part), std::string::npos) << c.name << ": " << reason;
  }
}

// The descriptor's figures come from the face's own tables.
TEST(FontFile, ReadsTheFactsOfEachOutlineKind) {
  std::string reason;
  FontFacts sans, mono, cff;
  ASSERT_EQ(check(read_file(dejavu), &reason, &sans), FontRefusal::none) << reason;
  ASSERT_EQ(check(read_file(dejavu_mono), &reason, &mono), FontRefusal::none) << reason;
  ASSERT_EQ(check(read_file(nimbus), &reason, &cff), FontRefusal::none) << reason;
  EXPECT_EQ(sans.postscript_name, "DejaVuSans");
  EXPECT_EQ(sans.units_per_em, 2048);
  EXPECT_FALSE(sans.cff);
  EXPECT_FALSE(sans.fixed_pitch);
  EXPECT_TRUE(mono.fixed_pitch);
  EXPECT_TRUE(cff.cff);
  EXPECT_EQ(cff.postscript_name, "NimbusSans-Regular");
  EXPECT_GT(sans.ascent, 0);
  EXPECT_LT(sans.descent, 0);
  EXPECT_GT(sans.cap_height, 0);
}

// A subset keeps every shown glyph under its own id, drops the others'
// outlines, and is itself a font the check accepts.
TEST(FontFile, SubsetKeepsGlyphIds) {
  for (const std::string& path : {dejavu, nimbus}) {
    FontState state;
    state.fonts.push_back(load_font_file(path, path));
    Font& font = *state.fonts[0];
    std::u32string text = U"Hello";
    LaidOutText out;
    lay_out_text(state, 0, text.data(), text.size(), &out, nullptr);
    std::vector<unsigned char> subset = subset_font(font);
    ASSERT_FALSE(subset.empty()) << path;
    EXPECT_LT(subset.size(), font.data.size() / 5) << path;
    std::string reason;
    FontFacts facts;
    EXPECT_EQ(check_font_file(subset.data(), subset.size(), &facts, &reason), FontRefusal::none)
        << path << ": " << reason;
    hb_blob_t* blob = hb_blob_create(reinterpret_cast<const char*>(subset.data()),
                                     unsigned(subset.size()), HB_MEMORY_MODE_READONLY, nullptr,
                                     nullptr);
    hb_face_t* face = hb_face_create(blob, 0);
    hb_font_t* hb = hb_font_create(face);
    for (const PlacedGlyph& g : out.glyphs) {
      hb_glyph_extents_t extents{}, original{};
      EXPECT_TRUE(hb_font_get_glyph_extents(hb, g.glyph, &extents)) << path << " " << g.glyph;
      hb_font_get_glyph_extents(font.face_font(), g.glyph, &original);
      EXPECT_EQ(extents.width, original.width) << path << " glyph " << g.glyph;
    }
    uint32_t unused = font_glyph(font, 'Z');
    hb_glyph_extents_t empty{};
    hb_font_get_glyph_extents(hb, unused, &empty);
    EXPECT_EQ(empty.width, 0) << path << ": Z was not shown";
    hb_font_destroy(hb);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
  }
}

// The Unicode map gives each glyph the text it was first shown for, a
// ligature its whole text; the widths list the glyphs shown.
TEST(FontFile, UnicodeMapAndWidths) {
  FontState state;
  state.fonts.push_back(load_font_file(dejavu, dejavu));
  Font& font = *state.fonts[0];
  std::u32string text = U"fi A\U0001D538";
  LaidOutText out;
  lay_out_text(state, 0, text.data(), text.size(), &out, nullptr);
  std::string map = unicode_map(font);
  uint32_t a = font_glyph(font, 'A');
  char entry[32];
  std::snprintf(entry, sizeof entry, "<%04X> <0041>", a);
  EXPECT_NE(map.find(entry), std::string::npos) << map;
  std::snprintf(entry, sizeof entry, "<%04X> <D835DD38>", font_glyph(font, 0x1D538));
  EXPECT_NE(map.find(entry), std::string::npos) << map;
  std::string widths = width_array(font);
  EXPECT_NE(widths.find(std::to_string(a) + " [684"), std::string::npos) << widths;
  EXPECT_EQ(subset_tag(font).size(), 6u);
}
