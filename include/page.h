// Page composition: the page's content stream with its one text object, the
// two raw operator blocks, the page text loop, the page and resources
// objects, and the page tree.
#pragma once

#include "run_state.h"

// Content stream and text state.
void open_content_stream();   // begins the page's stream if not yet begun
void open_text_object();      // BT and, once per page, the initial text state
void close_string();          // ") Tj " if a string operand is open
void close_text_object();     // ) Tj, ET, then the held-back operators
void close_content_stream();  // endstream and the length object
void copy_raw_block();        // "[...]" into the text object
void copy_deferred_block();   // "{...}" outside the text object

// Composes one page's content stream from the input; sets input_ended when
// the page ended at the end of input.
void compose_page();

// Whether plain page text is shown in runs straight from the input window
// (the default) or token by token; both give the same document, which the
// tests check by comparing them.
extern bool show_text_in_runs;

// The page object and its resources object; counts the page.
void write_page_object();

// Object 3 and the intermediate Pages nodes, at the end of the document.
void write_page_tree();
