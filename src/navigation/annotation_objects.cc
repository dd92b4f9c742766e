// Annotation and action objects, written in the document tail under the
// numbers their commands fixed: an annotation A, and for an action
// annotation with n actions, its actions A+1 .. A+n chained by /Next.
#include "diagnostics.h"
#include "navigation.h"
#include "pdf.h"

namespace {

// Writes the object number of the 1-based page in store word `word`, after
// testing the page; a bad one stops at the place the number was read.
void emit_page_object(const int32_t* word, int bad_page_code) {
  int32_t page = *word;
  if (page > run.page_count || page < 1)
    fatal_error_at(bad_page_code, msg_bad_page_number, run.annot_place[word - run.annot_store]);
  emit_int(run.page_object[page - 1]);
}

void emit_numbers(const int32_t* words, int count) {
  for (int i = 0; i < count; ++i) {
    if (i > 0) emit_text(" ");
    emit_int(words[i]);
  }
}

// The first line of each action object after "N 0 obj". The spaces before
// some line feeds are part of the file format users have seen for years.
const char* action_head(int32_t kind) {
  switch (static_cast<ActionKind>(kind)) {
    case action_url: return "<<\n/Type /Action /S /URI\n";
    case action_exec: return "<<\n/Type /Action /S /Launch\n";
    case action_sound: return "<<\n/Type /Action /S /Sound /Synchronous true \n";
    case action_goto: return "<<\n/Type /Action /S /GoTo\n";
    case action_first: return "<<\n/Type /Action /S /Named /N /FirstPage \n";
    case action_prev: return "<<\n/Type /Action /S /Named /N /PrevPage \n";
    case action_next: return "<<\n/Type /Action /S /Named /N /NextPage \n";
    case action_last: return "<<\n/Type /Action /S /Named /N /LastPage \n";
    case action_back: return "<<\n/Type /Action /S /Named /N /GoBack\n";
    case action_forward: return "<<\n/Type /Action /S /Named /N /GoForward \n";
  }
  return "";
}

// Writes the action objects of one action annotation; `entry` points at the
// first action, `strings` at the list's first pooled string.
void write_actions(const int32_t* entry, int32_t count, int32_t strings) {
  for (int32_t j = 1; j <= count; ++j) {
    int32_t kind = entry[0];
    begin_object(action_head(kind));
    if (j < count) {
      emit_text("/Next ");
      emit_int(run.next_object);
      emit_text(" 0 R\n");
    }
    entry += 1;
    switch (static_cast<ActionKind>(kind)) {
      case action_url:
        emit_text("/URI (");
        strings = emit_pool_string(strings);
        emit_text(")\n>>\nendobj\n");
        break;
      case action_exec:
        emit_text("/Win <</F (");
        strings = emit_pool_string(strings);
        emit_text(")");
        if (run.string_pool[strings] != 0) {
          emit_text(" /P (");
          strings = emit_pool_string(strings);
          emit_text(")");
        } else {
          strings += 1;  // the empty parameter string
        }
        emit_text(">>\n>>\nendobj\n");
        break;
      case action_sound: {
        int32_t sound = *entry++;
        if (run.sound_object[sound] == 0)
          fatal_error_at(67, msg_sound_not_read, run.annot_place[entry - 1 - run.annot_store]);
        emit_text("/Sound ");
        emit_int(run.sound_object[sound]);
        emit_text(" 0 R\n>>\nendobj\n");
        break;
      }
      case action_goto:
        emit_text("/D [");
        emit_page_object(entry, 7);
        emit_text(" 0 R /FitR ");
        emit_numbers(entry + 1, 4);
        emit_text(" ]\n>>\nendobj\n");
        entry += 5;
        break;
      case action_first:
      case action_prev:
      case action_next:
      case action_last:
      case action_back:
      case action_forward: emit_text("\n>>\nendobj\n"); break;
    }
  }
}

}  // namespace

void write_annotation_objects() {
  for (int32_t i = 0; i < run.annotation_count; ++i) {
    const int32_t* record = run.annot_store + run.annotation_start[i];
    int32_t kind = record[annot_word_kind];
    run.next_object = record[annot_word_object];
    begin_object("<<\n/Type /Annot\n/Subtype /");
    emit_text(kind == annot_text ? "Text" : "Link");
    emit_text("\n/Rect [");
    emit_numbers(record + annot_word_rect, 4);
    emit_text("]\n");
    if (kind != annot_text) {
      emit_text("/Border [0 0 ");
      emit_int(record[annot_word_border]);
      emit_text("]\n/C [1 0 0.5]\n");
    }
    switch (static_cast<AnnotKind>(kind)) {
      case annot_text:
        emit_text("/Contents (");
        emit_pool_string(record[annot_word_text_contents]);
        emit_text(")\n>>\nendobj\n");
        break;
      case annot_link:
        emit_text("/Dest [");
        emit_page_object(record + annot_word_link_page, 6);
        emit_text(" 0 R /XYZ null ");
        emit_int(run.paper_height);
        emit_text(" null]\n>>\nendobj\n");
        break;
      case annot_action:
        emit_text("/A ");
        emit_int(run.next_object);
        emit_text(" 0 R \n>>\nendobj\n");
        write_actions(record + annot_word_first_action, record[annot_word_action_count],
                      record[annot_word_action_strings]);
        break;
    }
  }
}
