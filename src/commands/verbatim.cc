// <verbatim FILE> and <verbatim+ FILE>: the file's text as page text, in
// which nothing is markup, under the tabs, wrapping and encoding in force;
// verbatim+ numbers its lines. The file is opened here, so that a missing
// one stops at its name, and read when the command group has ended
// (src/input/verbatim.cc).
#include <cstdio>

#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "pdf.h"

namespace {

void read_verbatim_command(bool numbered) {
  VerbatimState& v = run.verbatim;
  if (v.pending) fatal_error_at(129, msg_verbatim_twice, run.places.command);
  char path[word_buffer_size];
  read_word(path);
  v.pending = open_external_file(path, 130);
  std::snprintf(v.name, sizeof v.name, "%s", path);
  v.pending_numbered = numbered;
}

}  // namespace

void command_verbatim() { read_verbatim_command(false); }

void command_verbatim_plus() { read_verbatim_command(true); }
