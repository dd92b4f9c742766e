// Page text loop: the input becomes one page's content stream.
//
// Characters are collected into one "(...) Tj" string operand per line, with
// a backslash before "(", ")" and "\"; a line feed ends the string and moves
// to the next line with T*; the page ends at a form feed, when the lines per
// page are used up, or at the end of input. "[", "{" and "<" hand over to the
// raw block, the held-back block and the command group.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "page.h"
#include "pdf.h"

namespace {

// Plain bytes are delivered by the token reader as themselves outside
// commands and shown by the page as characters: all but the escape, the
// brackets, and the line and page ends. Simple bytes are plain bytes that
// are written as they are and that the character source passes unchanged:
// not the carriage return, and no parenthesis. Bytes beyond ASCII are left
// to the token reader while the input is read as UTF-8 or still tested for
// undeclared UTF-8 (ascii_classes). Runs are scanned for visible bytes:
// simple bytes from the blank on.
struct ByteClasses {
  bool plain[256];
  bool simple[256];
  bool visible[256];
  constexpr explicit ByteClasses(bool high_bytes_plain) : plain(), simple(), visible() {
    for (int c = 0; c < 256; ++c) plain[c] = simple[c] = c < 0x80 || high_bytes_plain;
    const char special[] = "\\[]{}<>\n\f";
    for (const char* c = special; *c; ++c) plain[static_cast<unsigned char>(*c)] = false;
    for (int c = 0; c < 256; ++c) simple[c] = plain[c] && c != '\r' && c != '(' && c != ')';
    for (int c = 0; c < 256; ++c) visible[c] = simple[c] && c >= ' ';
  }
};
constexpr ByteClasses byte_classes(true);
constexpr ByteClasses ascii_classes(false);

bool needs_backslash(int byte) { return byte == '(' || byte == ')' || byte == '\\'; }

// The first byte from `from` on that is not visible, or `limit`; it stops
// early at a control character (which the warnings look at), "=" or "|"
// (see below), never late.
template <bool ascii_only>
const unsigned char* skip_simple(const unsigned char* from, const unsigned char* limit) {
#if defined(__SSE2__)
  // Sixteen bytes at a time. Each range below holds the bytes that are not
  // simple, and a few simple ones near them (vertical tab, "=", "|"), which
  // then take the slower way one byte at a time, to the same result.
  auto in_range = [](__m128i bytes, char low, char count) {  // low <= byte < low + count
    __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(count - 1)), offset);
  };
  while (limit - from >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    __m128i special =
        _mm_or_si128(_mm_or_si128(in_range(bytes, 0, ' '), in_range(bytes, '(', 2)),
                     _mm_or_si128(_mm_or_si128(in_range(bytes, '<', 3), in_range(bytes, '[', 3)),
                                  in_range(bytes, '{', 3)));
    if (ascii_only) special = _mm_or_si128(special, bytes);  // the high bit marks them
    int mask = _mm_movemask_epi8(special);
    if (mask != 0) return from + __builtin_ctz(static_cast<unsigned>(mask));
    from += 16;
  }
#endif
  const ByteClasses& classes = ascii_only ? ascii_classes : byte_classes;
  while (from != limit && classes.visible[*from]) ++from;
  return from;
}

// The characters that the string bytes from `from` to `to` show: a
// backslash is an escape, which shows the byte after it.
int32_t shown_count(const unsigned char* from, const unsigned char* to) {
  int32_t count = 0;
  for (; from < to; ++from, ++count)
    if (*from == '\\') ++from;
  return count;
}

// Writes one byte of page text: opens the text object and string if needed.
// The line's width and the page's bottom are watched for the warnings.
void show_byte(int byte) {
  if (!run.text_open) open_text_object();
  if (!run.string_open) {
    run.string_open = 1;
    emit_char('(');
  }
  if (run.lines_on_page >= run.below_page_line) note_below_page();
  run.line_width += run.width_table ? run.width_table[byte] : byte < ' ' ? 0 : run.fixed_char_width;
  if (needs_backslash(byte)) emit_char('\\');
  emit_char(byte);
}

// Shows the word that wrapping holds back until it knows the word's line.
void show_held_word() {
  for (int32_t i = 0; i < run.held_length; ++i) show_byte(run.held_word[i]);
  run.held_length = 0;
}

}  // namespace

// Ends a line as a line feed does; true if that line filled the page.
bool end_line() {
  end_text_line();
  close_string();
  open_text_object();
  emit_text("T*\n");
  run.column = 0;
  run.after_blank = 0;
  if (++run.lines_on_page >= run.lines_per_page) return true;
  if (run.lines_on_page == run.column_lines) break_column();
  return false;
}

namespace {

// One character of a line that may wrap; true if a line it ended filled the
// page. The word after the line's last blank is held back: when a character
// would pass the wrapping width the held word moves to the next line, or,
// with no blank before it on the line, is shown and the line breaks at the
// width. A blank just past the width stays at the end of the full line.
bool lay_out(int byte) {
  const int32_t width = run.wrap_width;
  if (width == 0) {
    show_byte(byte);
    ++run.column;
    return false;
  }
  if (byte == ' ') {
    show_held_word();
    show_byte(' ');
    if (run.column >= width) return end_line();
    ++run.column;
    run.after_blank = 1;
    return false;
  }
  bool full = false;
  if (run.column >= width || run.held_length == max_wrap) {
    if (!run.after_blank || run.held_length == max_wrap) show_held_word();
    int32_t moved = run.held_length;
    full = end_line();
    run.column = moved;
  }
  run.held_word[run.held_length++] = static_cast<unsigned char>(byte);
  ++run.column;
  return full;
}

// Page text read as Windows-1252 whose high byte begins a valid UTF-8
// sequence draws one warning; the test ends there, or after a few high bytes
// that begin none (the text is evidently Windows-1252), or at <encoding>.
void check_undeclared_utf8(int byte) {
  if (run.current_char != byte) return;  // an escape: a byte on purpose
  if (!starts_utf8_sequence(byte)) {
    --run.utf8_checks;
    return;
  }
  run.utf8_checks = 0;
  warn(warn_undeclared_utf8, run.line_number,
       run.options.listing.plain
           ? "this text looks like UTF-8, read here as Windows-1252 bytes: read it with "
             "--encoding utf8"
           : "this text looks like UTF-8, read here as Windows-1252 bytes: declare it with "
             "<encoding utf8> before it");
}

// Shows one character of page text; true if wrapping filled the page.
bool show_char(int t) {
  if (run.fonts.registered != 0) {  // the text state decides which font shows it
    if (!run.text_open) open_text_object();
    if (in_embedded_font()) {
      add_font_text(t);
      return t == ' ' && run.wrap_width != 0 && wrap_font_text(false);
    }
  }
  int byte;
  if (t >= tok_unicode) {
    byte = winansi_byte_or_none(t);
    if (byte < 0) {  // from another font, in place
      show_held_word();
      if (show_fallback_char(t)) ++run.column;
      return false;
    }
  } else {
    byte = t & 0xFF;  // the byte written decides the escape
    if (byte >= 0x80 && run.utf8_checks > 0) check_undeclared_utf8(byte);
  }
  if (byte < ' ' && !(byte == '\t' && run.tab_width != 0)) {
    if (t == byte)
      note_control_character(byte, current_input_line());
    else if (t == tok_close_bracket || t == tok_close_brace || t == tok_close_angle)
      note_stray_closer(t);
  }
  if (run.tab_width == 0 && run.wrap_width == 0) {
    show_byte(byte);
    ++run.column;
    return false;
  }
  if (byte != '\t' || run.tab_width == 0) return lay_out(byte);
  // A tab: blanks to the next tab stop, or to the end of a line that wraps.
  for (int32_t blanks = run.tab_width - run.column % run.tab_width; blanks > 0; --blanks) {
    if (lay_out(' ')) return true;
    if (run.column == 0) break;
  }
  return false;
}

// Shows the plain characters that follow, straight from the character
// source's window, while a string is open outside commands: the same
// characters, line moves, line count and output as token by token, without
// the per-token work. It stops before anything else the token reader or the
// page treats specially (escapes, brackets, form feeds, a full page), at a
// carriage return, and near the end of either buffer, leaving the rest to
// the token reader. A blank that the reader would drop before an opening
// bracket is consumed without being shown; the state left is the one the
// reader would then be in.
template <bool ascii_only>
__attribute__((noinline)) void show_plain_run_of() {
  const ByteClasses& classes = ascii_only ? ascii_classes : byte_classes;
  InputStream& in = run.input_file;
  OutputStream& out = run.output_file;
  const unsigned char* source = in.next;
  const unsigned char* const source_end = in.end;
  unsigned char* target = out.buffer + out.fill;
  unsigned char* const target_start = target;
  unsigned char* const target_end = out.buffer + io_buffer_size;
  int previous = run.previous_char, current = run.current_char, ahead = run.lookahead_char;
  int32_t lines_on_page = run.lines_on_page;
  // The run also stops before the line that falls below the page, so that
  // show_byte meets it.
  const int32_t lines_per_page = std::min(run.lines_per_page, run.below_page_line);
  // Widths of the line, for the warnings, are taken from the bytes written
  // since `measured`: with a Courier font a line is counted only when its
  // bytes exceed the characters that fit (`budget`), with the others the
  // bytes are summed at every line end.
  int64_t line_width = run.line_width;
  const int64_t width_limit = run.line_width_limit;
  const uint16_t* const widths = run.width_table;
  const int64_t fixed_width = run.fixed_char_width;
  auto budget_after = [&](int64_t width) -> int64_t {
    if (widths) return -1;
    if (fixed_width == 0 || width_limit == INT64_MAX || width < 0) return INT64_MAX;
    return (width_limit - width) / fixed_width;
  };
  const int64_t full_budget = budget_after(0);
  int64_t budget = budget_after(line_width);
  // The line's bytes before `measured` are counted; with a Courier font it
  // moves on by one for every escaping backslash and control character, so
  // that the bytes after it are as many as the characters that show.
  const unsigned char* measured = target;
  const int skip_escapes = widths ? 0 : 1;
  auto measure = [&] {
    if (widths) {
      for (const unsigned char* byte = measured; byte < target; ++byte)
        line_width += widths[*byte == '\\' ? *++byte : *byte];
    } else {
      line_width += fixed_width * (target - measured);
    }
  };
  int last_written = 0, lines = 0;
  bool string_open = true;
  while (source != source_end && target_end - target >= 16) {
    if (ahead == '\n') {
      // The line ends: the string closes and T* moves down, as for a line
      // feed token; a plain character after it opens the next string.
      int next = *source;
      if (next == '\r' || next == '[' || next == '{' || next == '<') break;  // read or dropped
      if (ascii_only && next >= 0x80) break;
      if (lines_on_page + 1 >= lines_per_page) break;  // the page ends
      if (target - measured > budget) {                // may be too wide
        measure();
        if (line_width > width_limit) note_wide_line(line_width, run.line_number + lines - 1);
      }
      line_width = 0;
      budget = full_budget;
      previous = current;
      current = ahead;
      ahead = next;
      ++source;
      if (next == '\n') ++lines;
      std::memcpy(target, ") Tj T*\r\n", 9);
      target += 9;
      measured = target;
      ++lines_on_page;
      last_written = '\n';
      // The next string opens only for a character that will be shown: not
      // for a blank that may yet be dropped before a bracket.
      int after = source != source_end ? *source : '\r';
      bool shown = next != ' ' || (after != '\r' && after != '[' && after != '{' && after != '<');
      if (!classes.plain[next] || !shown) {
        string_open = false;
        break;
      }
      *target++ = '(';
      measured = target;
      last_written = '(';
      continue;
    }
    if (ahead < 0 || (ascii_only && ahead > 255) || !classes.plain[ahead]) break;
    // A run of simple bytes: `ahead` and all but the last of them are shown
    // at once, the last becomes the lookahead. Every byte shown is followed
    // by a simple byte, so no blank among them stands before a bracket. A
    // control character is never among them: it is shown one at a time.
    size_t room = std::min<size_t>(source_end - source, target_end - target);
    const unsigned char* stop =
        classes.visible[ahead] ? skip_simple<ascii_only>(source, source + room) : source;
    size_t count = stop - source;
    if (count >= 2) {
      *target++ = static_cast<unsigned char>(ahead);
      std::memcpy(target, source, count - 1);
      target += count - 1;
      previous = count >= 3 ? source[count - 3] : ahead;
      current = source[count - 2];
      ahead = source[count - 1];
      source = stop;
      last_written = current;
      continue;
    }
    // One character at a time where the run ends.
    int next = *source;
    if (next == '\r' || (ascii_only && next >= 0x80)) break;
    previous = current;
    current = ahead;
    ahead = next;
    ++source;
    if (current == ' ' && (next == '[' || next == '{' || next == '<')) break;  // dropped
    if (next == '\n') ++lines;
    if (current < ' ') {  // shows nothing, so adds no width
      note_control_character(current, run.line_number + lines - (next == '\n'));
      measured += skip_escapes;
    }
    if (needs_backslash(current)) {
      *target++ = '\\';
      measured += skip_escapes;
    }
    *target++ = static_cast<unsigned char>(current);
    last_written = current;
  }
  in.next = source;
  run.previous_char = previous;
  run.current_char = current;
  run.lookahead_char = ahead;
  run.line_number += lines;
  run.lines_on_page = lines_on_page;
  measure();
  run.line_width = line_width;
  if (!string_open) run.string_open = 0;
  if (target != target_start) {
    // The column, from what was written: a line feed is written only at a
    // line's end, and the "(" after it opens the next line's string.
    const void* line_end = memrchr(target_start, '\n', target - target_start);
    if (line_end) {
      const unsigned char* line = static_cast<const unsigned char*>(line_end) + 1;
      run.column = shown_count(line + (line != target), target);
    } else {
      run.column += shown_count(target_start, target);
    }
    out.fill = static_cast<int>(target - out.buffer);
    run.bytes_written += target - target_start;
    run.last_char_written = static_cast<signed char>(last_written);
  }
}

// Plain runs are left to the token reader inside commands (comments), under
// tabs and wrapping (columns), in plain text (no markup, numbered lines),
// and for high bytes while they are read as UTF-8 or tested for undeclared
// UTF-8.
void show_plain_run() {
  if (!run.string_open) return;  // a character from another font closed it
  if (run.in_command || !run.host.text_in_runs || run.tab_width != 0 || run.wrap_width != 0 ||
      run.plain_text)
    return;
  if (run.utf8 || (run.utf8_checks > 0 && run.input_file.high_bytes))
    show_plain_run_of<true>();
  else
    show_plain_run_of<false>();
}

}  // namespace

void compose_page() {
  for (;;) {
    int t = next_token();
    if (!run.font_text.empty() && (t < 0 || t == '\n' || t == '\f' || is_bracket_token(t))) {
      if (run.wrap_width != 0) wrap_font_text(true);
      show_font_text();
    }
    switch (t) {
      case tok_end:
        show_held_word();
        end_text_line();
        close_content_stream();
        run.input_ended = 1;
        return;
      case '\n':
        if (run.number_pending) show_line_number();
        show_held_word();
        run.number_pending = run.numbering;  // the next line's
        if (!end_line()) break;
        note_page_full();
        close_content_stream();  // the page is full
        return;
      case '\f':
        show_held_word();
        end_text_line();
        run.column = 0;
        run.after_blank = 0;
        close_content_stream();
        return;
      case tok_open_bracket:
        show_held_word();
        copy_raw_block();
        break;
      case tok_open_brace:
        show_held_word();
        copy_deferred_block();
        break;
      case tok_open_angle:
        show_held_word();
        run.places.group = current_place();
        run_command_group();
        if (run.verbatim.pending) {
          // The file's text begins a line of its own.
          bool numbered = run.verbatim.pending_numbered, full = false;
          if (run.column > 0 || run.held_length > 0) {
            show_held_word();
            full = end_line();
          }
          begin_verbatim();
          if (numbered) start_numbering();
          if (full) {
            note_page_full();
            close_content_stream();
            return;
          }
        }
        break;
      default:
        if (run.number_pending) show_line_number();
        if (show_char(t)) {
          note_page_full();
          close_content_stream();  // wrapping filled the page
          return;
        }
        if (!run.font_text.empty()) {
          if (run.wrap_width == 0) add_font_text_run();  // wrapping looks at every blank
        }
        else
          show_plain_run();
        break;
    }
  }
}
