// The fonts' objects, written after the last page: for each font that was
// shown, a Type0 font over Identity-H, its CIDFont with the widths of the
// glyphs shown, a font descriptor with the face's own metrics, the font
// file cut down to those glyphs (HarfBuzz's subsetter, glyph ids kept, so
// that the pages already written stay right), and a Unicode map that gives
// each glyph the text it was shown for.
//
//   n    Type0 font          n+3  font file (FontFile2, or FontFile3 /OpenType for CFF)
//   n+1  CIDFont             n+4  its length
//   n+2  font descriptor     n+5  Unicode map, n+6 its length
#include <hb-subset.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "diagnostics.h"
#include "face.h"
#include "pdf.h"

namespace {

uint32_t tag(const char* name) {
  return HB_TAG(name[0], name[1], name[2], name[3]);
}

// The tables a PDF reader needs from an embedded font; the others go.
bool kept_table(uint32_t t, bool cff) {
  static const char truetype[] = "head hhea hmtx maxp loca glyf cvt  fpgm prep cmap ";
  static const char opentype[] = "CFF  head hhea hmtx maxp cmap OS/2 name post ";
  for (const char* name = cff ? opentype : truetype; *name; name += 5)
    if (t == tag(name)) return true;
  return false;
}

// A number of font units in thousandths of the em.
int64_t scaled(const Font& font, double units) {
  return std::lround(units * 1000.0 / font.facts.units_per_em);
}

void put_hex4(std::string& out, uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[value >> shift & 15];
}

// A code point as UTF-16BE hex digits.
void put_utf16(std::string& out, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    put_hex4(out, 0xD800 + (c >> 10));
    put_hex4(out, 0xDC00 + (c & 0x3FF));
  } else {
    put_hex4(out, c);
  }
}

bool shown(const Font& font) {
  return std::any_of(font.used.begin(), font.used.end(), [](uint8_t u) { return u != 0; });
}

// A stream whose data is `bytes`: its dictionary `dictionary` (up to the
// /Length entry), Flate-compressed when `compress`.
void write_stream(const std::string& dictionary, const unsigned char* bytes, size_t size,
                  bool compress, bool text) {
  begin_object(dictionary.c_str());
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(compress ? " 0 R /Filter /FlateDecode >>\nstream\n" : " 0 R >>\nstream\n");
  if (compress) {
    flate_begin(6);
    emit_raw_bytes(bytes, size);
    end_stream_object(flate_end());
    return;
  }
  int64_t start = run.bytes_written;
  if (text)
    emit_text(std::string(reinterpret_cast<const char*>(bytes), size).c_str());
  else
    emit_raw_bytes(bytes, size);
  int64_t length = run.bytes_written - start;
  emit_text(text ? "endstream\nendobj\n" : "\nendstream\nendobj\n");
  length_object(length);
}

void write_font(Font& font, bool compress) {
  // The subset, checked as the file was; should the subsetter fail, the
  // whole file, which passed that check.
  std::vector<unsigned char> program = subset_font(font);
  FontFacts facts;
  std::string reason;
  if (program.empty() ||
      check_font_file(program.data(), program.size(), &facts, &reason) != FontRefusal::none)
    program.assign(font.data.begin(), font.data.end());
  const FontFacts& f = font.facts;
  std::string name = subset_tag(font) + "+" +
                     (f.postscript_name.empty() ? "Font" + font.resource_name : f.postscript_name);
  int32_t n = run.next_object;
  font.object = n;
  std::string text = "<<\n/Type /Font\n/Subtype /Type0\n/BaseFont /" + name +
                     "\n/Encoding /Identity-H\n/DescendantFonts [" + std::to_string(n + 1) +
                     " 0 R]\n/ToUnicode " + std::to_string(n + 5) + " 0 R\n>>";
  whole_object(text.c_str());
  text = "<<\n/Type /Font\n/Subtype /" + std::string(f.cff ? "CIDFontType0" : "CIDFontType2") +
         "\n/BaseFont /" + name +
         "\n/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
         "\n/FontDescriptor " +
         std::to_string(n + 2) + " 0 R\n/DW 1000\n/W " + width_array(font) +
         (f.cff ? "" : "\n/CIDToGIDMap /Identity") + "\n>>";
  whole_object(text.c_str());
  int flags = 4;  // symbolic: glyphs beyond the standard Latin set
  if (f.fixed_pitch) flags |= 1;
  if (f.serif) flags |= 2;
  if (f.italic) flags |= 64;
  double stem = 50 + (f.weight / 65.0) * (f.weight / 65.0);
  text = "<<\n/Type /FontDescriptor\n/FontName /" + name + "\n/Flags " + std::to_string(flags) +
         "\n/FontBBox [" + std::to_string(scaled(font, f.x_min)) + " " +
         std::to_string(scaled(font, f.y_min)) + " " + std::to_string(scaled(font, f.x_max)) + " " +
         std::to_string(scaled(font, f.y_max)) + "]\n/ItalicAngle " +
         decimal_text(f.italic_angle, 2) + "\n/Ascent " + std::to_string(scaled(font, f.ascent)) +
         "\n/Descent " + std::to_string(scaled(font, f.descent)) + "\n/CapHeight " +
         std::to_string(scaled(font, f.cap_height)) + "\n/StemV " +
         std::to_string(std::lround(stem)) + (f.cff ? "\n/FontFile3 " : "\n/FontFile2 ") +
         std::to_string(n + 3) + " 0 R\n>>";
  whole_object(text.c_str());
  std::string dictionary = f.cff ? "<< /Subtype /OpenType" : "<< /Length1 " + std::to_string(program.size());
  write_stream(dictionary, program.data(), program.size(), true, false);
  std::string map = unicode_map(font);
  write_stream("<<", reinterpret_cast<const unsigned char*>(map.data()), map.size(), compress,
               true);
}

}  // namespace

std::vector<unsigned char> subset_font(Font& font) {
  std::vector<unsigned char> result;
  hb_subset_input_t* input = FONT_CALL(hb_subset_input_create_or_fail)();
  if (!input) return result;
  hb_set_t* glyphs = FONT_CALL(hb_subset_input_glyph_set)(input);
  FONT_CALL(hb_set_add)(glyphs, 0);
  for (uint32_t g = 0; g < font.used.size(); ++g)
    if (font.used[g]) FONT_CALL(hb_set_add)(glyphs, g);
  FONT_CALL(hb_subset_input_set_flags)(input, HB_SUBSET_FLAGS_RETAIN_GIDS);
  hb_set_t* drop = FONT_CALL(hb_subset_input_set)(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
  hb_tag_t tags[64];
  for (unsigned start = 0;;) {
    unsigned count = 64;
    FONT_CALL(hb_face_get_table_tags)(font.face->face, start, &count, tags);
    for (unsigned i = 0; i < count; ++i)
      if (!kept_table(tags[i], font.facts.cff)) FONT_CALL(hb_set_add)(drop, tags[i]);
    if (count < 64) break;
    start += count;
  }
  {  // the cmap keeps the characters shown
    hb_set_t* unicodes = FONT_CALL(hb_subset_input_unicode_set)(input);
    for (uint32_t g = 0; g < font.text.size(); ++g)
      if (font.text[g] != 0 && !(font.text[g] & text_pool_flag))
        FONT_CALL(hb_set_add)(unicodes, font.text[g] - 1);
  }
  hb_face_t* subset = FONT_CALL(hb_subset_or_fail)(font.face->face, input);
  FONT_CALL(hb_subset_input_destroy)(input);
  if (!subset) return result;
  hb_blob_t* blob = FONT_CALL(hb_face_reference_blob)(subset);
  unsigned length = 0;
  const char* data = FONT_CALL(hb_blob_get_data)(blob, &length);
  result.assign(data, data + length);
  FONT_CALL(hb_blob_destroy)(blob);
  FONT_CALL(hb_face_destroy)(subset);
  return result;
}

std::string width_array(Font& font) {
  std::string out = "[";
  uint32_t count = static_cast<uint32_t>(font.used.size());
  for (uint32_t g = 0; g < count;) {
    if (!font.used[g]) {
      ++g;
      continue;
    }
    out += std::to_string(g) + " [";
    for (bool first = true; g < count && font.used[g]; ++g, first = false) {
      if (!first) out += ' ';
      out += std::to_string(glyph_width(font, g));
    }
    out += "] ";
  }
  if (out.back() == ' ') out.pop_back();
  return out + "]";
}

std::string unicode_map(const Font& font) {
  std::vector<std::pair<uint32_t, std::string>> entries;
  for (uint32_t g = 1; g < font.text.size(); ++g) {
    uint32_t t = font.text[g];
    if (t == 0) continue;
    std::string target;
    if (t & text_pool_flag) {
      size_t at = t & ~text_pool_flag;
      size_t length = font.texts[at];
      for (size_t i = 0; i < length; ++i) put_utf16(target, font.texts[at + 1 + i]);
    } else {
      put_utf16(target, t - 1);
    }
    entries.emplace_back(g, target);
  }
  std::string out =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  for (size_t i = 0; i < entries.size(); i += 100) {
    size_t end = std::min(entries.size(), i + 100);
    out += std::to_string(end - i) + " beginbfchar\n";
    for (size_t k = i; k < end; ++k) {
      out += '<';
      put_hex4(out, entries[k].first);
      out += "> <" + entries[k].second + ">\n";
    }
    out += "endbfchar\n";
  }
  out += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
  return out;
}

std::string subset_tag(const Font& font) {
  uint64_t h = 1469598103934665603ull;
  for (char c : font.facts.postscript_name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  for (uint32_t g = 0; g < font.used.size(); ++g)
    if (font.used[g]) h = (h ^ g) * 1099511628211ull;
  std::string tag;
  for (int i = 0; i < 6; ++i) {
    tag += static_cast<char>('A' + h % 26);
    h /= 26;
  }
  return tag;
}

void write_font_subsets(FontState& state, bool compress) {
  for (auto& font : state.fonts) {
    if (!shown(*font)) continue;
    if (font->facts.cff) state.needs_version_1_6 = true;
    write_font(*font, compress);
  }
}

FontState::~FontState() = default;
