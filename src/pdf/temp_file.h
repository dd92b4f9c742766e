// The temporary files of the output (src/pdf/temp_file.cc), for
// src/pdf/output_file.cc alone.
#pragma once

#include <string>

// Makes a temporary file in `folder` ("" is the working folder) for the
// output file named `base`, open for reading and writing and locked by this
// process; -1 with errno when the folder takes no new file. On Linux it has
// no name (run.output_file.temp_unnamed) until temp_file_link; otherwise its
// name, `.BASE.XXXXXX`, is in run.output_file.temp_path.
int temp_file_create(const std::string& folder, const std::string& base);

// Gives an unnamed temporary file its `.BASE.XXXXXX` name in `folder`, so
// that it can be renamed over the output; false with errno if it cannot.
bool temp_file_link(int fd, const std::string& folder, const std::string& base);

// Removes the temporary files of output `base` in `folder` that earlier
// runs left behind when they were killed: only files no process holds, of
// this user, that begin as kestrin's PDFs do and have rested a while.
void temp_files_remove_stale(const std::string& folder, const std::string& base);

// From now on, every signal that would end the process first removes the
// named temporary file (those whose handling nobody else has taken).
void guard_against_signals();

// Holds back (true) or lets through (false) every signal that ends the
// process, as another process may send any of them (kill -ABRT too): while a
// temporary file gets a name the signal handler does not know yet, and while
// the output itself is overwritten. A fault of the program's own still ends
// it at once, as the system does not hold those back.
void hold_signals(bool hold);
