// Page objects and the page tree.
//
// After a page's stream S and its length S+1, the page object is S+2 and its
// resources S+3; S+4 onward are kept for the page's annotations, each action
// annotation followed by its actions, written at the end of the document.
// The tree has two levels: the root (object 3) over one node per block of 300
// pages, whose numbers the document loop reserves before each block's first
// page.
#include "diagnostics.h"
#include "navigation.h"
#include "page.h"
#include "pdf.h"

// The /XObject list of the resources: every picture used on the page, by
// increasing number, each entry cleared as it is listed; then the form of
// the page's running heads and feet, if it has one.
static void write_page_images(int32_t running_form) {
  if (run.page_image_high == 0 && running_form == 0) return;
  emit_text("/XObject << ");
  for (int32_t k = run.page_image_low; k < run.page_image_high; ++k) {
    if (run.page_image_use[k] == 0) continue;
    emit_text("/Im");
    emit_int(k);
    emit_text(" ");
    emit_int(run.page_image_use[k]);
    emit_text(" 0 R ");
    run.page_image_use[k] = 0;
  }
  if (running_form != 0) {
    emit_text("/Rt ");
    emit_reference(running_form);
    emit_text(" ");
  }
  emit_text(">>\n");
  run.page_image_low = run.page_image_high = 0;
}

// The /Annots list: the numbers the annotation commands gave the page's
// annotations, S+4 on, each action annotation's actions skipped.
static void write_page_annotations() {
  if (run.page_annotation_count == 0) return;
  emit_text("/Annots [");
  int32_t number = run.next_object + 1;
  for (int32_t i = 0; i < run.page_annotation_count; ++i) {
    emit_int(number);
    emit_text(" 0 R ");
    number += annotation_object_count(run.page_first_annotation + i);
  }
  emit_text("]\n");
}

void write_page_object() {
  if (run.page_count >= max_page) fatal_error(8, msg_too_many_pages);
  const int32_t page = run.page_count;
  const bool running_form = running_form_of_page() != 0;
  run.page_object[run.page_count] = run.next_object;
  begin_object("<<\n/Type /Page\n/Parent ");
  emit_int(run.page_tree_node[run.page_count / pages_per_node]);
  run.page_count += 1;
  emit_text(" 0 R\n/Resources ");
  emit_int(run.next_object);
  emit_text(" 0 R");
  if (run.rotate != 0) {
    emit_text("\n/Rotate ");
    emit_int(run.rotate);
  }
  if (run.fullscreen_duration > 0) {
    emit_text("\n/Dur ");
    emit_int(run.fullscreen_duration);
  }
  if (run.transition[0]) {
    emit_text("\n/Trans ");
    emit_text(run.transition);
  }
  emit_text("\n/MediaBox [0 0 ");
  emit_int(run.paper_width);
  emit_text(" ");
  emit_int(run.paper_height);
  emit_text("]\n/Contents ");
  emit_int(run.next_object - 3);
  emit_text(" 0 R\n");
  write_page_annotations();
  emit_text(">>\nendobj\n");

  // The fonts: the standard ones (object 8) until the document has others,
  // then a dictionary of all of them, written at the end, whose number is
  // the first after this page's annotations.
  bool new_fonts = run.font_dictionary == 0 && !run.fonts.fonts.empty();
  if (new_fonts)
    run.font_dictionary = run.next_object + 1 + run.page_annotation_count + run.page_action_count;
  begin_object("<<\n/Font ");
  emit_reference(run.font_dictionary != 0 ? run.font_dictionary : obj_font_resources);
  emit_text("\n/ProcSet ");
  emit_reference(obj_procset);
  emit_text("\n");
  // The running form takes the number after the annotations, the actions
  // and the font dictionary.
  const int32_t form =
      run.next_object + run.page_annotation_count + run.page_action_count + (new_fonts ? 1 : 0);
  write_page_images(running_form ? form : 0);
  emit_text(">>\nendobj\n");

  // Skip the numbers the page's annotations and actions will be written under.
  run.next_object += run.page_annotation_count + run.page_action_count + (new_fonts ? 1 : 0);
  if (running_form) run.running.page_form[page] = run.next_object++;
  if (run.next_object > max_obj) fatal_error(9, msg_too_many_objects);
}

void write_page_tree() {
  begin_object("<<\n/Type /Pages\n/Count ");
  emit_int(run.page_count);
  emit_text("\n/Kids [");
  for (int32_t b = 0; b < (run.page_count + pages_per_node - 1) / pages_per_node; ++b) {
    emit_int(run.page_tree_node[b]);
    emit_text(" 0 R ");
  }
  emit_text("]\n>>\nendobj\n");
  for (int32_t j = 0; j < run.page_count; ++j) {
    if (j % pages_per_node == 0) {
      run.next_object = run.page_tree_node[j / pages_per_node];
      begin_object("<<\n/Type /Pages\n/Parent ");
      emit_reference(obj_pages_root);
      emit_text("\n/Count ");
      emit_int(run.page_count - j < pages_per_node ? run.page_count - j : pages_per_node);
      emit_text("\n/Kids [");
    }
    emit_int(run.page_object[j]);
    emit_text(" 0 R ");
    if ((j + 1) % pages_per_node == 0 || j + 1 == run.page_count) emit_text("]\n>>\nendobj\n");
  }
}
