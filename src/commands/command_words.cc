// The command words: one row each, read by the command-group interpreter
// (word and handler) and by the editor support (arguments, summary, hover
// text). The man page and the README list the same words with the same
// arguments; a test holds them to this table. A new command is one row here
// and its handler.
//
// Arguments, as the documentation writes them: names of numbers or words
// separated by blanks, "[name]" for a bracketed text, "<name>" for an
// action list, and "a | b" for a choice of literal words.
#include "commands.h"
#include "fonts.h"
#include "media.h"
#include "navigation.h"

const CommandWord command_words[] = {
    {"paper", command_paper, "width height", "Sets the paper size in points.",
     "Default 595 842 (A4); 612 792 is US Letter. Only before anything of the first page."},
    {"rotate", command_rotate, "degrees", "Turns this page and every later one in the viewer.",
     "A multiple of 90; default 0."},
    {"lines", command_lines, "count", "Sets the lines per page.",
     "Default (paper height - 50) / 12, 66 on A4; 0 derives it again at the next page."},
    {"inittext", command_inittext, "[operators]",
     "Sets the text operators that start the text of every page.",
     "Font, first baseline and leading, from the next page without text on. Default "
     "[/F1 12 Tf 25 811 Td 12 TL] on A4; at most 1024 bytes."},
    {"fullscreen", command_fullscreen, "seconds", "Opens the document in full screen.",
     "Pages turn after the given seconds; 0 is full screen without a timer."},
    {"encoding", command_encoding, "utf8 | winansi",
     "Reads the input from the next character on as UTF-8, or as Windows-1252 bytes.",
     "Under utf8, page text in the standard fonts becomes code page 1252 (what it lacks comes "
     "from the Liberation faces or a fallback font); bookmark titles and notes keep every "
     "character."},
    {"tabs", command_tabs, "N", "A tab in page text advances to the next multiple of N columns.",
     "N from 1 to 32; 0, the default, shows a tab as nothing."},
    {"wrap", command_wrap, "N", "Continues a page-text line longer than N characters on the next.",
     "N from 10 to 1000; 0, the default, is off. Breaks after the last blank at or before "
     "column N."},
    {"font", command_font, "N file", "Registers an OpenType or TrueType font as page font /FN.",
     "N from 15 to 99; [name] instead of a file finds it through fontconfig. Page text in it is "
     "shaped and in visual order; only the glyphs shown are embedded. Between pages only."},
    {"fallback", command_fallback, "N ...",
     "Names registered fonts that draw, in order, what the page font lacks.",
     "For the standard fonts after their Liberation face; an empty list turns it off."},
    {"transition", command_transition, "style seconds ...",
     "Gives this page and every later one a transition in full screen.",
     "Styles: dissolve; wipe right|up|left|down; split horizontal|vertical in|out; blinds "
     "horizontal|vertical; box in|out; glitter right|down|diagonal; none. Seconds up to 60, with "
     "up to three decimals."},
    {"head", command_head, "position font size [text]",
     "Sets a line of text at the top of every page: left, centre or right.",
     "Font 1 to 14 for /F1 to /F14, size in points. %p is the page number, %n the number of the "
     "last page, %f the file name, %% a percent sign. From the next page without text on; "
     "head off removes the heads."},
    {"foot", command_foot, "position font size [text]",
     "Sets a line of text at the bottom of every page: left, centre or right.",
     "As head: %p, %n (page N of M in one pass), %f and %%; foot off removes the feet."},
    {"margins", command_margins, "left right top bottom", "Places the heads and feet.",
     "Their distance from the sides, the head's baseline below the top and the foot's above the "
     "bottom, in points; default 25 25 16 16."},
    {"pagenumber", command_pagenumber, "N", "Numbers this page N and the next ones on from there.",
     "From the next page without text on; the viewer shows the numbers as page labels."},
    {"bare", command_bare, "", "Leaves this page without head or foot.",
     "This page if nothing of it is written yet, else the next."},
    {"verbatim", command_verbatim, "file",
     "Puts the text of a file on the page as it stands: nothing in it is markup.",
     "On lines of its own, under the tabs, wrapping and encoding in force."},
    {"verbatim+", command_verbatim_plus, "file",
     "Puts the text of a file on the page as it stands, its lines numbered.",
     "The numbers stand in the margin left of the text's start."},
    {"image", command_image, "picture file", "Registers a JPEG, PNG or GIF file as a picture.",
     "Recognised by its first bytes; size, colours, orientation and transparency are read from "
     "the file. Between pages only. Picture numbers 0 to 9999."},
    {"jpg", command_jpg, "picture width height file",
     "Registers a JPEG file as a picture, with its size in pixels as given.",
     "Between pages only: at the start of the file or right after a form feed."},
    {"jpg+", command_jpg_plus, "picture file",
     "Registers a JPEG file as a picture, with the size and colours read from the file.",
     "Between pages only: at the start of the file or right after a form feed."},
    {"gif", command_gif, "picture width height file",
     "Registers a GIF of the simple kind as a picture.",
     "A global colour table of up to 256 colours, not interlaced, LZW minimum code size 8; "
     "image takes every GIF. Between pages only."},
    {"sound", command_sound, "sound rate channels bits encoding file",
     "Registers a file of sound samples, embedded unchanged.",
     "Sound numbers 0 to 16; rate in samples per second; encoding Raw, Signed, muLaw or ALaw. "
     "Between pages only."},
    {"pict", command_pict, "picture",
     "Lists a registered picture in the page's resources as /Im<picture>.",
     "Raw operators can then draw it: {q 200 0 0 150 50 50 cm /Im1 Do Q}."},
    {"pict+", command_pict_plus, "picture x y width height", "Draws a registered picture.",
     "Width and height 0: a point per pixel; one 0 keeps the proportions; both negative fit it "
     "into that box. x and y both negative give its centre."},
    {"outline", command_outline, "level [title]", "Adds a bookmark to the current page.",
     "Levels 1 to 9, each at most one deeper than the one before."},
    {"text", command_text, "x y width height [contents]", "Adds a note to the page.",
     "Needs a page that has begun (some text or block before it)."},
    {"link", command_link, "x y width height border page",
     "Makes a rectangle of the page jump to another page.",
     "border is the width of the frame a viewer draws; 0 draws none. Needs a page that has "
     "begun."},
    {"action", command_action, "x y width height border <actions>",
     "Makes a button that runs actions when clicked.",
     "Actions: url, exec, sound, goto, first, prev, next, last, back, forward. Needs a page "
     "that has begun; start a new group after the action list."},
};
const size_t command_word_count = sizeof command_words / sizeof *command_words;

const ActionWord action_words[] = {
    {"url", "address", "Opens a web address."},
    {"exec", "program [parameters]", "Starts a program (Windows viewers)."},
    {"sound", "number", "Plays a sound registered with the sound command."},
    {"goto", "page x y width height", "Shows that rectangle of the page."},
    {"first", "", "Turns to the first page."},
    {"prev", "", "Turns to the previous page."},
    {"next", "", "Turns to the next page."},
    {"last", "", "Turns to the last page."},
    {"back", "", "Goes back in the viewer's history."},
    {"forward", "", "Goes forward in the viewer's history."},
};
const size_t action_word_count = sizeof action_words / sizeof *action_words;
