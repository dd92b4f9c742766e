// The run record: every setting, counter, flag and table of one run of the
// compiler. There is one process-wide instance, `run`; reset_run_state()
// gives it back its start values (and frees what a run took), so that the
// language server, the npm package and the tests can run the compiler many
// times in one process with the bytes of separate processes. The fields are
// grouped by the part that owns them; the parts' kinds, enums and constants
// live in their own headers. The limits below size the record's tables.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "fonts.h"

// Limits. The names are the ones the messages tell the user to increase.
constexpr int max_obj = 30000;          // object numbers 1 .. 29999
constexpr int max_page = 10000;         // pages per document
constexpr int pages_per_node = 300;     // pages under one intermediate node
constexpr int max_page_node = 34;       // nodes for max_page pages
constexpr int max_pict = 10000;         // picture numbers 0 .. 9999
constexpr int max_placeable = 9999;     // placeable picture numbers 0 .. 9998
constexpr int max_sound = 17;           // sound numbers 0 .. 16
constexpr int max_text = 100000;        // string pool bytes
constexpr int pool_reserve = 5;         // longest escape (4 bytes) + zero
constexpr int max_pdfcmd = 1024;        // held-back operator bytes
constexpr int deferred_size = 1100;     // room for a placement at the limit
constexpr int max_inittext = 1024;      // initial text state bytes
constexpr int max_sting = 256;          // characters in a word
constexpr int max_outline = 10000;      // outline items
constexpr int max_outline_level = 9;    // outline levels 1 .. 9
constexpr int max_annot = 256;          // annotations per document
constexpr int max_para = 5000;          // words in the annotation store
constexpr int annot_store_room = 5007;  // a text or link record may end past
constexpr int io_buffer_size = 1 << 16;
constexpr int64_t max_xref_offset = 9999999999;  // ten digits
constexpr int max_tabs = 32;          // the widest tab stop distance
constexpr int min_wrap = 10;          // the narrowest wrapping width
constexpr int max_wrap = 1000;        // the widest wrapping width
constexpr int utf8_check_count = 16;  // high bytes tested for undeclared UTF-8
constexpr int running_slots = 6;      // head left, centre, right; foot left, centre, right
constexpr int max_running_text = 256;      // bytes of one head or foot as written
constexpr int max_running = 256;           // different sets of heads and feet that use %n
constexpr int running_pool_size = 1 << 15;  // their texts

// --plain: the input is a listing, nothing in it is markup; its layout
// (src/page/listing.cc) follows these.
struct ListingOptions {
  bool plain = false;                         // --plain
  int font = 1;                               // --font: /F1 .. /F14, not Symbol or ZapfDingbats
  int size_tenths = 0;                        // --size, tenths of a point; 0: the default
  int paper_width = 595, paper_height = 842;  // --paper, points
  bool line_numbers = false;                  // --line-numbers
  int columns = 1;                            // --columns: 1 or 2
};

// Choices made on the command line, before the file names. The defaults are
// the language's own behaviour.
struct RunOptions {
  bool compress = false;            // -z: Flate streams that are not compressed yet
  bool warnings = true;             // -w turns the warnings off
  bool warnings_as_errors = false;  // any warning stops the run at the end
  bool utf8 = false;                // --encoding utf8: the input is read as UTF-8 from its start
  ListingOptions listing;
  bool sync = true;                 // --no-sync: no fsync of the output and its folder
};

// What the program that runs the compiler (the command line, the tests, the
// fuzzers, the WebAssembly entry) asks of a run beyond the options: where the
// console text and standard error go, and the switches and limits the tests
// and fuzzers turn.
struct RunHost {
  std::string* console_capture = nullptr;      // console text here, not to a file
  std::string* diagnostics_capture = nullptr;  // standard error here
  std::vector<Diagnostic>* diagnostic_list = nullptr;  // every stop and warning, as records
  const char* memory_text_file = nullptr;  // the file a text given in memory stands for: warnings
                                           // name it, and the output may not be it
  const char* base_folder = nullptr;  // relative picture and sound names are read from here
                                      // (null: the working directory)
  std::vector<std::string>* files_opened = nullptr;  // each picture and sound file the run
                                                     // tried to open, as opened
  bool discard_output = false;  // write nothing: the output path only names the file that the
                                // same-file checks compare pictures and sounds with
  // Where the Liberation faces that draw what the standard fonts lack are
  // read from (Debian's fonts-liberation2).
  const char* fallback_font_folder = "/usr/share/fonts/truetype/liberation2";
  std::vector<std::string>* fallback_faces_absent = nullptr;  // the file name of each face the
                                                              // run looked for there and lacked
  bool text_in_runs = true;  // plain page text shown in runs, not token by token (same PDF)
  bool one_thread = false;   // long Flate streams deflated on the run's own thread (same PDF)
  uint64_t max_decoded_bytes = uint64_t{1} << 27;  // a decoded picture's memory: 128 MB
  uint64_t max_decoded_pixels = uint64_t{1} << 24;  // and its pixels: 16 M (4096 x 4096)
  // Bit N: descriptor N (standard input, output, error) was closed when the
  // program started, and reads /dev/null since (see open_closed_standard_streams).
  int closed_standard_streams = 0;
  bool unnamed_temp_files = true;  // O_TMPFILE where the system has it (off: named from the start)
  bool regular_files_only = false;  // pictures, fonts, sounds and verbatim files must be plain
                                    // files: a server reads no pipe (its own standard input)
                                    // and waits on no FIFO
  bool compress_beside = true;  // Flate streams compressed on a second thread (same PDF)
};

// The input file, read through a window of its own so that no byte costs a
// locked stdio call. `next` and `end` may also point at caller memory, with no
// file behind them (in-process runs from a text held in memory).
struct FileId {
  uint64_t device, inode;
  bool operator==(const FileId& other) const {
    return device == other.device && inode == other.inode;
  }
};

struct InputStream {
  std::FILE* file;            // null when not open
  FileId id;                  // identity of the file
  const char* name;           // as standard error names it
  bool open;                  // a file or a memory text is attached
  const unsigned char* next;  // next unread byte
  const unsigned char* end;   // one past the last byte in the window
  bool high_bytes;  // the window holds a byte beyond ASCII (tested while looking for UTF-8)
  // Places are found from the bytes still in memory (src/input/places.cc):
  // the window and a few bytes kept before it when it is refilled.
  const unsigned char* start;  // the first byte still in memory
  int64_t start_offset;        // its offset in the input
  int64_t line_carry;          // characters of its line before `start`
  int64_t cached_offset;       // the last place found: offset, line and column
  int64_t cached_line, cached_column;
  unsigned char buffer[io_buffer_size];  // the window over the file
};

// The places of what a command group has read so far, for the stops it
// causes: set as each is read, from the bytes still in memory.
struct ReadPlaces {
  Place group;    // the "<" of the command group
  Place command;  // the command word
  Place word;     // the start of the last word or number read
  Place block;    // the "[" or "{" of the block or bracketed text being read
  Place comment;  // the "*" that opened the comment being skipped
};

// The output file behind one large buffer; every byte of it passes
// emit_char or emit_raw_byte (see include/pdf.h). How it reaches the name
// the user gave is src/pdf/output_file.cc's choice.
enum class OutputWay : int8_t {
  direct,     // standard output, a device, a FIFO: written as it goes
  replace,    // a temporary file beside the output, renamed over it at the end
  copy_over,  // a temporary file in $TMPDIR, copied into the output at the end
};

struct OutputStream {
  std::FILE* file;   // null when not open
  int fill;          // bytes waiting in buffer
  bool failed;       // a write to the file has failed
  int error_number;  // the errno of the first failure
  FileId id;         // identity of the file a successful run writes
  std::string name;  // as given, for what standard error says
  OutputWay way;
  bool temp_unnamed;  // the temporary file has no name until the run succeeds
  int target_fd = -1;  // copy_over: the output, open for writing since the start
  int64_t file_bytes;      // bytes written to the file so far
  int64_t writeback_from;  // where the disk's last writeback began
  // The temporary file's name while it has one (src/pdf/temp_file.cc); a
  // plain array, for the signal handler that removes it.
  char temp_path[PATH_MAX];
  std::string final_path;       // the file the run writes: the output, links followed
  std::string final_canonical;  // the same, its folder without links or dots
  unsigned char buffer[io_buffer_size];
};

// The compressor of Flate streams (src/pdf/flate.cc), made when the run
// first compresses and freed with the run record.
struct FlateStream;
struct FlateStreamDeleter {
  void operator()(FlateStream* stream) const;
};
// Its second thread and the queue of what waits to be written
// (src/pdf/flate_queue.cc); the thread ends before the record is reset.
struct FlateQueue;
struct FlateQueueDeleter {
  void operator()(FlateQueue* queue) const;
};

// The bytes of one bracket block, collected while the warnings read it.
struct BlockCheck {
  unsigned char* bytes;
  size_t length, room;
  bool bracket_seen;  // an unescaped bracket: the bytes are not what was meant
  bool too_long;      // too long to be read
};

// The text layout of a page as far as the warnings follow it: where lines
// start, how far apart they are, and the font that measures them.
struct TextLayout {
  bool position_known;  // x, y and leading follow from plain operators
  bool width_known;     // font and size known, no spacing or scaling set
  bool leading_set;     // a TL, TD or the default text state set the leading
  int32_t font;         // 1 .. 14, 0 when none is selected
  double size;          // font size
  double x, y;          // start of the line at layout_lines (baseline)
  double leading;
  bool colour_set;  // a colour or render mode for the text was chosen (or may have been)
};

// Running heads and feet (src/commands/running.cc, src/page/running.cc):
// one line of text in each slot, drawn on every page as its stream opens.
struct RunningSlot {
  int32_t font;    // 1 .. 14; 0: the slot is empty
  int32_t size;    // points
  int32_t length;  // bytes of text
  unsigned char text[max_running_text];  // as written: %p, %n, %f and %% stand for values
};

// The lines of a page that show %n, the number of the last page, which is
// known only at the end: they are drawn in a form of the page's own, written
// after the last page from the set that was in force.
struct RunningSet {
  int32_t font[running_slots], size[running_slots];  // font 0: no late line in the slot
  int32_t offset[running_slots], length[running_slots];  // text in RunningState::pool
  int32_t left, right, top, bottom;
};

struct RunningState {
  RunningSlot slot[running_slots];
  int32_t left = 25, right = 25;  // the lines' distance from the paper's edges
  int32_t top = 16, bottom = 16;  // the head's baseline below the top, the foot's above the bottom
  int32_t version;                // raised by every change of the lines or their place
  int32_t set_version = -1;       // the version sets[set_count - 1] was taken from
  int32_t set_count;
  RunningSet sets[max_running];
  unsigned char pool[running_pool_size];  // texts of the sets
  int32_t pool_length;
  int32_t next_number = 1;  // the number the next page to begin carries
  int32_t bare_page = -1;   // index of the page that shows no head or foot
  // Per page, by index: the printed number, the set drawn late (0: none, else
  // its index + 1) and the number of the form that draws it.
  int32_t page_number[max_page];
  int32_t page_set[max_page];
  int32_t page_form[max_page];
  // Page label ranges for /PageLabels: the first page of each and its number.
  int32_t label_count;
  int32_t label_page[max_page];
};

// A verbatim file being read in place of the document, and what the
// document's reading is to go on from (src/input/verbatim.cc).
struct VerbatimState {
  std::FILE* pending;              // opened by the command, read when its group ends
  bool pending_numbered;           // verbatim+: its lines are numbered
  bool active;                     // the input is the verbatim file
  InputStream document;            // the document's input meanwhile
  int current_char, lookahead_char, previous_char;  // the document's window
  int64_t line_number;             // the document's line count
  int64_t command_line;            // the verbatim command's line, for the console
  char name[max_sting + 1];        // the file, as the command names it
};

// The page font as the content stream sets it: a standard font /F1 .. /F14,
// a registered font /F15 .. /F99, or 0 when none is known; its size and the
// text rise. q and Q save and restore it, as PDF does.
struct TextFont {
  int32_t font;   // 0: not known
  double size;    // points
  double rise;    // Ts, points
};

// What the initial text state does to the page font when it starts from
// none, kept so that each page need not read the same operators again: the
// text it was read from, the fonts registered then, and the font and saved
// fonts it left.
struct InittextFont {
  bool valid;
  std::string text;
  int32_t registered;
  TextFont font;
  std::vector<TextFont> saved;
};

struct RunState {
  // Driver.
  RunOptions options;                     // from the command line
  RunHost host;                           // from the program running the compiler
  DiagnosticsState diagnostics;           // console file, warning counts
  InputStream input_file;                 // the input text
  int input_ended;                        // the last page ended at the end of input
  int32_t page_tree_node[max_page_node];  // object of each block's Pages node

  // Character source and tokens.
  int current_char;         // character most recently delivered
  int lookahead_char;       // next character, already read
  int previous_char;        // current_char before the latest advance
  int64_t line_number = 1;  // counts line feeds as they are read
  int in_command;           // between a "<" and a ">" token
  ReadPlaces places;        // what the stops of a group or block point at
  int utf8;                 // the input is read as UTF-8 (<encoding utf8>)
  int plain_text;           // nothing read is markup: --plain, or a verbatim file
  VerbatimState verbatim;   // a verbatim file read in place of the document
  int32_t utf8_checks =
      utf8_check_count;  // high bytes of page text still to test for undeclared UTF-8

  // Output channel.
  OutputStream output_file;  // the PDF being written
  int64_t bytes_written;     // bytes in the file so far, CR LF counted
  int last_char_written;     // last text character, 0 after raw bytes

  std::unique_ptr<FlateStream, FlateStreamDeleter> flate;  // null until -z compresses
  std::unique_ptr<FlateQueue, FlateQueueDeleter> flate_queue;  // null until a stream goes there
  bool output_queued;  // output waits in flate_queue: bytes_written counts plain bytes

  // External files: the one being read, for what standard error says.
  char external_name[max_sting + 1];
  const char* image_path;     // the picture `image` is reading
  std::FILE* image_file;      // and its file (a copy of a pipe), for its read errors
  const char* image_kind;     // what `image` found it to be
  char picture_problem[200];  // the reason a picture library gave up

  // Objects.
  int32_t next_object = 1;       // number the next object will get
  int64_t xref_offset[max_obj];  // file offset of each object; 0: xref

  // String pool: escaped string bodies, each ended by a zero byte.
  unsigned char string_pool[max_text + pool_reserve];
  int32_t pool_length;  // bytes in use

  // Content stream and text state of the page being composed.
  int stream_open;         // the content stream is begun
  int64_t stream_start;    // bytes_written after the stream line
  int text_open;           // a BT text object is open
  int string_open;         // a "(" string operand is open
  int text_state_emitted;  // the page's initial text state is out
  int inittext_set;        // inittext_buffer holds the text state
  unsigned char inittext_buffer[max_inittext + 2];
  unsigned char deferred_buffer[deferred_size];  // held back until after ET
  int32_t deferred_length;                       // bytes in deferred_buffer
  int32_t lines_on_page;                         // line feeds written on this page
  int32_t lines_per_page;                        // 0: derived from the paper height
  int lines_derived;                             // lines_per_page came from the paper height

  // Line layout of page text: tabs and wrapping (0: off).
  int32_t tab_width;                  // a tab advances to the next multiple
  int32_t wrap_width;                 // longer lines continue on the next
  int32_t column;                     // characters of page text on the line
  // Listings (src/page/listing.cc): line numbers in the margin before each
  // line of plain text, and a second column on the page.
  int numbering;                  // the lines being read are numbered
  int number_pending;             // the current line's number is still to be shown
  int64_t listing_line;           // the number it shows
  int64_t digit_milli;            // the width of a digit, thousandths of a point
  int grey_numbers;               // --plain draws them grey
  int32_t column_lines;           // lines of the first of two columns, else 0
  int64_t column_move_milli[2];   // from the first column's last line to the second's first
  int after_blank;                    // a blank on this line precedes held_word
  int32_t held_length;                // characters held in held_word
  unsigned char held_word[max_wrap];  // the word being wrapped, not yet shown

  // Pages.
  int32_t page_count;                     // page objects written so far
  int32_t page_object[max_page];          // object number of each page, 0-based
  int32_t page_image_use[max_placeable];  // image object to list, 0: none
  int32_t page_image_low;                 // lowest picture listed on the page
  int32_t page_image_high;                // one past the highest (0: none listed)

  RunningState running;  // heads, feet and page numbers

  // Settings.
  int32_t paper_width = 595;    // points
  int32_t paper_height = 842;   // points
  int32_t rotate;               // degrees, written when not 0
  int32_t fullscreen_duration;  // 0 off, >0 seconds per page, -1 no timer
  char transition[64];          // the pages' /Trans dictionary; empty: none

  // Registered media.
  int32_t image_object[max_pict];   // image XObject number, 0: none
  int32_t image_width[max_pict];    // pixels
  int32_t image_height[max_pict];   // pixels
  int32_t sound_object[max_sound];  // sound object number, 0: none

  // Pictures registered by `image`.
  int8_t image_orientation[max_pict];  // EXIF turn to draw it upright (2..8), 0: none
  bool transparency_used;              // a colour key or soft mask: PDF 1.4

  // Outline items: level, 1-based page, title offset in the pool.
  int32_t outline_item[max_outline][3];
  int32_t outline_count;
  int32_t first_outline_object;  // number of the first item, in the tail

  // Annotations: records back to back in annot_store (layout in
  // src/navigation/annotations.cc).
  int32_t annot_store[annot_store_room];
  int32_t annot_store_length;
  Place annot_place[annot_store_room];  // where a page or sound number of the store was read
  int32_t annotation_start[max_annot];  // store index of each record
  int32_t annotation_count;
  int32_t page_first_annotation;  // index of the page's first annotation
  int32_t page_annotation_count;  // annotations recorded on this page
  int32_t page_action_count;      // their actions

  // Layout warnings (src/page/layout_warnings.cc); nothing here changes the
  // document. Widths are in thousandths of the font size.
  TextLayout inittext_layout;            // what the initial text state sets up
  int inittext_layout_ready;             // inittext_layout matches inittext_buffer
  TextLayout page_layout;                // the page's layout, as blocks change it
  int32_t layout_lines;                  // lines_on_page when page_layout.y was current
  int32_t pre_text_unknown;              // layout_* bits from "{" blocks before the text
  int32_t below_page_line = INT32_MAX;   // lines_on_page from which text is below the paper
  int below_page_warned;                 // the page has had its warning
  int64_t line_width;                    // the text line so far (negative: not measured)
  int64_t line_width_limit = INT64_MAX;  // the widest line that stays on the paper
  int32_t fixed_char_width;              // width of every byte when width_table is null
  const uint16_t* width_table;           // widths of a proportional font, by byte
  int64_t control_warned_line;           // input line of the last control character warning
  int short_page_warned;                 // the short page has had its warning
  // A non-black colour that a "{" block before the page's text set and
  // filled shapes with, which the text will be drawn in: its operator as
  // written and the block's line; checked at the first character shown.
  char pre_text_colour[80];  // the non-black colour a "{" block before the text set, or ""
  char fill_colour[80];
  int64_t fill_colour_line;
  int fill_colour_check;                 // the check waits for the first character
  std::vector<unsigned char> block_storage;  // the collector's bytes; room grows as needed
  BlockCheck block_check;                    // the block being read

  // Fonts (include/fonts.h) and the page text set in them (src/page/font_text.cc).
  FontState fonts;                     // registered fonts, glyphs shown, fallbacks
  bool group_closed;                   // a command read its group's ">" itself
  TextFont text_font;                  // the page's font, from the blocks and inittext
  InittextFont inittext_font;          // what the initial text state last did to it
  std::vector<TextFont> text_font_saved;  // q pushes, Q pops
  std::u32string font_text;            // page text in an embedded font, not yet shown
  int32_t font_dictionary;             // the page fonts' dictionary with the new fonts, 0: none yet
  LaidOutText laid_out;                // the glyphs of font_text, in visual order
  std::string glyph_operators;         // their operators, written at once
};

extern RunState run;

// Puts `run` back to its start values (a fresh run in the same process).
void reset_run_state();

// 32-bit arithmetic that wraps modulo 2^32, as the input language's numbers do.
inline int32_t wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
inline int32_t wrap_add(int32_t a, int32_t b) { return wrap32(int64_t{a} + b); }
inline int32_t wrap_sub(int32_t a, int32_t b) { return wrap32(int64_t{a} - b); }
inline int32_t wrap_neg(int32_t a) { return wrap32(-int64_t{a}); }
