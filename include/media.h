// Embedded media: JPEG and GIF image XObjects and sound objects, each
// written whole between pages, stream length object included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "run_state.h"

void command_jpg();       // picture width height file
void command_jpg_plus();  // picture file: the size is read from the file
void command_gif();       // picture width height file
void command_sound();     // sound rate channels bits encoding file

// What the first frame header of a JPEG file says.
struct JpegFrame {
  int32_t width, height;
  int32_t components;  // 1 grey, 3 colour, 4 CMYK
  bool adobe;          // an Adobe APP14 segment came before the frame
};

// Shared by the image commands: the picture number (refused outside 0..9999
// with `range_code` before it indexes a table), the object's first line and
// its size, read from the input as it is written unless `frame` gives it.
int32_t read_picture_number(int range_code);
void begin_image_object(int32_t picture);
void write_image_size(int32_t picture, const JpegFrame* frame);

// Scans a JPEG file from its current position for the first frame header;
// the end of the file before it stops the run (code 58). With `kept`, every
// byte read is appended there and nothing is skipped by seeking.
JpegFrame scan_jpeg_frame(std::FILE* file, std::string* kept = nullptr);

// Writes a GIF's colour table as the /Indexed colour space's lookup string
// and its LZW data re-packed in PDF bit order; returns the data byte count.
int64_t gif_embed(const char* path);
