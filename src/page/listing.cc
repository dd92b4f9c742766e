// Listings: the layout `kestrin --plain` gives a text in which nothing is
// markup, the line numbers of --line-numbers and <verbatim+>, and the
// second column of --columns 2.
//
// The layout: the paper of --paper (turned to landscape for two columns),
// half an inch at the sides and the bottom, the file name and "page N of M"
// in a running head, the text in the font and size of --font and --size
// with 15 % of the size between lines, tabs at 8, and lines wrapped at the
// width the widest letter of the font leaves, so that no line runs off the
// paper. Line numbers stand in the margin before the text, right-aligned,
// drawn with two text moves that leave the line's start where it was.
#include <algorithm>
#include <string>

#include "diagnostics.h"
#include "page.h"
#include "pdf.h"

namespace {

constexpr int side_margin = 36, bottom_margin = 36, column_gap = 24;
constexpr int head_baseline = 30, head_size = 9;  // the head's baseline below the top

// Width of `byte` in font `font`, thousandths of the size.
int width_of(int font, int byte) {
  const uint16_t* widths = standard_font_widths(font);
  return widths ? widths[byte] : 600;
}

void set_running_line(int slot, int font, const char* text) {
  RunningSlot& line = run.running.slot[slot];
  line.font = font;
  line.size = head_size;
  line.length = 0;
  for (; *text; ++text) line.text[line.length++] = static_cast<unsigned char>(*text);
}

}  // namespace

void set_up_listing() {
  const ListingOptions& o = run.options.listing;
  int width = o.paper_width, height = o.paper_height;
  if (o.columns == 2 && height > width) std::swap(width, height);
  run.paper_width = width;
  run.paper_height = height;
  const int64_t size_tenths = o.size_tenths ? o.size_tenths : o.columns == 2 ? 75 : 100;
  const int64_t size_milli = size_tenths * 100;
  const int64_t leading_milli = (size_tenths * 115 + 5) / 10 * 10;  // 1.15 times, to a hundredth
  const int64_t first_baseline = int64_t{height} * 1000 - (head_baseline + 15) * 1000 - size_milli;
  int64_t lines = (first_baseline - bottom_margin * 1000) / leading_milli + 1;
  lines = std::max<int64_t>(1, std::min<int64_t>(lines, 10000));

  run.digit_milli = width_of(o.font, '0') * size_tenths / 10;
  const int64_t gutter = o.line_numbers ? 6 * run.digit_milli : 0;  // four digits and a gap
  const int64_t column_width =
      (int64_t{width} - 2 * side_margin - (o.columns - 1) * column_gap) * 1000 / o.columns;
  int widest = 0;
  for (int byte = ' '; byte < 127; ++byte) widest = std::max(widest, width_of(o.font, byte));
  const int64_t columns = (column_width - gutter) * 10 / (widest * size_tenths);
  run.wrap_width =
      static_cast<int32_t>(std::max<int64_t>(min_wrap, std::min<int64_t>(columns, max_wrap)));
  run.tab_width = 8;

  std::string state = "/F" + std::to_string(o.font) + " " + points_text(size_milli) + " Tf " +
                      points_text(side_margin * 1000 + gutter) + " " + points_text(first_baseline) +
                      " Td " + points_text(leading_milli) + " TL\n";
  std::copy(state.begin(), state.end(), run.inittext_buffer);
  run.inittext_buffer[state.size()] = 0;
  run.inittext_set = 1;
  run.lines_per_page = static_cast<int32_t>(lines * o.columns);
  if (o.columns == 2) {
    run.column_lines = static_cast<int32_t>(lines);
    run.column_move_milli[0] = column_width + column_gap * 1000;
    run.column_move_milli[1] = lines * leading_milli;
  }

  RunningState& running = run.running;
  running.left = running.right = side_margin;
  running.top = head_baseline;
  set_running_line(0, 6, "%f");
  set_running_line(2, 5, "page %p of %n");
  ++running.version;

  run.plain_text = 1;
  run.numbering = run.number_pending = o.line_numbers;
  run.listing_line = 1;
  run.grey_numbers = 1;
}

void start_numbering() {
  // The digits' width in the font of the text state, as far as it is known.
  TextLayout layout =
      run.text_state_emitted && run.options.warnings ? run.page_layout : initial_text_layout();
  if (layout.width_known && layout.font >= 1 && layout.font <= 14 && layout.size > 0)
    run.digit_milli = static_cast<int64_t>(width_of(layout.font, '0') * layout.size);
  else
    run.digit_milli = 600 * 12;
  run.numbering = run.number_pending = 1;
  run.listing_line = 1;
}

void show_line_number() {
  run.number_pending = 0;
  close_string();
  open_text_object();
  std::string digits = std::to_string(run.listing_line++);
  // Right-aligned, two digits' width before the line's start.
  std::string offset = points_text((static_cast<int64_t>(digits.size()) + 2) * run.digit_milli);
  std::string text = "-" + offset + " 0 Td " + (run.grey_numbers ? "0.55 g (" : "(") + digits +
                     (run.grey_numbers ? ") Tj 0 g " : ") Tj ") + offset + " 0 Td\n";
  emit_text(text.c_str());
}

void break_column() {
  std::string move =
      points_text(run.column_move_milli[0]) + " " + points_text(run.column_move_milli[1]) + " Td\n";
  emit_text(move.c_str());
  layout_move_line(run.column_move_milli[0] / 1000.0, run.column_move_milli[1] / 1000.0);
}
