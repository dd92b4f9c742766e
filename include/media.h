// Embedded media: JPEG and GIF image XObjects and sound objects, each
// written whole between pages, stream length object included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "run_state.h"

void command_jpg();       // picture width height file
void command_jpg_plus();  // picture file: the size is read from the file
void command_gif();       // picture width height file
void command_sound();     // sound rate channels bits encoding file
void command_image();     // picture file: a JPEG, PNG or GIF, known by its first bytes

// What the first frame header of a JPEG file says.
struct JpegFrame {
  int32_t width, height;
  int32_t components;  // 1 grey, 3 colour, 4 CMYK
  bool adobe;          // an Adobe APP14 segment came before the frame
  int orientation;     // EXIF orientation 1..8 of the first EXIF block, else 1
  int first_marker;    // the frame header's marker, 0 when a scan or the end came first
};

// Shared by the image commands: the picture number (refused outside 0..9999
// with `range_code` before it indexes a table), the object's first line and
// its size, read from the input as it is written unless `frame` gives it.
int32_t read_picture_number(int range_code);

// The start of jpg+ and image: refused inside a page (`page_code`), the
// picture number (`range_code`), its table entry set to the next object,
// and the file name read into `path` (word_buffer_size bytes).
int32_t read_registration(int page_code, int range_code, char* path);
void begin_image_object(int32_t picture);
void write_image_size(int32_t picture, const JpegFrame* frame);

// Scans a JPEG file from its current position for the first frame header;
// the end of the file before it stops the run (code 58, message 20, unless
// the caller names others). With `kept`, every byte read is appended there
// and nothing is skipped by seeking.
JpegFrame scan_jpeg_frame(std::FILE* file, std::string* kept = nullptr, int end_code = 58,
                          int end_message = msg_string_too_long);

// The orientation tag of an APP1 segment's body ("Exif", two zeros, a TIFF
// header and its first directory): 1 to 8, or 1 when absent or malformed.
int exif_orientation(const unsigned char* data, size_t size);

// Writes a GIF's colour table as the /Indexed colour space's lookup string
// and its LZW data re-packed in PDF bit order; returns the data byte count.
int64_t gif_embed(const char* path);

// Warns when the regular file at `path`, given to jpg or jpg+ on `line`, is
// not a JPEG or is an arithmetic-coded one; costs nothing with warnings off.
// Without `scan`, the caller scans the file itself and passes the frame
// header's marker to report_arithmetic_jpeg; true then says it should.
bool check_jpeg_file(const char* path, int64_t line, bool scan = true);
void report_arithmetic_jpeg(const char* path, int64_t line, int frame_marker);

// The LZW data of a GIF image, from the file's position just after the
// minimum code size: whether it re-packs cleanly into data that gives the
// image's `pixels` colours (a trial that writes nothing), and the
// re-packing itself, whose faults stop with the caller's code and message;
// it returns the data byte count.
bool gif_codes_repackable(std::FILE* file, uint64_t pixels);
int64_t gif_repack_codes(std::FILE* file, int fault_code, int fault_message);

// Decodes the LZW data of a GIF image from the same position into up to
// `count` colour indices; returns how many the data gave. Stops at the end
// code, at a code the table cannot have, or where the data ends.
size_t gif_lzw_decode(std::FILE* file, int min_code_size, unsigned char* pixels, size_t count);

// --- Reading picture files ----------------------------------------------------

// Reads `n` bytes of `file` into `to`; false where the file ends or fails
// first (check_external_read tells which).
bool read_file_bytes(std::FILE* file, unsigned char* to, size_t n);

// Skips `n` bytes of `file`. Skips of up to 64 KB read through stdio's
// buffer, since a seek costs a system call and a file of many tiny
// structures would cost one each; they return false where the file ends or
// fails first. Longer ones seek, and a seek past the end succeeds (the next
// read finds the end).
bool skip_file_bytes(std::FILE* file, uint64_t n);

// --- The `image` command ----------------------------------------------------

// What a file's first bytes (up to 16 of them) say it is: "JPEG", "PNG",
// "GIF", "BMP", "TIFF", "WebP", "HEIC", "AVIF", "PDF", "text", "empty",
// "unknown" and a few more.
const char* picture_kind_name(const unsigned char* first_bytes, size_t n);

// Registers `picture` from the file at `path`, of whichever kind it is; a
// file of another kind stops with code 80 and message 39.
void image_embed(int32_t picture, const char* path);

// The writers of each kind: the file is open at its start. Each writes the
// picture's objects and registers its size (and orientation) under
// `picture`; a damaged file stops with code 81 before anything is written,
// or 82 once the picture's data has begun.
void image_jpeg(std::FILE* file, int32_t picture);
void image_png(std::FILE* file, int32_t picture);
void image_gif(std::FILE* file, int32_t picture);

// Names the file and what is wrong on standard error and stops with `code`
// and message 40.
[[noreturn]] void image_damaged(int code, const char* what);

// The limits of a picture that is decoded, checked before anything is
// allocated, in 64 bits whatever the size of size_t: its pixel count (first,
// so that the memory can be reckoned without overflow) and the memory its
// decoding holds. Beyond run.host's limits they stop with code 81.
void check_decoded_pixels(uint64_t width, uint64_t height);
void check_decoded_memory(uint64_t bytes);

// The image object up to its colour space: "<< /Type /XObject ... /Width w
// /Height h\n/BitsPerComponent b /ColorSpace ".
void begin_picture_object(int32_t picture, int32_t width, int32_t height, int bits);
// An /Indexed colour space over `entries` RGB triples, as a hex string.
void emit_palette(const unsigned char* rgb, int entries);
// A colour-key mask: a low and a high value per component.
void emit_colour_key(const int* low_high, int components);
// " /Length N 0 R FILTER >>", then "stream"; the length object is next.
void begin_picture_stream(const char* filter);
// The soft mask object of width x height alpha bytes, given Flate-compressed
// (flate_apart_end).
void write_soft_mask(int32_t width, int32_t height, const std::vector<unsigned char>& compressed);

// The Flate level of the pictures `image` writes again: on grainy photographs
// a third of the time of zlib's default level, for a few percent more bytes.
constexpr int flate_level = 3;
