// Navigation: outline items and the outline root; the annotation commands and
// their store; the annotation and action objects of the document tail.
#pragma once

#include "run_state.h"

// Annotation record kinds and action kinds, as stored in the annotation store.
enum AnnotKind : int32_t { annot_text = 0, annot_link = 1, annot_action = 2 };
enum ActionKind : int32_t {
  action_url = 1,
  action_exec = 2,
  action_sound = 3,
  action_goto = 4,
  action_first = 5,
  action_prev = 6,
  action_next = 7,
  action_last = 8,
  action_back = 9,
  action_forward = 10,
};

// The words of an annotation record in the store, by position. Every record
// starts with its kind, its object number and its rectangle; the rest
// depends on the kind. An action record's actions follow it, each a kind and
// its operands (sound: number; goto: page x1 y1 x2 y2).
enum AnnotWord : int32_t {
  annot_word_kind = 0,
  annot_word_object = 1,
  annot_word_rect = 2,  // x1 y1 x2 y2: x + width, y + height, not normalised
  annot_word_text_contents = 6,  // text: pool offset of the contents
  annot_word_border = 6,         // link, action: border width
  annot_word_link_page = 7,      // link: target page
  annot_word_action_strings = 7, // action: pool offset of the list's first string
  annot_word_action_count = 8,   // action: number of actions
  annot_word_first_action = 9,   // action: where the actions begin
};

// Commands. Outlines may stand anywhere; annotations need the page's stream.
void command_outline();  // level [title]
void command_text();     // x y width height [contents]
void command_link();     // x y width height border page
void command_action();   // x y width height border <action list>

// The object numbers annotation `index` takes: its own, and its actions'.
int32_t annotation_object_count(int32_t index);

// Document tail.
void write_outline_items();       // first: numbered from next_object on
void write_outline_root();        // object 2, right after the catalogue
void write_annotation_objects();  // under the numbers their pages reserved
