// Navigation: outline items and the outline root; the annotation commands and
// their store; the annotation and action objects of the document tail.
#pragma once

#include "run_state.h"

// Commands. Outlines may stand anywhere; annotations need the page's stream.
void command_outline();  // level [title]
void command_text();     // x y width height [contents]
void command_link();     // x y width height border page
void command_action();   // x y width height border <action list>

// Document tail.
void write_outline_items();       // first: numbered from next_object on
void write_outline_root();        // object 2, right after the catalogue
void write_annotation_objects();  // under the numbers their pages reserved
