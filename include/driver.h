// The program entry: the command line, the two files, the document loop and
// the end of every run. Stops, warnings and the console are in diagnostics.h.
#pragma once

#include <cstddef>

#include "run_state.h"

// One whole run of `kestrin [options] infile outfile`; argv[0] is the
// program name. Returns the exit status: 0 after "no errors", 1 after any
// error, 0 after --help and --version.
int run_kestrin(int argc, const char* const* argv, const RunHost& host = RunHost{});

// The same run with the input text taken from memory instead of a file.
int run_kestrin_on_text(const unsigned char* text, size_t size, const char* output_path,
                        const RunOptions& options = RunOptions{},
                        const RunHost& host = RunHost{});

// The document loop: fonts, pages until the end of input, the document tail.
void run_document();
