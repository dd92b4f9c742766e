// The command line: options before the two file names.
#pragma once

#include <string>

#include "run_state.h"

struct CommandLine {
  enum Action { convert, help, version, usage } action = convert;
  RunOptions options;
  const char* input = nullptr;    // "-": standard input
  const char* output = nullptr;   // "-": standard output
  const char* unknown = nullptr;  // an option this program does not know
  std::string problem;            // an option's value that does not fit, said on standard error
  const char* listing_layout = nullptr;  // a layout option of --plain, which needs it
};

// Reads the listing option at args[0] (count arguments from there on) into
// `line`: returns the arguments it took, 0 if it is no listing option, -1
// (with line.problem) if its value does not fit.
int parse_listing_option(int count, const char* const* args, CommandLine& line);

// Reads `kestrin [options] infile outfile`; "--" ends the options. Anything
// but two file names after the options asks for the usage stop.
CommandLine parse_command_line(int argc, const char* const* argv);

// The text of --help.
extern const char help_text[];
