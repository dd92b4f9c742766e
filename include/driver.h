// The program entry: the command line, the two files, the document loop and
// the end of every run. Stops, warnings and the console are in diagnostics.h.
#pragma once

#include <cstddef>
#include <functional>

#include "run_state.h"

// One whole run of `kestrin [options] infile outfile`; argv[0] is the
// program name. Returns the exit status: 0 after "no errors", 1 after any
// error, 0 after --help and --version.
int run_kestrin(int argc, const char* const* argv, const RunHost& host = RunHost{});

// The same run with the input text taken from memory instead of a file.
int run_kestrin_on_text(const unsigned char* text, size_t size, const char* output_path,
                        const RunOptions& options = RunOptions{},
                        const RunHost& host = RunHost{});

// The frame of every run: the record back at its start, then `body` (which
// attaches the input and compiles) until it stops; the files are closed, a
// temporary output removed and the console line printed. Any exception
// other than the stop ends the run as a stop too: 89 "out of memory" where
// memory could not be had, 90 "internal error" for anything else (a
// library's error, a fault of kestrin's own), its text on standard error.
// Returns the exit status.
int run_compiler(const RunOptions& options, const RunHost& host, const char* input_name,
                 const std::function<void()>& body);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the run opens takes their place; returns them as bits (1 << fd)
// for RunHost::closed_standard_streams. The first thing the program does.
int open_closed_standard_streams();

// The document loop: fonts, pages until the end of input, the document tail.
void run_document();
