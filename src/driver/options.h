// The command line: options before the two file names.
#pragma once

#include "run_state.h"

struct CommandLine {
  enum Action { convert, help, version, usage } action = convert;
  RunOptions options;
  const char* input = nullptr;    // "-": standard input
  const char* output = nullptr;   // "-": standard output
  const char* unknown = nullptr;  // an option this program does not know
};

// Reads `kestrin [options] infile outfile`; "--" ends the options. Anything
// but two file names after the options asks for the usage stop.
CommandLine parse_command_line(int argc, const char* const* argv);

// The text of --help.
extern const char help_text[];
