// PDF output core: the byte-counting output channel with its newline rule,
// number formatting, raw file copies, the memory text builder, object
// numbering and framing, the cross-reference table and trailer, the string
// pool, and the fixed objects at the start and end of every document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run_state.h"

// Object numbers fixed for every document. Numbers from obj_first_dynamic on
// are handed out in order of use.
enum FixedObject : int32_t {
  obj_catalog = 1,
  obj_outline_root = 2,
  obj_pages_root = 3,
  obj_open_action = 4,
  obj_viewer_preferences = 5,
  obj_procset = 6,
  obj_info = 7,
  obj_font_resources = 8,
  obj_first_font = 9,  // F1 .. F14 are 9 .. 22
  obj_first_dynamic = 23,
};

// The first bytes of every PDF this program writes.
inline constexpr char file_header[] =
    "%PDF-1.2\n"
    "%\x88\x89\x8A This is a binary file. Don't edit.\n"
    "%created by Kestrin V 0.08 alpha\n"
    "%https://kestrin-pdf.org/\n";

// --- Output channel -------------------------------------------------------

// Opens the output for writing untranslated bytes; false if it cannot be
// (errno says why). A regular file, or a path that does not exist yet, is
// written as a temporary file beside it; "-" is standard output.
bool output_open(const char* path);

// Flushes and closes the output. With `keep`, a temporary file then replaces
// the output; without, it is removed. False if a write, the close or the
// rename failed (run.output_file.error_number says why).
bool output_close(bool keep);

// Whether `path` is standard output: "-", or the file standard output is.
bool output_names_standard_output(const char* path);

// Whether `path` names the file a successful run will write, also when no
// file of that name exists yet.
bool output_would_replace(const char* path);

// The device and inode of the file `path` names ("-": standard output).
bool output_identity(const char* path, FileId* id);

// Writes the buffer out (through the compressor in a Flate stream); false
// once any write has failed.
bool output_write_buffer();
void output_failed(int error_number);  // records the first failure
// Counts `size` bytes just written to the file; every few megabytes of them
// the disk starts writing them out, unless --no-sync, so that the sync at
// the end waits only for the last few.
void output_file_wrote(size_t size);
// The same for any thread, with the counts it is given (`sync`: not --no-sync).
void file_wrote(int fd, bool sync, int64_t& file_bytes, int64_t& writeback_from, size_t size);

// Writes out the buffer; a failed write stops the run (code 72).
void output_flush();

inline void output_put(int byte) {
  OutputStream& out = run.output_file;
  if (out.fill == io_buffer_size) output_flush();
  out.buffer[out.fill++] = static_cast<unsigned char>(byte);
  ++run.bytes_written;
}

// One character under the newline rule: a line feed is written as carriage
// return plus line feed, and one directly after a written line feed is
// dropped.
inline void emit_char(int c) {
  if (c == '\n') {
    if (run.last_char_written == '\n') return;
    output_put('\r');
  }
  output_put(c);
  run.last_char_written = static_cast<signed char>(c);
}

// One byte unchanged; resets the newline memory.
inline void emit_raw_byte(int byte) {
  output_put(byte);
  run.last_char_written = 0;
}

// Flate streams: between flate_begin and flate_end every byte the channel
// takes is compressed before it reaches the file. flate_end returns the
// compressed byte count and leaves bytes_written at the file's true offset,
// or, when the stream went to the second thread (flate_length_pending), the
// plain count: length_object then leaves room for the count.
void flate_begin(int level);
constexpr int compress_level = 1;  // the level -z uses for every stream
constexpr int64_t flate_length_pending = -1;
constexpr int flate_whole_out_size = io_buffer_size + io_buffer_size / 8 + 1024;
int64_t flate_end();
bool flate_active();
void flate_write_buffer();  // the channel's buffer into the compressor
void flate_abandon();       // a stop while a stream is open
// The stream's last bytes are all in: its compressing may go on beside the
// caller until flate_end, and nothing may be emitted in between.
void flate_finish();

// A Flate stream compressed into memory, with the bytes the same data would
// have as a stream through the channel; one at a time, beside the channel's.
// `size` is the plain bytes to come (within the decoding limits): room for
// their compressed bytes is reserved, not touched.
void flate_apart_begin(int level, uint64_t size);
void flate_apart_put(const unsigned char* data, size_t size);
std::vector<unsigned char> flate_apart_end();

// The queue of the second thread (src/pdf/flate_queue.cc). While
// run.output_queued is set, the channel's buffer goes to the queue when it
// is written, and bytes_written counts plain bytes.
// Hands a whole stream of `size` plain bytes over to be compressed at
// `level`; false when it cannot be (no thread): compress it here.
bool queue_take_stream(const unsigned char* plain, int size, int level);
void queue_raw(const unsigned char* data, int size);  // bytes written as they are
void queue_length_hole();  // the last stream's length goes here
void queue_object_begun(int32_t number);  // its offset is put right at the settle
// Waits until the queue is written, puts the offsets right and makes
// bytes_written true again; returns how far it moved. A failed write stops
// the run (code 72).
int64_t queue_settle();
// At the end of a run, stop or not (and again when the output closes):
// writes what is queued and ends the thread. True when a write failed (the
// stop names *failed_line).
bool queue_finish(int64_t* failed_line);

// Compresses a small stream held in memory (at most io_buffer_size bytes),
// whose dictionary gives its length directly; the bytes stay valid until the
// next compression.
const unsigned char* flate_compress_small(const unsigned char* data, size_t size,
                                          size_t* compressed);

// Bytes unchanged, in bulk; resets the newline memory.
void emit_raw_bytes(const unsigned char* data, size_t size);

void emit_text(const char* text);
void emit_int(int64_t value);    // decimal, "-" first when negative
void emit_int10(int64_t value);  // at least ten digits with leading zeros
void emit_reference(int32_t object);  // "N 0 R"

// A length in thousandths of a point as PDF writes it: up to three decimals,
// no trailing zeros ("297.5", "-12", "0.025").
std::string points_text(int64_t milli);

// A number as an operand: at most `decimals` decimals, no trailing zeros,
// "-0" as "0"; beyond +-1e9 (and NaN) it is held to what a page can use.
std::string decimal_text(double value, int decimals);

// Closes an external file when its reader leaves, normally or by a stop.
struct FileCloser {
  std::FILE* file;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

// Where the picture or sound file named `path` in the input is read from:
// relative names are taken from the host's base folder when it has one.
std::string external_path(const char* path);

// Opens an external file named in the input. A file that cannot be opened,
// a directory or a device stops with `open_code` and message 19; the output
// file itself (the one a successful run replaces) stops with code 71.
// Standard error names the file and the reason.
std::FILE* open_external_file(const char* path, int open_code);

// After a read of the external file came up short: a read error (not the
// end of the file) stops with code 74, naming the file on standard error.
void check_external_read(std::FILE* file);

// Copies a whole external file, or the rest of an open one, as raw bytes;
// returns the byte count.
int64_t copy_file_into_output(const char* path);
int64_t copy_open_file_into_output(std::FILE* source);

// Memory text builder: appends at the cursor and leaves a zero byte there.
void builder_put_text(const char* text, char*& cursor);
void builder_put_int(int64_t value, char*& cursor);

// --- Objects, cross-reference table, trailer --------------------------------

// Begins object `next_object`: records its offset, writes the number,
// " 0 obj\n" and `text`. Stops with code 48 beyond max_obj - 1.
void begin_object(const char* text);
void whole_object(const char* text);     // begin_object, then "\nendobj\n"
void length_object(int64_t length);      // the length object of a stream
void end_stream_object(int64_t length);  // a media stream's end and its length object
int32_t reserve_object();                // takes a number, writes nothing
void write_xref();
void write_trailer();

// --- String pool ------------------------------------------------------------

// Stores a word escaped for a PDF literal string, with its zero byte.
void pool_put_string(const char* text);

// Reads a "[...]" string from the input and stores it the same way: a title
// or note, which under <encoding utf8> keeps every character (UTF-16BE when
// needed), or bytes as written (launch parameters).
void pool_read_bracketed();
void pool_read_bracketed_bytes();

// Writes the pooled string at `offset` through the newline rule; returns the
// offset just past its terminating zero (the next string of a record).
int32_t emit_pool_string(int32_t offset);

// --- Fixed document objects --------------------------------------------------

void write_font_objects();

// The base font name of the standard font /F`font` ("Helvetica-Bold" for 6),
// null outside 1 to 14.
const char* standard_font_name(int font);
void write_document_tail();
