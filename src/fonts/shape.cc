// Shaping a line: the bidirectional levels (FriBidi, only when the line has
// a right-to-left character or an explicit mark), the line cut into words
// at blanks and at level changes, each word shaped (HarfBuzz) in the font
// and script of each of its characters, and the words put in visual order
// by their levels.
//
// A word shaped once is kept, keyed by its characters, font, direction and
// the script around it, so that a word met again costs one hash lookup: on
// prose most words come again and again. Shaping a word alone gives what
// shaping the whole line gives, because no joining or positioning crosses a
// blank in the fonts people set text in.
#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <cmath>

#include "face.h"
#include "fonts.h"

namespace {

constexpr size_t cached_word_length = 64;  // longer words are shaped every time
constexpr size_t cache_slots = size_t{1} << 15;
constexpr size_t cache_entries = cache_slots / 2;
constexpr size_t cache_pool = size_t{1} << 20;  // characters, and glyphs

// Scratch space reused from line to line (no state between calls).
struct Scratch {
  hb_buffer_t* buffer = nullptr;
  std::vector<FriBidiCharType> types;
  std::vector<FriBidiBracketType> brackets;
  std::vector<FriBidiLevel> levels;
  std::vector<PlacedGlyph> glyphs;  // words in logical order
  std::vector<PlacedGlyph> word;
  std::vector<hb_script_t> scripts;
  std::vector<int16_t> fonts;
  std::vector<unsigned> clusters;
  ~Scratch() { hb_buffer_destroy(buffer); }
};
Scratch scratch;

// Characters whose presence asks for the bidirectional algorithm.
bool needs_bidi(char32_t c) {
  if (c < 0x0590) return false;
  return c <= 0x08FF || (c >= 0x200E && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || (c >= 0xFB1D && c <= 0xFDFF) ||
         (c >= 0xFE70 && c <= 0xFEFF) || (c >= 0x10800 && c <= 0x10FFF) ||
         (c >= 0x1E800 && c <= 0x1EFFF);
}

hb_unicode_funcs_t* unicode() { return hb_unicode_funcs_get_default(); }

hb_script_t script_of(char32_t c) {
  if (c < 0x80)
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? HB_SCRIPT_LATIN : HB_SCRIPT_COMMON;
  return hb_unicode_script(unicode(), c);
}

bool strong(hb_script_t s) {
  return s != HB_SCRIPT_INVALID && s != HB_SCRIPT_COMMON && s != HB_SCRIPT_INHERITED &&
         s != HB_SCRIPT_UNKNOWN;
}

// Han, kana and bopomofo are set as one run, as a Japanese line is.
hb_script_t script_class(hb_script_t s) {
  return s == HB_SCRIPT_HIRAGANA || s == HB_SCRIPT_KATAKANA || s == HB_SCRIPT_BOPOMOFO
             ? HB_SCRIPT_HAN
             : s;
}

// Marks and format characters stay in the font of the character before them.
bool follows_base(char32_t c) {
  if (c < 0x300) return false;
  switch (hb_unicode_general_category(unicode(), c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_FORMAT: return true;
    default: return false;
  }
}

int32_t thousandths(hb_position_t value, uint16_t units_per_em) {
  return static_cast<int32_t>(std::lround(value * 1000.0 / units_per_em));
}

uint64_t word_hash(const char32_t* text, size_t length, int16_t font, bool rtl, uint32_t context) {
  uint64_t h = 1469598103934665603ull ^ (uint64_t(uint16_t(font)) << 33) ^ (rtl ? 7 : 0) ^
               (uint64_t{context} << 1);
  for (size_t i = 0; i < length; ++i) h = (h ^ text[i]) * 1099511628211ull;
  return h ^ (h >> 29);
}

void clear_cache(WordCache& cache) {
  cache.slots.assign(cache_slots, WordCache::Entry{});
  cache.text.clear();
  cache.glyphs.clear();
  cache.count = 0;
}

// Shapes text[from, to) of a word in one font and script; the whole word
// is HarfBuzz's context. Glyphs are appended in visual order.
void shape_piece(FontState& state, const char32_t* word, size_t length, size_t from, size_t to,
                 int16_t font_index, hb_script_t script, bool rtl, std::vector<PlacedGlyph>& out,
                 bool* y_offsets) {
  Font& font = *state.fonts[font_index];
  if (!scratch.buffer) scratch.buffer = hb_buffer_create();
  hb_buffer_t* buffer = scratch.buffer;
  hb_buffer_clear_contents(buffer);
  hb_buffer_add_utf32(buffer, reinterpret_cast<const uint32_t*>(word), static_cast<int>(length),
                      static_cast<unsigned>(from), static_cast<int>(to - from));
  hb_buffer_set_direction(buffer, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
  hb_buffer_set_script(buffer, script);
  hb_shape(font.face->font, buffer, nullptr, 0);
  unsigned count = 0;
  hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
  hb_glyph_position_t* position = hb_buffer_get_glyph_positions(buffer, &count);
  // Each cluster's text runs to the next cluster's start.
  std::vector<unsigned>& starts = scratch.clusters;
  starts.clear();
  for (unsigned i = 0; i < count; ++i) starts.push_back(info[i].cluster);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  const uint16_t upem = font.facts.units_per_em;
  for (unsigned i = 0; i < count; ++i) {
    uint32_t glyph = info[i].codepoint < font.facts.glyph_count ? info[i].codepoint : 0;
    unsigned cluster = info[i].cluster;
    size_t end = std::upper_bound(starts.begin(), starts.end(), cluster) - starts.begin();
    size_t cluster_end = end < starts.size() ? starts[end] : to;
    // The first glyph of a cluster in logical order stands for its text.
    bool first = rtl ? (i + 1 == count || info[i + 1].cluster != cluster)
                     : (i == 0 || info[i - 1].cluster != cluster);
    if (first)
      record_glyph(font, glyph, word + cluster, cluster_end > cluster ? cluster_end - cluster : 0);
    else
      record_glyph(font, glyph, nullptr, 0);
    PlacedGlyph placed{static_cast<uint16_t>(glyph), font_index,
                       thousandths(position[i].x_advance, upem),
                       thousandths(position[i].x_offset, upem),
                       thousandths(position[i].y_offset, upem)};
    if (placed.y_offset != 0) *y_offsets = true;
    out.push_back(placed);
  }
}

// Shapes one word (characters of one level, all blanks or none): split
// where the font or the script changes, each piece shaped with the whole
// word as context. Returns the script a following word takes as context.
uint32_t shape_word(FontState& state, int16_t font, const char32_t* word, size_t length, bool rtl,
                    hb_script_t context, std::vector<PlacedGlyph>& out, bool* y_offsets,
                    std::vector<uint32_t>* missing) {
  std::vector<hb_script_t>& scripts = scratch.scripts;
  std::vector<int16_t>& fonts = scratch.fonts;
  scripts.resize(length);
  fonts.resize(length);
  // Scripts: a character of no script of its own takes the one before it,
  // and those at the start the first one after them.
  hb_script_t current = context;
  size_t first_strong = length;
  for (size_t i = 0; i < length; ++i) {
    hb_script_t s = script_of(word[i]);
    if (strong(s)) {
      current = s;
      if (first_strong == length) first_strong = i;
    }
    scripts[i] = current;
  }
  if (first_strong < length && !strong(context))
    for (size_t i = 0; i < first_strong; ++i) scripts[i] = scripts[first_strong];
  for (size_t i = 0; i < length; ++i) {
    int16_t chosen = -1;
    if (i > 0 && follows_base(word[i]) &&
        (font_glyph(*state.fonts[fonts[i - 1]], word[i]) != 0 ||
         hb_unicode_general_category(unicode(), word[i]) == HB_UNICODE_GENERAL_CATEGORY_FORMAT))
      chosen = fonts[i - 1];
    if (chosen < 0) chosen = font_for_character(state, font, word[i]);
    if (chosen < 0) {
      chosen = font;
      if (missing && !follows_base(word[i])) missing->push_back(word[i]);
    }
    fonts[i] = chosen;
  }
  // Pieces in logical order; right to left they are appended last first.
  std::vector<std::pair<size_t, size_t>> pieces;
  for (size_t i = 0; i < length;) {
    size_t j = i + 1;
    while (j < length && fonts[j] == fonts[i] &&
           script_class(scripts[j]) == script_class(scripts[i]))
      ++j;
    pieces.emplace_back(i, j);
    i = j;
  }
  if (rtl) std::reverse(pieces.begin(), pieces.end());
  for (const auto& piece : pieces) {
    hb_script_t s = scripts[piece.first];
    for (size_t k = piece.first; k < piece.second; ++k)
      if (strong(script_of(word[k]))) {
        s = script_of(word[k]);
        break;
      }
    shape_piece(state, word, length, piece.first, piece.second, fonts[piece.first],
                strong(s) ? s : HB_SCRIPT_COMMON, rtl, out, y_offsets);
  }
  return length > 0 ? scripts[length - 1] : context;
}

// A word from the cache, or shaped and added to it.
uint32_t place_word(FontState& state, int16_t font, const char32_t* word, size_t length, bool rtl,
                    uint32_t context, std::vector<PlacedGlyph>& out, bool* y_offsets,
                    std::vector<uint32_t>* missing) {
  if (length > cached_word_length)
    return shape_word(state, font, word, length, rtl, static_cast<hb_script_t>(context), out,
                      y_offsets, missing);
  WordCache& cache = state.words;
  if (cache.slots.empty()) clear_cache(cache);
  uint64_t hash = word_hash(word, length, font, rtl, context);
  size_t mask = cache.slots.size() - 1;
  size_t slot = hash & mask;
  for (;; slot = (slot + 1) & mask) {
    const WordCache::Entry& e = cache.slots[slot];
    if (e.font < 0) break;
    if (e.hash == hash && e.font == font && e.rtl == rtl && e.context == context &&
        e.length == length &&
        std::equal(word, word + length, cache.text.begin() + e.text)) {
      out.insert(out.end(), cache.glyphs.begin() + e.glyphs,
                 cache.glyphs.begin() + e.glyphs + e.glyph_count);
      if (e.has_y_offsets) *y_offsets = true;
      return e.script_after;
    }
  }
  size_t start = out.size();
  bool word_y = false;
  uint32_t after = shape_word(state, font, word, length, rtl, static_cast<hb_script_t>(context),
                              out, &word_y, missing);
  if (word_y) *y_offsets = true;
  size_t glyph_count = out.size() - start;
  if (cache.count >= cache_entries || cache.text.size() + length > cache_pool ||
      cache.glyphs.size() + glyph_count > cache_pool) {
    clear_cache(cache);
    slot = hash & mask;
    while (cache.slots[slot].font >= 0) slot = (slot + 1) & mask;
  }
  WordCache::Entry& e = cache.slots[slot];
  e.hash = hash;
  e.font = font;
  e.rtl = rtl;
  e.context = context;
  e.script_after = after;
  e.length = static_cast<uint32_t>(length);
  e.text = static_cast<uint32_t>(cache.text.size());
  e.glyphs = static_cast<uint32_t>(cache.glyphs.size());
  e.glyph_count = static_cast<uint32_t>(glyph_count);
  e.has_y_offsets = word_y;
  cache.text.append(word, length);
  cache.glyphs.insert(cache.glyphs.end(), out.begin() + start, out.end());
  ++cache.count;
  return after;
}

// The script a word without one of its own takes: the one before it.
uint32_t context_of(const char32_t* word, size_t length, uint32_t before) {
  for (size_t i = 0; i < length; ++i)
    if (strong(script_of(word[i]))) return 0;  // its own decides
  return before;
}

}  // namespace

int16_t font_for_character(FontState& state, int16_t font, uint32_t code_point) {
  if (font >= 0 && font_glyph(*state.fonts[font], code_point) != 0) return font;
  for (int16_t fallback : state.fallbacks)
    if (font_glyph(*state.fonts[fallback], code_point) != 0) return fallback;
  return -1;
}

void lay_out_text(FontState& state, int16_t font, const char32_t* text, size_t length,
                  LaidOutText* out, std::vector<uint32_t>* missing) {
  out->glyphs.clear();
  out->width = 0;
  out->right_to_left = false;
  out->has_y_offsets = false;
  bool bidi = false;
  for (size_t i = 0; i < length && !bidi; ++i) bidi = needs_bidi(text[i]);
  std::vector<FriBidiLevel>& levels = scratch.levels;
  if (bidi) {
    const FriBidiChar* chars = reinterpret_cast<const FriBidiChar*>(text);
    int n = static_cast<int>(length);
    scratch.types.resize(length);
    scratch.brackets.resize(length);
    levels.resize(length);
    fribidi_get_bidi_types(chars, n, scratch.types.data());
    fribidi_get_bracket_types(chars, n, scratch.types.data(), scratch.brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (!fribidi_get_par_embedding_levels_ex(scratch.types.data(), scratch.brackets.data(), n,
                                             &direction, levels.data()))
      std::fill(levels.begin(), levels.end(), 0);
    out->right_to_left = direction == FRIBIDI_PAR_RTL;
  }
  // Words in logical order, each with its level and its glyphs' range.
  struct Item {
    size_t first, end;
    int level;
  };
  std::vector<Item> items;
  std::vector<PlacedGlyph>& glyphs = bidi ? scratch.glyphs : out->glyphs;
  glyphs.clear();
  uint32_t context = 0;
  for (size_t i = 0; i < length;) {
    int level = bidi ? levels[i] : 0;
    bool blank = text[i] == ' ';
    size_t j = i + 1;
    while (j < length && (text[j] == ' ') == blank && (!bidi || levels[j] == level)) ++j;
    size_t first = glyphs.size();
    uint32_t word_context = context_of(text + i, j - i, context);
    uint32_t after = place_word(state, font, text + i, j - i, level & 1, word_context, glyphs,
                                &out->has_y_offsets, missing);
    if (strong(static_cast<hb_script_t>(after))) context = after;
    if (bidi) items.push_back(Item{first, glyphs.size(), level});
    i = j;
  }
  if (bidi) {
    // Visual order: from the highest level down to the lowest odd one,
    // every run of words at that level or higher is reversed.
    int highest = 0, lowest_odd = 255;
    for (const Item& item : items) {
      highest = std::max(highest, item.level);
      if (item.level & 1) lowest_odd = std::min(lowest_odd, item.level);
    }
    for (int level = highest; level >= lowest_odd && level > 0; --level) {
      for (size_t i = 0; i < items.size();) {
        if (items[i].level < level) {
          ++i;
          continue;
        }
        size_t j = i;
        while (j < items.size() && items[j].level >= level) ++j;
        std::reverse(items.begin() + i, items.begin() + j);
        i = j;
      }
    }
    for (const Item& item : items)
      out->glyphs.insert(out->glyphs.end(), glyphs.begin() + item.first,
                         glyphs.begin() + item.end);
  }
  for (const PlacedGlyph& g : out->glyphs) out->width += g.advance;
}
