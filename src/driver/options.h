// The command line: options before the two file names.
#pragma once

#include <string>

#include "run_state.h"

struct CommandLine {
  enum Action { convert, help, version, usage, language_server } action = convert;
  RunOptions options;
  bool watch = false;  // --watch: convert, then again whenever a file it read changes
  const char* input = nullptr;    // "-": standard input
  const char* output = nullptr;   // "-": standard output
  const char* unknown = nullptr;  // an option this program does not know
  std::string problem;            // an option's value that does not fit, said on standard error
  const char* listing_layout = nullptr;  // a layout option of --plain, which needs it
  const char* native_only = nullptr;  // --lsp or --watch asked of a run in a host
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

// One conversion of the files `line` names, with its options: the whole run
// of the command line after --help, --version, --lsp and --watch.
int convert_files(const CommandLine& line, const RunHost& host);

// --watch (src/driver/watch.cc): converts, then converts again whenever the
// input or a picture or sound file the last run opened changes, with one
// status line per run on standard error, until a signal ends it.
int run_watch(const CommandLine& line, const RunHost& host);
