// Loading a font file: read whole (its size compared with the limit before
// anything is allocated), checked by the table directory parser, then
// handed to HarfBuzz. The bytes stay in memory until the font is written at
// the end of the document; the per-glyph records are sized by the font's
// glyph count, never by the document.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <string>

#include "diagnostics.h"
#include "face.h"
#include "pdf.h"

namespace {

// The stop of each refusal, by FontRefusal.
struct RefusalStop {
  int code, message;
};
const RefusalStop refusal_stop[] = {
    {0, 0},
    {104, msg_not_a_font},
    {105, msg_web_font},
    {106, msg_font_licence},
    {107, msg_colour_font},
    {108, msg_font_damaged},
};

}  // namespace

Font::~Font() = default;

hb_font_t* Font::face_font() const { return face->font; }

void attach_face(Font& font, unsigned index) {
  font.face = std::make_unique<LoadedFace>();
  LoadedFace& face = *font.face;
  face.blob = FONT_CALL(hb_blob_create)(reinterpret_cast<const char*>(font.data.data()),
                                        static_cast<unsigned>(font.data.size()),
                                        HB_MEMORY_MODE_READONLY, nullptr, nullptr);
  face.face = FONT_CALL(hb_face_create)(face.blob, index);
  face.font = FONT_CALL(hb_font_create)(face.face);
  FONT_CALL(hb_font_set_scale)(face.font, font.facts.units_per_em, font.facts.units_per_em);
  font.width.assign(font.facts.glyph_count, -1);
  font.text.assign(font.facts.glyph_count, 0);
  font.used.assign(font.facts.glyph_count, 0);
}

std::unique_ptr<Font> load_font_file(const std::string& path, const std::string& shown_name) {
  FileCloser file{open_external_file(path.c_str(), 103)};
  struct stat info;
  if (fstat(fileno(file.file), &info) != 0) {
    report_file_problem(shown_name.c_str(), errno);
    fatal_error(103, msg_cant_open_external);
  }
  int64_t size = info.st_size;
  if (size > max_font_file) {
    report_problem(shown_name + ": " + std::to_string(size) + " bytes, more than a font may have");
    fatal_error(111, msg_font_too_large);
  }
  auto font = std::make_unique<Font>();
  font->path = shown_name;
  font->data.resize(static_cast<size_t>(size));
  size_t got = size > 0 ? std::fread(font->data.data(), 1, font->data.size(), file.file) : 0;
  check_external_read(file.file);
  font->data.resize(got);  // a file that shrank meanwhile is checked as it is
  std::string reason;
  FontRefusal refusal = check_font_file(font->data.data(), font->data.size(), &font->facts, &reason);
  if (refusal != FontRefusal::none) {
    const RefusalStop& stop = refusal_stop[static_cast<int>(refusal)];
    report_problem(shown_name + ": " + reason);
    fatal_error(stop.code, stop.message);
  }
  attach_face(*font, 0);
  return font;
}

int32_t measure_glyph(Font& font, uint32_t glyph) {
  if (glyph >= font.width.size()) return 0;
  hb_position_t advance = FONT_CALL(hb_font_get_glyph_h_advance)(font.face->font, glyph);
  int32_t width = static_cast<int32_t>(std::lround(advance * 1000.0 / font.facts.units_per_em));
  font.width[glyph] = width < 0 ? 0 : width;
  return font.width[glyph];
}

uint32_t font_glyph(const Font& font, uint32_t code_point) {
  hb_codepoint_t glyph = 0;
  if (!FONT_CALL(hb_font_get_nominal_glyph)(font.face->font, code_point, &glyph)) return 0;
  return glyph < font.facts.glyph_count ? glyph : 0;
}

bool record_glyph(Font& font, uint32_t glyph, const char32_t* text, size_t length) {
  if (glyph >= font.text.size()) return false;
  font.used[glyph] = 1;
  if (length == 0 || glyph == 0) return false;
  uint32_t& mapped = font.text[glyph];
  if (mapped == 0) {
    if (length == 1) {
      mapped = text[0] + 1;
    } else if (font.texts.size() + length + 1 < max_glyph_texts && length <= 32) {
      mapped = text_pool_flag | static_cast<uint32_t>(font.texts.size());
      font.texts += static_cast<char32_t>(length);
      font.texts.append(text, length);
    } else {
      return false;
    }
  }
  if (!(mapped & text_pool_flag)) return length == 1 && mapped == text[0] + 1;
  size_t at = mapped & ~text_pool_flag;
  return font.texts[at] == length && font.texts.compare(at + 1, length, text, length) == 0;
}
