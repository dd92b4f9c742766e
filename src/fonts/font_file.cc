// Font files, checked before anything of them is used: the kind by the
// first four bytes, then the table directory and the few tables whose
// numbers the document needs. Every offset and count is compared with the
// file's size in 64 bits before it is followed; HarfBuzz checks the rest of
// each table again when it reads it.
//
//   00 01 00 00, "true"   TrueType outlines (glyf, loca)
//   "OTTO"                CFF outlines
//   "ttcf"                a collection: its first face
//   "wOFF", "wOF2"        compressed for the web: refused
#include <cstring>
#include <string>

#include "fonts.h"

namespace {

// Big-endian readers over the file; the caller has checked the bounds.
uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
int16_t s16(const unsigned char* p) { return static_cast<int16_t>(u16(p)); }
uint32_t u32(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t tag(const char* name) { return u32(reinterpret_cast<const unsigned char*>(name)); }

struct Table {
  const unsigned char* data = nullptr;
  uint32_t length = 0;
  bool present() const { return data != nullptr; }
};

struct Reader {
  const unsigned char* data;
  size_t size;
  std::string* reason;

  FontRefusal refuse(FontRefusal kind, const std::string& why) {
    *reason = why;
    return kind;
  }
  bool fits(uint64_t offset, uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
};

// The name a PDF can carry: printable ASCII without delimiters, at most 63.
std::string safe_name(const std::string& raw) {
  std::string name;
  for (char c : raw) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127 || std::strchr("()<>[]{}/%#", c)) continue;
    if (name.size() < 63) name += c;
  }
  return name;
}

// The PostScript name (name ID 6): a Windows Unicode record, else a Mac one.
std::string postscript_name(const Table& name) {
  if (name.length < 6) return "";
  uint32_t count = u16(name.data + 2), storage = u16(name.data + 4);
  std::string best;
  for (uint32_t i = 0; i < count && 6 + (i + 1) * 12 <= name.length; ++i) {
    const unsigned char* record = name.data + 6 + i * 12;
    uint16_t platform = u16(record), name_id = u16(record + 6);
    uint32_t length = u16(record + 8), offset = storage + u16(record + 10);
    if (name_id != 6 || offset > name.length || length > name.length - offset) continue;
    const unsigned char* text = name.data + offset;
    std::string value;
    if (platform == 3 || platform == 0) {  // UTF-16BE: keep the ASCII
      for (uint32_t j = 0; j + 1 < length; j += 2)
        if (text[j] == 0) value += static_cast<char>(text[j + 1]);
    } else if (platform == 1) {
      value.assign(reinterpret_cast<const char*>(text), length);
    }
    value = safe_name(value);
    if (!value.empty() && (best.empty() || platform == 3)) best = value;
  }
  return best;
}

FontRefusal check_face(Reader& r, uint64_t start, FontFacts* facts) {
  if (!r.fits(start, 12)) return r.refuse(FontRefusal::damaged, "its table directory is cut short");
  const unsigned char* dir = r.data + start;
  uint32_t version = u32(dir);
  if (version != 0x00010000 && version != tag("true") && version != tag("OTTO"))
    return r.refuse(FontRefusal::damaged, "its collection names no font");
  uint32_t table_count = u16(dir + 4);
  if (table_count == 0 || !r.fits(start + 12, uint64_t{table_count} * 16))
    return r.refuse(FontRefusal::damaged, "its table directory is cut short");
  Table head, hhea, maxp, hmtx, cmap, glyf, loca, cff, cff2, os2, post, name;
  bool colour = false, bitmaps = false;
  for (uint32_t i = 0; i < table_count; ++i) {
    const unsigned char* record = dir + 12 + i * 16;
    uint32_t t = u32(record), offset = u32(record + 8), length = u32(record + 12);
    if (!r.fits(offset, length))
      return r.refuse(FontRefusal::damaged, "a table runs past the end of the file");
    Table table{r.data + offset, length};
    if (t == tag("head")) head = table;
    else if (t == tag("hhea")) hhea = table;
    else if (t == tag("maxp")) maxp = table;
    else if (t == tag("hmtx")) hmtx = table;
    else if (t == tag("cmap")) cmap = table;
    else if (t == tag("glyf")) glyf = table;
    else if (t == tag("loca")) loca = table;
    else if (t == tag("CFF ")) cff = table;
    else if (t == tag("CFF2")) cff2 = table;
    else if (t == tag("OS/2")) os2 = table;
    else if (t == tag("post")) post = table;
    else if (t == tag("name")) name = table;
    else if (t == tag("COLR") || t == tag("CBDT") || t == tag("sbix") || t == tag("SVG "))
      colour = true;
    else if (t == tag("EBDT") || t == tag("bdat"))
      bitmaps = true;
  }
  if (colour) return r.refuse(FontRefusal::colour, "a colour font, which PDF cannot show as text");
  bool truetype = glyf.present() || loca.present();
  if (!truetype && !cff.present()) {
    if (bitmaps) return r.refuse(FontRefusal::colour, "a font of bitmaps only, without outlines");
    if (cff2.present())
      return r.refuse(FontRefusal::not_a_font, "a font with CFF2 outlines, which PDF cannot embed");
    return r.refuse(FontRefusal::damaged, "a font without glyph outlines");
  }
  // The licence: fsType 2 is restricted, bit 9 allows bitmaps only.
  if (os2.present() && os2.length >= 10) {
    uint16_t fs_type = u16(os2.data + 8);
    if ((fs_type & 0x000F) == 0x0002)
      return r.refuse(FontRefusal::licence, "its licence forbids embedding (fsType restricted)");
    if (fs_type & 0x0200)
      return r.refuse(FontRefusal::licence, "its licence allows embedding bitmaps only (fsType)");
  }
  if (head.length < 54 || u32(head.data + 12) != 0x5F0F3CF5)
    return r.refuse(FontRefusal::damaged, "its head table is damaged");
  if (hhea.length < 36 || maxp.length < 6 || !hmtx.present() || !cmap.present())
    return r.refuse(FontRefusal::damaged, "it lacks a table every font has (hhea, maxp, hmtx, cmap)");
  facts->units_per_em = u16(head.data + 18);
  if (facts->units_per_em < 16 || facts->units_per_em > 16384)
    return r.refuse(FontRefusal::damaged, "its units per em are out of range");
  facts->x_min = s16(head.data + 36);
  facts->y_min = s16(head.data + 38);
  facts->x_max = s16(head.data + 40);
  facts->y_max = s16(head.data + 42);
  facts->glyph_count = u16(maxp.data + 4);
  if (facts->glyph_count == 0) return r.refuse(FontRefusal::damaged, "it has no glyphs");
  uint32_t metrics = u16(hhea.data + 34);
  if (metrics == 0 || metrics > facts->glyph_count ||
      uint64_t{metrics} * 4 + uint64_t{facts->glyph_count - metrics} * 2 > hmtx.length)
    return r.refuse(FontRefusal::damaged, "its horizontal metrics are cut short");
  facts->ascent = s16(hhea.data + 4);
  facts->descent = s16(hhea.data + 6);
  facts->cff = cff.present() && !truetype;
  if (truetype) {
    // Every glyph's outline lies inside glyf, in order.
    int format = s16(head.data + 50);
    uint64_t entry = format == 0 ? 2 : 4;
    if ((format != 0 && format != 1) || !glyf.present() ||
        (uint64_t{facts->glyph_count} + 1) * entry > loca.length)
      return r.refuse(FontRefusal::damaged, "its glyph locations are damaged");
    uint64_t previous = 0;
    for (uint32_t g = 0; g <= facts->glyph_count; ++g) {
      uint64_t at = format == 0 ? uint64_t{u16(loca.data + 2 * g)} * 2 : u32(loca.data + 4 * g);
      if (at < previous || at > glyf.length)
        return r.refuse(FontRefusal::damaged, "its glyph locations are damaged");
      previous = at;
    }
  } else if (cff.length < 4 || cff.data[0] != 1) {
    return r.refuse(FontRefusal::damaged, "its CFF table is damaged");
  }
  if (cmap.length < 4) return r.refuse(FontRefusal::damaged, "its character map is damaged");
  uint32_t subtables = u16(cmap.data + 2);
  if (subtables == 0 || 4 + uint64_t{subtables} * 8 > cmap.length)
    return r.refuse(FontRefusal::damaged, "its character map is damaged");
  for (uint32_t i = 0; i < subtables; ++i)
    if (u32(cmap.data + 4 + i * 8 + 4) >= cmap.length)
      return r.refuse(FontRefusal::damaged, "its character map is damaged");
  // The descriptor's figures: OS/2 where it has them.
  facts->cap_height = static_cast<int16_t>(facts->ascent * 7 / 10);
  if (os2.present() && os2.length >= 78) {
    facts->weight = u16(os2.data + 4);
    facts->italic = (u16(os2.data + 62) & 1) != 0;
    int family_class = os2.data[30];
    facts->serif = family_class >= 1 && family_class <= 7;
    int16_t typo_ascent = s16(os2.data + 68), typo_descent = s16(os2.data + 70);
    if (typo_ascent > 0 && facts->ascent <= 0) facts->ascent = typo_ascent;
    if (typo_descent < 0 && facts->descent >= 0) facts->descent = typo_descent;
    if (u16(os2.data) >= 2 && os2.length >= 90 && s16(os2.data + 88) > 0)
      facts->cap_height = s16(os2.data + 88);
  }
  if (post.present() && post.length >= 16) {
    facts->italic_angle = static_cast<int32_t>(u32(post.data + 4)) / 65536.0;
    facts->fixed_pitch = u32(post.data + 12) != 0;
  }
  if (facts->italic_angle != 0) facts->italic = true;
  facts->postscript_name = postscript_name(name);
  facts->face_offset = static_cast<uint32_t>(start);
  return FontRefusal::none;
}

}  // namespace

FontRefusal check_font_file(const unsigned char* data, size_t size, FontFacts* facts,
                            std::string* reason) {
  Reader r{data, size, reason};
  if (size < 4) return r.refuse(FontRefusal::not_a_font, size == 0 ? "an empty file" : "not a font");
  uint32_t kind = u32(data);
  if (kind == tag("wOFF") || kind == tag("wOF2"))
    return r.refuse(FontRefusal::woff,
                    std::string(kind == tag("wOFF") ? "a WOFF" : "a WOFF2") +
                        " web font; give the .ttf or .otf it was made from");
  if (kind == tag("ttcf")) {
    if (size < 16 || u32(data + 8) == 0)
      return r.refuse(FontRefusal::damaged, "its collection header is cut short");
    return check_face(r, u32(data + 12), facts);
  }
  if (kind == 0x00010000 || kind == tag("true") || kind == tag("OTTO"))
    return check_face(r, 0, facts);
  if (data[0] == 0x80 && data[1] == 0x01)
    return r.refuse(FontRefusal::not_a_font, "a Type 1 font (.pfb); give an OpenType font");
  if (size >= 14 && (std::memcmp(data, "%!PS-AdobeFont", 14) == 0 ||
                     std::memcmp(data, "%!FontType1", 11) == 0))
    return r.refuse(FontRefusal::not_a_font, "a Type 1 font (.pfa); give an OpenType font");
  return r.refuse(FontRefusal::not_a_font, "not a font (.ttf, .otf or .ttc)");
}
