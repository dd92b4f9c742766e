// Commands: the command-group interpreter, the settings commands and the
// placing of registered pictures. Every handler is called by the interpreter
// right after its command word and reads its own arguments.
#pragma once

#include "run_state.h"

// Reads a command group after its "<" token, up to and including ">".
void run_command_group();

// A command word: the handler the interpreter calls right after the word,
// and what the editor support, the man page and the README say of it.
struct CommandWord {
  const char* word;
  void (*handler)();
  const char* arguments;  // "picture x y width height"; "[title]" bracketed, "<actions>" a list,
                          // "utf8 | winansi" a choice of words
  const char* summary;    // one sentence: what it does
  const char* details;    // defaults, ranges and where it may stand
};
extern const CommandWord command_words[];
extern const size_t command_word_count;

// The row of `word` (whole, case-sensitive), or null when no command has it.
const CommandWord* find_command_word(const char* word);

// A word of an action list (the compiler reads them in
// src/navigation/annotations.cc), for the documentation and the editors.
struct ActionWord {
  const char* word;
  const char* operands;  // as CommandWord::arguments; empty when it takes none
  const char* summary;
};
extern const ActionWord action_words[];
extern const size_t action_word_count;

// Settings.
void command_paper();       // width height
void command_rotate();      // degrees
void command_inittext();    // [operators]
void command_lines();       // lines per page
void command_fullscreen();  // seconds per page; 0: full screen without timer
void command_encoding();    // utf8 or winansi: how the input is read from here on
void command_tabs();        // tab stop distance in columns, 0 off
void command_wrap();        // wrapping width in columns, 0 off
void command_transition();  // style seconds [direction]: how the pages come on

// Running heads and feet, and page numbers (src/commands/running.cc).
void command_head();        // left|centre|right font size [text], or off
void command_foot();        // the same at the bottom of the page
void command_margins();     // left right top bottom: where heads and feet stand
void command_pagenumber();  // the number the page carries
void command_bare();        // the page shows no head or foot

// Verbatim files (src/commands/verbatim.cc).
void command_verbatim();       // file: its text as page text, nothing in it markup
void command_verbatim_plus();  // the same with its lines numbered

// Pictures on the current page.
void command_pict();       // picture: listed in the page's resources
void command_pict_plus();  // picture x y width height: listed and drawn
