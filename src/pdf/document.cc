// The fixed document objects: the font resource dictionary and the fourteen
// standard fonts first (objects 8 to 22), and the document tail last.
//
// Tail order: outline items, annotation and action objects, then the
// catalogue 1, outline root 2, Pages root 3 with its nodes, open action 4,
// viewer preferences 5, procedure set 6 and information 7, written by setting
// next_object back to those numbers. next_object is then restored to one past
// the highest number of the run, for the table and /Size.
#include "fonts.h"
#include "navigation.h"
#include "page.h"
#include "pdf.h"

namespace {

struct StandardFont {
  const char* base_font;
  bool win_ansi;  // the symbol fonts keep their own encoding
};

// Named F1 .. F14, objects 9 .. 22, in this order.
const StandardFont standard_fonts[] = {
    {"Courier", true},           {"Courier-Bold", true},
    {"Courier-Oblique", true},   {"Courier-BoldOblique", true},
    {"Helvetica", true},         {"Helvetica-Bold", true},
    {"Helvetica-Oblique", true}, {"Helvetica-BoldOblique", true},
    {"Symbol", false},           {"Times-Roman", true},
    {"Times-Bold", true},        {"Times-Italic", true},
    {"Times-BoldItalic", true},  {"ZapfDingbats", false},
};

// Begins fixed object `number` directly, recording its offset.
void begin_fixed_object(int32_t number, const char* text) {
  run.next_object = number;
  begin_object(text);
}

}  // namespace

const char* standard_font_name(int font) {
  constexpr int font_count = sizeof standard_fonts / sizeof standard_fonts[0];
  return font >= 1 && font <= font_count ? standard_fonts[font - 1].base_font : nullptr;
}

void write_font_objects() {
  constexpr int font_count = sizeof standard_fonts / sizeof standard_fonts[0];
  static_assert(obj_first_font + font_count == obj_first_dynamic, "the fonts fill 9 .. 22");
  run.next_object = obj_font_resources;
  begin_object("<<");
  for (int number = 1; number <= font_count; ++number) {
    emit_text("\n/F");
    emit_int(number);
    emit_text(" ");
    emit_reference(obj_first_font + number - 1);
  }
  emit_text("\n>>\nendobj\n");
  int number = 1;
  for (const StandardFont& font : standard_fonts) {
    begin_object("<<\n/Type /Font\n/Subtype /Type1\n/Name /F");
    emit_int(number++);
    emit_text("\n/BaseFont /");
    emit_text(font.base_font);
    if (font.win_ansi) emit_text("\n/Encoding /WinAnsiEncoding");
    emit_text("\n>>\nendobj\n");
  }
}

// The fonts the document registered or drew from, then the dictionary of
// every page font that the pages from the first of them name.
static void write_new_fonts() {
  if (run.font_dictionary == 0) return;
  write_font_subsets(run.fonts, run.options.compress);
  int32_t after = run.next_object;
  run.next_object = run.font_dictionary;
  begin_object("<<\n");
  for (int number = 1; number <= 14; ++number) {
    emit_text("/F");
    emit_int(number);
    emit_text(" ");
    emit_int(obj_first_font + number - 1);
    emit_text(" 0 R\n");
  }
  for (const auto& font : run.fonts.fonts) {
    if (font->object == 0) continue;  // never shown
    emit_text("/");
    emit_text(font->resource_name.c_str());
    emit_text(" ");
    emit_int(font->object);
    emit_text(" 0 R\n");
  }
  emit_text(">>\nendobj\n");
  run.next_object = after;
}

void write_document_tail() {
  write_new_fonts();
  write_outline_items();
  int32_t object_count = run.next_object;  // one past every number of the run
  write_annotation_objects();
  write_running_forms();

  begin_fixed_object(obj_catalog, "<<\n/Type /Catalog\n/Outlines ");
  emit_reference(obj_outline_root);
  emit_text("\n/Pages ");
  emit_reference(obj_pages_root);
  emit_text("\n");
  // The header, written first, says 1.2; masks are 1.3 and 1.4, and readers
  // take the catalogue's version over the header's.
  // OpenType fonts with CFF outlines are 1.6.
  if (run.fonts.needs_version_1_6)
    emit_text("/Version /1.6\n");
  else if (run.transparency_used)
    emit_text("/Version /1.4\n");
  if (run.fullscreen_duration != 0)
    emit_text("/PageMode /FullScreen\n");
  else if (run.outline_count != 0)
    emit_text("/PageMode /UseOutlines\n");
  write_page_labels();
  emit_text("/OpenAction ");
  emit_reference(obj_open_action);
  emit_text("\n/ViewerPreferences ");
  emit_reference(obj_viewer_preferences);
  emit_text("\n>>\nendobj\n");

  write_outline_root();  // object 2
  write_page_tree();     // object 3 and the nodes

  begin_fixed_object(obj_open_action, "<<\n/Type /Action\n/S /GoTo\n/D [");
  emit_int(run.page_object[0]);
  emit_text(" 0 R /Fit]\n>>\nendobj\n");
  whole_object("<<\n/PageLayout /OneColumn\n>>");
  whole_object("[/PDF /Text /ImageC]");
  whole_object("<<\n/Producer (Kestrin V0.08 alpha 08.09.11)\n>>");

  run.next_object = object_count;
}
