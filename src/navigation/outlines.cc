// Outlines: the document's bookmark tree.
//
// Each outline command appends an item (level, page, title) to a flat list
// in input order, the depth-first order of the tree; the levels alone give
// its shape. Levels never rise by more than one from item to item: filler
// items, carrying the title and page of the item that needs them, fill the
// skipped levels. Items are written in the document tail as one unbroken
// run of numbers F, F+1, ..., so an item's first child is always F+i+1.
#include "diagnostics.h"
#include "input.h"
#include "navigation.h"
#include "pdf.h"

namespace {

enum { item_level = 0, item_page = 1, item_title = 2 };

void append_item(int32_t level) {
  int32_t* item = run.outline_item[run.outline_count++];
  item[item_level] = level;
  item[item_page] = run.page_count + 1;  // the page being composed
  item[item_title] = run.pool_length;    // where the title is about to go
}

int32_t level_of(int32_t index) { return run.outline_item[index][item_level]; }

void emit_reference(const char* key, int32_t number) {
  emit_text(key);
  emit_int(number);
  emit_text(" 0 R\n");
}

}  // namespace

void command_outline() {
  if (run.outline_count >= max_outline)
    fatal_error_at(25, msg_too_many_outlines, run.places.command);
  int32_t level = read_number();
  if (level < 1 || level > max_outline_level)
    fatal_error_at(26, msg_too_many_outline_levels, run.places.word);
  while (level > 1) {  // fillers for skipped levels
    int32_t filler = 1;
    if (run.outline_count > 0) {
      int32_t previous = level_of(run.outline_count - 1);
      if (previous >= level - 1) break;
      filler = previous + 1;
    }
    append_item(filler);
    if (run.outline_count >= max_outline)
      fatal_error_at(27, msg_too_many_outlines, run.places.command);
  }
  append_item(level);
  pool_read_bracketed();
}

void write_outline_items() {
  const int32_t first = run.first_outline_object = run.next_object;
  const int32_t count = run.outline_count;
  int32_t level_parent[max_outline_level + 1] = {obj_outline_root};  // by level
  int32_t level_prev[max_outline_level + 2] = {};  // last sibling written, by level

  for (int32_t i = 0; i < count; ++i) {
    const int32_t* item = run.outline_item[i];
    int32_t level = item[item_level], page = item[item_page];
    if (page > run.page_count || page < 1) fatal_error(5, msg_bad_page_number);
    begin_object("<<\n/Parent ");
    emit_int(level_parent[level - 1]);
    emit_text(" 0 R\n/Dest [");
    emit_int(run.page_object[page - 1]);
    emit_text(" 0 R /XYZ null ");
    emit_int(run.paper_height);
    emit_text(" null]\n/Title (");
    emit_pool_string(item[item_title]);
    emit_text(")\n");
    if (level_prev[level] != 0) emit_reference("/Prev ", level_prev[level]);
    level_prev[level] = first + i;

    // Children are the following items one level deeper, up to the next item
    // at this level or above. Levels are at most 9 deep, so these scans cost
    // at most nine times the item count in all.
    int32_t children = 0, last_child = 0, j = i + 1;
    for (; j < count && level_of(j) > level; ++j) {
      if (level_of(j) == level + 1) {
        ++children;
        last_child = j;
      }
    }
    if (j < count && level_of(j) == level) emit_reference("/Next ", first + j);
    if (children > 0) {
      emit_reference("/First ", first + i + 1);
      emit_reference("/Last ", first + last_child);
      emit_text("/Count ");
      emit_int(-children);  // negative: shown closed
      emit_text("\n");
      level_parent[level] = first + i;
      level_prev[level + 1] = 0;
    }
    emit_text(">>\nendobj\n");
  }
}

void write_outline_root() {
  int32_t top_level = 0, last_top = 0;
  for (int32_t i = 0; i < run.outline_count; ++i) {
    if (level_of(i) == 1) {
      ++top_level;
      last_top = i;
    }
  }
  begin_object("<<\n/Type /Outlines\n/Count ");
  emit_int(top_level);
  if (run.outline_count > 0) {
    emit_text("\n/First ");
    emit_int(run.first_outline_object);
    emit_text(" 0 R\n/Last ");
    emit_int(run.first_outline_object + last_top);
    emit_text(" 0 R");
  }
  emit_text("\n>>\nendobj\n");
}
