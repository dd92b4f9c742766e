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
constexpr size_t cache_slots = size_t{1} << 14;
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
  ~Scratch() {
    if (buffer) FONT_CALL(hb_buffer_destroy)(buffer);  // never loads HarfBuzz only to free nothing
  }
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

hb_unicode_funcs_t* unicode() { return FONT_CALL(hb_unicode_funcs_get_default)(); }

hb_script_t script_of(char32_t c) {
  if (c < 0x80)
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? HB_SCRIPT_LATIN : HB_SCRIPT_COMMON;
  return FONT_CALL(hb_unicode_script)(unicode(), c);
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
  switch (FONT_CALL(hb_unicode_general_category)(unicode(), c)) {
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

// A word's hash: its characters (FNV-1a), then its font, direction and context.
constexpr uint64_t hash_seed = 1469598103934665603ull, hash_prime = 1099511628211ull;
uint64_t word_hash(uint64_t text_hash, int16_t font, bool rtl, uint32_t context) {
  uint64_t h = text_hash ^ (uint64_t(uint16_t(font)) << 40) ^ (rtl ? 7 : 0) ^
               (uint64_t{context} << 3);
  h *= 0x9E3779B97F4A7C15ull;
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
  if (!scratch.buffer) scratch.buffer = FONT_CALL(hb_buffer_create)();
  hb_buffer_t* buffer = scratch.buffer;
  FONT_CALL(hb_buffer_clear_contents)(buffer);
  FONT_CALL(hb_buffer_add_utf32)(buffer, reinterpret_cast<const uint32_t*>(word),
                                 static_cast<int>(length), static_cast<unsigned>(from),
                                 static_cast<int>(to - from));
  FONT_CALL(hb_buffer_set_direction)(buffer, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
  FONT_CALL(hb_buffer_set_script)(buffer, script);
  FONT_CALL(hb_shape)(font.face->font, buffer, nullptr, 0);
  unsigned count = 0;
  hb_glyph_info_t* info = FONT_CALL(hb_buffer_get_glyph_infos)(buffer, &count);
  hb_glyph_position_t* position = FONT_CALL(hb_buffer_get_glyph_positions)(buffer, &count);
  // Each cluster's text runs to the next cluster's start.
  std::vector<unsigned>& starts = scratch.clusters;
  starts.clear();
  for (unsigned i = 0; i < count; ++i) starts.push_back(info[i].cluster);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  const uint16_t upem = font.facts.units_per_em;
  const size_t first_out = out.size();
  for (unsigned i = 0; i < count; ++i) {
    uint32_t glyph = info[i].codepoint < font.facts.glyph_count ? info[i].codepoint : 0;
    PlacedGlyph placed{static_cast<uint16_t>(glyph), font_index,
                       thousandths(position[i].x_advance, upem),
                       thousandths(position[i].x_offset, upem),
                       thousandths(position[i].y_offset, upem)};
    if (placed.y_offset != 0) *y_offsets = true;
    out.push_back(placed);
  }
  // Each cluster (its glyphs lie together) gives its text to the Unicode
  // map: one glyph its whole text, or several glyphs one character each
  // when they are the characters' own glyphs in order. Any other cluster,
  // one whose glyph the map gives another text, and one with a raised or
  // lowered mark (readers take it for another line) becomes a span that
  // carries its text itself.
  for (unsigned a = 0; a < count;) {
    unsigned cluster = info[a].cluster, b = a + 1;
    while (b < count && info[b].cluster == cluster) ++b;
    size_t next = std::upper_bound(starts.begin(), starts.end(), cluster) - starts.begin();
    size_t end = next < starts.size() ? starts[next] : to;
    size_t characters = end > cluster ? end - cluster : 0;
    const char32_t* text = word + cluster;
    bool plain;
    if (b - a == 1) {
      plain = record_glyph(font, out[first_out + a].glyph, text, characters);
    } else {
      plain = b - a == characters;
      for (unsigned k = 0; plain && k < b - a; ++k) {  // logical order
        uint32_t glyph = out[first_out + (rtl ? b - 1 - k : a + k)].glyph;
        plain = glyph == font_glyph(font, text[k]);
      }
      for (unsigned k = 0; k < b - a; ++k) {
        const PlacedGlyph& g = out[first_out + (rtl ? b - 1 - k : a + k)];
        bool own = record_glyph(font, g.glyph, plain ? text + k : nullptr, plain ? 1 : 0);
        plain = plain && own && g.y_offset == 0;
      }
    }
    if (!plain && characters > 0 && characters < 0xFFFF) {
      PlacedGlyph& first = out[first_out + a];
      first.span_glyphs = static_cast<uint16_t>(b - a);
      first.span_from = cluster;
      first.span_length = static_cast<uint16_t>(characters);
    }
    a = b;
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
         FONT_CALL(hb_unicode_general_category)(unicode(), word[i]) ==
             HB_UNICODE_GENERAL_CATEGORY_FORMAT))
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
// Spans keep their text's place in the word; in the line it is further on.
void offset_spans(std::vector<PlacedGlyph>& glyphs, size_t from, size_t word_start) {
  for (size_t k = from; k < glyphs.size(); ++k)
    if (glyphs[k].span_glyphs) glyphs[k].span_from += static_cast<uint32_t>(word_start);
}

uint32_t place_word(FontState& state, int16_t font, const char32_t* word, size_t length,
                    size_t word_start, uint64_t text_hash, bool rtl, uint32_t context,
                    std::vector<PlacedGlyph>& out, bool* y_offsets,
                    std::vector<uint32_t>* missing) {
  if (length > cached_word_length) {
    size_t start = out.size();
    uint32_t after = shape_word(state, font, word, length, rtl, static_cast<hb_script_t>(context),
                                out, y_offsets, missing);
    offset_spans(out, start, word_start);
    return after;
  }
  WordCache& cache = state.words;
  if (cache.slots.empty()) clear_cache(cache);
  uint64_t hash = word_hash(text_hash, font, rtl, context);
  size_t mask = cache.slots.size() - 1;
  size_t slot = hash & mask;
  for (;; slot = (slot + 1) & mask) {
    const WordCache::Entry& e = cache.slots[slot];
    if (e.font < 0) break;
    if (e.hash == hash && e.font == font && e.rtl == rtl && e.context == context &&
        e.length == length &&
        std::equal(word, word + length, cache.text.begin() + e.text)) {
      size_t at = out.size();
      out.insert(out.end(), cache.glyphs.begin() + e.glyphs,
                 cache.glyphs.begin() + e.glyphs + e.glyph_count);
      if (e.has_y_offsets) *y_offsets = true;
      if (e.has_spans) offset_spans(out, at, word_start);
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
  e.has_spans = false;
  for (size_t k = start; k < out.size(); ++k) e.has_spans = e.has_spans || out[k].span_glyphs;
  cache.text.append(word, length);
  cache.glyphs.insert(cache.glyphs.end(), out.begin() + start, out.end());
  ++cache.count;
  if (e.has_spans) offset_spans(out, start, word_start);
  return after;
}

// The end of the word that starts at `from`: blanks, or no blanks, all of
// one level. Its characters' hash, and whether one has a script of its own.
size_t word_end(const char32_t* text, size_t from, size_t length, const FriBidiLevel* levels,
                uint64_t* hash, bool* own_script) {
  uint64_t h = hash_seed;
  bool own = false;
  const bool blank = text[from] == ' ';
  size_t j = from;
  for (; j < length; ++j) {
    char32_t c = text[j];
    if ((c == ' ') != blank || (levels && levels[j] != levels[from])) break;
    h = (h ^ c) * hash_prime;
    if (!own) own = c < 0x80 ? ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') : strong(script_of(c));
  }
  *hash = h;
  *own_script = own;
  return j;
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
    FONT_CALL(fribidi_get_bidi_types)(chars, n, scratch.types.data());
    FONT_CALL(fribidi_get_bracket_types)(chars, n, scratch.types.data(), scratch.brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (!FONT_CALL(fribidi_get_par_embedding_levels_ex)(
            scratch.types.data(), scratch.brackets.data(), n, &direction, levels.data()))
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
    uint64_t text_hash;
    bool own_script;
    size_t j = word_end(text, i, length, bidi ? levels.data() : nullptr, &text_hash, &own_script);
    size_t first = glyphs.size();
    // A word without a script of its own is shaped in the one before it.
    uint32_t word_context = own_script ? 0 : context;
    uint32_t after = place_word(state, font, text + i, j - i, i, text_hash, level & 1,
                                word_context, glyphs, &out->has_y_offsets, missing);
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
