// Fuzz targets: each runs one input in-process and returns normally whatever
// the input holds. libFuzzer binaries call them, and the test suite replays
// every corpus file and past finding through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A whole document, warnings included: the input is the document text,
// compiled to a scratch output in a working directory that holds media under short names (a.jpg,
// g.jpg, a.gif, b.gif, a.raw).
int fuzz_document(const uint8_t* data, size_t size);

// The GIF reader and re-packer, on the input as the GIF file.
int fuzz_gif(const uint8_t* data, size_t size);

// The image command's reader of every kind (JPEG, PNG, GIF, and refusals),
// on the input as the picture file.
int fuzz_image(const uint8_t* data, size_t size);

// The JPEG frame header scan, on the input as the JPEG file.
int fuzz_jpeg(const uint8_t* data, size_t size);

// A font file: the input as the file of <font 15 ...>, registered and used
// for a line of several scripts, and written as a subset at the end.
int fuzz_font(const uint8_t* data, size_t size);

// The operators of a bracket block: the lexer and the layout warnings, on
// the input as the block's bytes, read as each kind of block.
int fuzz_operators(const uint8_t* data, size_t size);

// The language server's messages: the input as the bytes on its standard
// input (framing included), each message handled, then every check run.
// The export command is refused, so nothing is written.
int fuzz_lsp(const uint8_t* data, size_t size);

// Creates the working directory with the media (once) and changes into it.
// Returns the directory. The media are taken from `media_dir`.
std::string enter_fuzz_directory(const std::string& media_dir);
