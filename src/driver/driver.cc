// Program driver: the command line, the two files, the file header, the
// document loop, and the end of every run.
//
// Object numbers: 1 to 7 are the document objects written last (catalogue,
// outline root, Pages root, open action, viewer preferences, procedure set,
// information), 8 is the font resource dictionary and 9 to 22 the fonts,
// written first. From 23 on, numbers are handed out in order of use: a Pages
// node at pages 1, 301, 601, ..., then per page its content stream, the
// stream's length, the page object, its resources and the numbers its
// annotations take at the end; images and sounds between pages; the outline
// items last.
#include "driver.h"

#include <sys/stat.h>

#include <new>

#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "page.h"
#include "pdf.h"

RunState run;

void reset_run_state() {
  run.~RunState();
  new (&run) RunState();
}

namespace {

const char file_header[] =
    "%PDF-1.2\n"
    "%\x88\x89\x8A This is a binary file. Don't edit.\n"
    "%created by Kestrin V 0.08 alpha\n"
    "%https://kestrin-pdf.org/\n";

// Whether `path` names the file the input was read from (links followed).
bool names_input_file(const char* path) {
  if (!run.input_file.file) return false;
  struct stat info;
  if (stat(path, &info) != 0) return false;
  return run.input_file.id ==
         FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Everything after the input is attached; ends in the stop, never returns.
[[noreturn]] void compile(const char* output_path) {
  skip_byte_order_mark();
  next_char();  // prime the lookahead; the output does not exist yet
  if (names_input_file(output_path)) fatal_error(68, msg_output_is_input);
  if (!output_open(output_path)) fatal_error(3, msg_cant_open_output);
  emit_text(file_header);
  run_document();
  write_xref();
  write_trailer();
  fatal_error(4, msg_no_errors);
}

// Closes the files and prints the console line; returns the exit status.
int finish_run(Stop stop) {
  input_close();
  if (!output_close() && stop.message == msg_no_errors)
    stop = Stop{72, msg_cant_write_output, run.line_number};
  console_put_text("\n");
  if (stop.message != msg_no_errors) {
    console_put_text("error in line ");
    console_put_int(stop.line);
    console_put_text(" (");
    console_put_int(stop.code);
    console_put_text(")  ");
  }
  console_put_text(message_table[stop.message]);
  console_put_text("\n");
  if (!console_capture) std::fflush(stdout);
  return stop.message == msg_no_errors ? 0 : 1;
}

}  // namespace

void run_document() {
  write_font_objects();
  while (!run.input_ended) {
    if (run.page_count % pages_per_node == 0)  // a block of 300 pages starts
      run.page_tree_node[run.page_count / pages_per_node] = reserve_object();
    compose_page();
    write_page_object();
  }
  write_document_tail();
}

int run_kestrin(int argc, const char* const* argv) {
  reset_run_state();
  try {
    if (argc != 3) fatal_error(1, msg_usage);
    if (!input_open_file(argv[1])) fatal_error(2, msg_cant_open_input);
    compile(argv[2]);
  } catch (const Stop& stop) {
    return finish_run(stop);
  }
}

int run_kestrin_on_text(const unsigned char* text, size_t size, const char* output_path,
                        const RunOptions& options) {
  reset_run_state();
  run.options = options;
  try {
    input_open_memory(text, size);
    compile(output_path);
  } catch (const Stop& stop) {
    return finish_run(stop);
  }
}
