// Fonts: OpenType and TrueType files loaded and checked, text shaped into
// glyphs (HarfBuzz) and put in visual order (FriBidi), the glyphs each font
// has shown recorded with their text, and at the end of the document each
// font written as a subset with its widths and Unicode map. Fonts never
// know pages: the page code asks for laid-out glyphs and writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// --- Font files ------------------------------------------------------------

// Why a file cannot be embedded; each has its own stop.
enum class FontRefusal : int {
  none,
  not_a_font,  // no font by its first bytes, or another kind of file
  woff,        // WOFF or WOFF2: compressed for the web
  licence,     // fsType forbids embedding (restricted, or bitmap only)
  colour,      // colour glyphs (COLR, CBDT, sbix, SVG) or bitmaps only
  damaged,     // a table past the end, a count that does not fit, ...
};

// What the tables of a face say, for the font descriptor and the widths.
struct FontFacts {
  bool cff = false;             // CFF outlines (an "OTTO" file)
  uint32_t face_offset = 0;     // of its table directory (a collection's first face)
  uint16_t units_per_em = 1000;
  uint32_t glyph_count = 0;
  int16_t x_min = 0, y_min = 0, x_max = 0, y_max = 0;
  int16_t ascent = 0, descent = 0, cap_height = 0;
  uint16_t weight = 400;       // usWeightClass
  double italic_angle = 0;     // degrees, counter-clockwise from vertical
  bool fixed_pitch = false;
  bool italic = false;
  bool serif = false;
  std::string postscript_name;  // safe as a PDF name; may be empty
};

// Checks a font file's bytes with a table directory parser of our own:
// refuses what cannot be embedded, and fills `facts`. `reason` gets the
// words standard error shows after the file name.
FontRefusal check_font_file(const unsigned char* data, size_t size, FontFacts* facts,
                            std::string* reason);

// The largest font file read (64-bit sizes are compared before reading).
constexpr int64_t max_font_file = int64_t{256} << 20;

// --- Loaded fonts ----------------------------------------------------------

struct LoadedFace;  // HarfBuzz's objects over the file (src/fonts/face.h)

// One font the document may show: a registered <font> or a fallback face.
struct Font {
  std::string path;                 // as named in the input
  std::string resource_name;        // "F15", "L5": its name in the page resources
  std::vector<unsigned char> data;  // the whole file, until it is written
  FontFacts facts;
  std::unique_ptr<LoadedFace> face;
  // Per glyph: its width in thousandths of the font size (-1: not yet
  // asked), and the text it stands for (0: none yet; a code point plus 1;
  // or text_pool_flag plus an offset into `texts`, where a length leads).
  std::vector<int32_t> width;
  std::vector<uint32_t> text;
  std::vector<uint8_t> used;
  std::u32string texts;
  int32_t object = 0;  // the Type0 font's number, given when it is written
  struct hb_font_t* face_font() const;  // HarfBuzz's font, for the tests
  ~Font();
};
constexpr uint32_t text_pool_flag = 0x80000000u;
constexpr size_t max_glyph_texts = size_t{1} << 20;  // characters of multi-character texts

// Reads, checks and loads the font file at `path`. A file that cannot be
// opened stops with code 103, a refusal with 104 to 108 (by FontRefusal),
// one over max_font_file with 111; standard error names the file and why.
std::unique_ptr<Font> load_font_file(const std::string& path, const std::string& shown_name);

// The width of `glyph` in thousandths of the font size.
int32_t measure_glyph(Font& font, uint32_t glyph);  // asks HarfBuzz, and keeps it
inline int32_t glyph_width(Font& font, uint32_t glyph) {
  if (glyph < font.width.size() && font.width[glyph] >= 0) return font.width[glyph];
  return measure_glyph(font, glyph);
}

// The glyph for a character, 0 when the font has none.
uint32_t font_glyph(const Font& font, uint32_t code_point);

// Records that `glyph` was shown for `text` (one cluster): the first text a
// glyph is shown for is the one its Unicode map gives. True when that is
// `text`, so that a reader gives it back from the map.
bool record_glyph(Font& font, uint32_t glyph, const char32_t* text, size_t length);

// --- Commands ---------------------------------------------------------------

void command_font();      // number file, or number [name]: a page font /FN
void command_fallback();  // numbers up to ">": the fonts that draw what a font lacks

// --- Finding fonts -------------------------------------------------------------

// The file of the face fontconfig knows by `name` (a family, a full name,
// or a fontconfig pattern such as "DejaVu Sans:bold"); empty, with
// `reason` set, when none has that name or fontconfig is not built in.
std::string find_font_by_name(const std::string& name, std::string* reason);
bool fontconfig_available();

// The face that draws what standard font /F`number` lacks, loaded at its
// first use (as /L`number`); -1 for Symbol and ZapfDingbats, or when its
// file is not installed.
struct FontState;
int16_t liberation_face(FontState& state, int number);
std::string liberation_family(int number);  // "Liberation Sans", or empty

// --- Shaping and visual order ------------------------------------------------

// A glyph as placed: advance and offsets in thousandths of the font size.
// A glyph that begins a span of glyphs whose text the Unicode map cannot
// give (a reordered or merged cluster) carries the span's length and its
// text: span_length characters of the line from span_from.
struct PlacedGlyph {
  uint16_t glyph;
  int16_t font;  // index into FontState::fonts
  int32_t advance;
  int32_t x_offset, y_offset;
  uint16_t span_glyphs = 0, span_length = 0;
  uint32_t span_from = 0;
};

// A piece of one line, in visual order.
struct LaidOutText {
  std::vector<PlacedGlyph> glyphs;
  int64_t width = 0;           // sum of advances
  bool right_to_left = false;  // the base direction (the first strong character)
  bool has_y_offsets = false;
};

// --- Per-run state ------------------------------------------------------------

// Shaped words, so that a word met again costs one lookup: keyed by the
// word's characters, its font, direction and the script around it. Its
// memory is bounded: it is emptied when full.
struct WordCache {
  struct Entry {
    uint64_t hash = 0;
    uint32_t text = 0, glyphs = 0;  // offsets into the pools
    uint32_t length = 0, glyph_count = 0;
    int16_t font = -1;     // -1: a free slot
    bool rtl = false;      // shaped right to left
    uint32_t context = 0;  // the script before it, for a word without one of its own
    uint32_t script_after = 0;  // the script a following word takes as its context
    bool has_y_offsets = false;
    bool has_spans = false;
  };
  std::vector<Entry> slots;  // a power of two of them
  std::u32string text;
  std::vector<PlacedGlyph> glyphs;
  size_t count = 0;
};

// A character that no font had, for the stop that lists them all.
struct MissingCharacter {
  uint32_t code_point;
  int64_t line;  // its first
  int32_t font;  // the page font it was set in (/F1 .. /F14), 0: not known
};

// Everything the fonts keep during one run: a member of the run record.
struct FontState {
  std::vector<std::unique_ptr<Font>> fonts;  // registered and fallback faces
  int32_t registered = 0;        // fonts registered by <font>
  int16_t by_number[100] = {};   // fonts index + 1 of /F15 .. /F99, 0: none
  int16_t liberation[14] = {};   // of the face for /F1 .. /F13; -1: not installed
  std::vector<int16_t> fallbacks;  // <fallback>: fonts indices in order
  std::vector<MissingCharacter> missing;  // no font had them (standard fonts)
  std::vector<uint32_t> warned;  // characters already warned about
  WordCache words;
  bool needs_version_1_6 = false;  // a CFF font embedded as OpenType
  ~FontState();
};

// Shapes `text` (logical order, one line or part of one) in `font` with the
// fallbacks, and puts it in visual order. Characters no font has are shaped
// as the font's missing glyph and, when `missing` is given, appended there.
void lay_out_text(FontState& state, int16_t font, const char32_t* text, size_t length,
                  LaidOutText* out, std::vector<uint32_t>* missing);

// The font among `font` and the fallbacks that has `code_point`, or -1.
int16_t font_for_character(FontState& state, int16_t font, uint32_t code_point);

// --- Writing -----------------------------------------------------------------

// Writes the fonts that were shown as subsets, each as a Type0 font with its
// CIDFont, descriptor, font file and Unicode map, numbered from next_object;
// sets each Font::object. A font that showed nothing is not written (its
// object stays 0), and the page font dictionary leaves it out.
// `compress` Flate-compresses the Unicode maps (font files always are).
void write_font_subsets(FontState& state, bool compress);

// The subset of `font` as an OpenType/TrueType file: the glyphs shown, at
// their own glyph ids. Empty if the subsetter failed.
std::vector<unsigned char> subset_font(Font& font);

// The Unicode map (a ToUnicode CMap) of the glyphs `font` has shown.
std::string unicode_map(const Font& font);

// The /W array of the glyphs `font` has shown, "[3 [602 602] 9 [300]]".
std::string width_array(Font& font);

// Six capital letters that name the subset, from its glyphs.
std::string subset_tag(const Font& font);
