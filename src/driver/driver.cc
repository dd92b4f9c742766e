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

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "options.h"
#include "page.h"
#include "pdf.h"

RunState run;

namespace {
bool run_used = false;  // a run has started in this process
}  // namespace

// The record a process starts with already holds the start values, so the
// first run takes it as it is: rebuilding it would write all of its 1.2 MB
// and fault in every page of it, most of the start-up of a short document.
void reset_run_state() {
  if (!run_used) {
    run_used = true;
    return;
  }
  run.~RunState();
  new (&run) RunState();
}

namespace {

// Whether `path` names the file the input was read from (links followed;
// "-" compares standard output).
bool names_input_file(const char* path) {
  FileId id, input;
  if (!output_identity(path, &id)) return false;
  if (run.input_file.file) return run.input_file.id == id;
  const char* stands_for = run.host.memory_text_file;
  return stands_for && output_identity(stands_for, &input) && input == id;
}

// Everything after the input is attached; ends in the stop, never returns.
[[noreturn]] void compile(const char* output_path) {
  if (run.options.utf8) run.utf8 = 1, run.utf8_checks = 0;  // --encoding utf8
  skip_byte_order_mark(run.options.utf8);
  next_char();  // prime the lookahead; the output does not exist yet
  if (names_input_file(output_path)) fatal_error(68, msg_output_is_input);
  run.output_file.name = output_path;
  if (!output_open(output_path)) fatal_error(3, msg_cant_open_output);
  emit_text(file_header);
  if (run.options.listing.plain) set_up_listing();
  run_document();
  if (run.options.warnings_as_errors && warnings_so_far() > 0)
    fatal_error(76, msg_warnings_as_errors);
  write_xref();
  write_trailer();
  fatal_error(4, msg_no_errors);
}

// Stops about the command line, reading the input and writing the output,
// which no place in the input caused.
bool stop_has_no_place(int code) {
  for (int no_place_code : {1, 2, 3, 68, 72, 73, 75, 76})
    if (code == no_place_code) return true;
  return false;
}

// A stop the input caused is also written as "FILE:LINE:COLUMN: error:
// MESSAGE" on standard error, where editors find it; the host's list gets
// every stop as a record.
void report_stop(const Stop& stop, Place place) {
  const DiagnosticsState& d = run.diagnostics;
  const std::string where = (d.place_file.empty() ? d.file_name : d.place_file) + ":" +
                            std::to_string(place.line) + ":" + std::to_string(place.column);
  if (place.line > 0) report_line(where + ": error: " + message_table[stop.message]);
  if (!run.host.diagnostic_list) return;
  if (d.place_file.empty() || place.line <= 0)
    run.host.diagnostic_list->push_back(Diagnostic{Diagnostic::error, place.line, place.column,
                                                   stop.code, message_table[stop.message]});
  else  // inside a verbatim file: at the command, naming the place in the file
    run.host.diagnostic_list->push_back(Diagnostic{Diagnostic::error, d.place_origin.line,
                                                   d.place_origin.column, stop.code,
                                                   where + ": " + message_table[stop.message]});
}

// Closes the files and prints the console line; returns the exit status. The
// output is kept only when the run succeeded.
int finish_run(Stop stop) {
  // A write the second thread failed came before anything the run did since.
  int64_t failed_line;
  if (queue_finish(&failed_line)) stop = Stop{72, msg_cant_write_output, failed_line, no_place};
  Place place = stop.place;
  if (place.line < 0) place = run.input_ended ? no_place : current_place();
  input_close();
  finish_warnings();
  bool success = stop.message == msg_no_errors;
  if (!output_close(success) && success)
    stop = Stop{72, msg_cant_write_output, run.line_number, no_place};
  if (stop.code == 72 && run.output_file.error_number != 0)
    report_file_problem(run.output_file.name.c_str(), run.output_file.error_number);
  if (stop.message != msg_no_errors)
    report_stop(stop, stop_has_no_place(stop.code) ? no_place : place);
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
  if (!run.host.console_capture) std::fflush(run.diagnostics.console_file);
  return stop.message == msg_no_errors ? 0 : 1;
}

// A fresh run: the record back at its start, then what this run is asked.
void start_run(const RunOptions& options, const RunHost& host, const char* input_name) {
  reset_run_state();
  run.options = options;
  run.host = host;
  run.diagnostics.file_name = input_name;
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
  stop_for_missing_characters();
  write_document_tail();
}

int open_closed_standard_streams() {
  int closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed |= 1 << fd;
    int null = open("/dev/null", O_RDWR);  // the lowest free descriptor: fd itself
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  return closed;
}

int run_compiler(const RunOptions& options, const RunHost& host, const char* input_name,
                 const std::function<void()>& body) {
  start_run(options, host, input_name);
  Stop stop{};
  try {
    body();
    report_problem("internal error: the run ended without its stop");  // every body stops
    stop = Stop{90, msg_internal_error, run.line_number, no_place};
  } catch (const Stop& raised) {
    stop = raised;
  } catch (const std::bad_alloc&) {
    stop = Stop{89, msg_out_of_memory, run.line_number, no_place};
  } catch (const std::exception& error) {
    report_problem(std::string("internal error: ") + error.what());
    stop = Stop{90, msg_internal_error, run.line_number, no_place};
  } catch (...) {
    report_problem("internal error: an exception of unknown kind");
    stop = Stop{90, msg_internal_error, run.line_number, no_place};
  }
  return finish_run(stop);
}

int run_kestrin(int argc, const char* const* argv, const RunHost& host) {
  CommandLine line = parse_command_line(argc, argv);
  if (line.action == CommandLine::help || line.action == CommandLine::version) {
    std::fputs(line.action == CommandLine::help ? help_text : "kestrin " KESTRIN_VERSION "\n",
               stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  // The two modes of the native program (src/driver/main.cc) that do not
  // fit a run in a host: they go through the usage stop here.
  if (line.action == CommandLine::language_server ||
      (line.watch && line.action == CommandLine::convert)) {
    line.action = CommandLine::usage;
    line.native_only = line.watch ? "--watch" : "--lsp";
  }
  return convert_files(line, host);
}

int convert_files(const CommandLine& line, const RunHost& host) {
  bool from_stdin = line.input && std::strcmp(line.input, "-") == 0;
  std::signal(SIGXFSZ, SIG_IGN);  // an over-large file fails a write instead
  const char* input_name = from_stdin ? "<stdin>" : line.input ? line.input : "";
  return run_compiler(line.options, host, input_name, [&line, from_stdin] {
    if (line.action == CommandLine::usage) {
      if (line.unknown)
        report_problem(std::string("unknown option ") + line.unknown +
                       " (kestrin --help lists them)");
      if (!line.problem.empty()) report_problem(line.problem);
      if (line.native_only)
        report_problem(std::string(line.native_only) + " needs the native kestrin program");
      fatal_error(1, msg_usage);
    }
    // The console text must not mix with a PDF written to standard output.
    if (output_names_standard_output(line.output)) run.diagnostics.console_file = stderr;
    if (from_stdin && (run.host.closed_standard_streams & 1)) {
      report_problem("standard input is closed");
      fatal_error(2, msg_cant_open_input);
    }
    if (!input_open_file(line.input)) {
      report_file_problem(from_stdin ? "<stdin>" : line.input, errno);
      fatal_error(2, msg_cant_open_input);
    }
    compile(line.output);
  });
}

int run_kestrin_on_text(const unsigned char* text, size_t size, const char* output_path,
                        const RunOptions& options, const RunHost& host) {
  const char* name = host.memory_text_file ? host.memory_text_file : "<memory>";
  return run_compiler(options, host, name, [=] {
    input_open_memory(text, size);
    compile(output_path);
  });
}
