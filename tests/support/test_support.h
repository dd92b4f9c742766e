// Helpers shared by the tests: in-process runs over scratch files, runs of
// the built binary, the front end fed from memory, and the PDF readers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "driver.h"
#include "run_state.h"

// A directory of its own for the running test, created empty.
std::string scratch_dir();
std::string scratch_path(const std::string& name);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
std::string test_data(const std::string& name);  // path of a bundled sample

// The console text of a stop: the empty line, then the error line.
std::string stop_text(int line, int code, int message);
inline std::string success_text() { return "\nno errors\n"; }

struct CompileResult {
  std::string console;  // everything the run printed
  std::string pdf;      // the output file's bytes
  std::string path;     // the output file
  int status;           // exit status
};

// Compiles `input` in-process from a scratch file to a scratch output. A
// document that ends in "no errors" then goes through the PDF readers, unless
// `readers` is false (for content that is deliberately not valid operators).
// The console text is captured; `host` may ask for more (standard error).
CompileResult compile(const std::string& input, const std::string& name = "doc",
                      bool readers = true, RunHost host = RunHost{});

// Runs the built kestrin binary with these arguments in the scratch directory.
struct ProcessResult {
  std::string out, err;
  int status;
};
ProcessResult run_binary(const std::vector<std::string>& args);

// Front end from memory: resets the run, attaches `text`, primes the source.
void feed(const std::string& text);

// Runs `body` and returns the stop it raised; fails the test if none.
Stop expect_stop(const std::function<void()>& body);

// Opens a scratch output; written_output() closes it and returns its bytes.
void open_scratch_output();
std::string written_output();

// Runs the PDF readers over a finished document and records every failure:
// qpdf --check clean, pdfinfo's page count, mutool draw without errors.
void check_with_readers(const std::string& pdf_path, int pages);

// Output of a shell command (stdout and stderr together) and its status.
int run_shell(const std::string& command, std::string* output);

// Lines joined with CR LF after each, as the channel writes them.
std::string crlf(const std::vector<std::string>& lines);

// The bytes between "stream\r\n" and "endstream" of object `number`.
std::string stream_of(const std::string& pdf, int number);

// The text of object `number`, from "N 0 obj" through "endobj\r\n".
std::string object_text(const std::string& pdf, int number);

// The cross-reference table and trailer for a document whose objects are in
// `body` (header included), with offsets found in it; `size` is /Size.
std::string xref_and_trailer(const std::string& body, int size);

// Runs `input` and expects the stop line; returns the result. Standard error
// goes to `diagnostics` when given.
CompileResult compile_expecting_stop(const std::string& input, int line, int code, int message,
                                     std::string* diagnostics = nullptr);

// Runs the built kestrin binary with these arguments in directory `dir`.
ProcessResult run_binary_in(const std::string& dir, const std::vector<std::string>& args);

// What mutool reports at `path` in the document (indices count from 1), as
// in "trailer/Root/Outlines/First/Title".
std::string reader_show(const std::string& pdf_path, const std::string& path);

// HarfBuzz's own hb-shape: the glyph ids for `text` in `font`, in visual order.
std::string hb_shape_glyphs(const std::string& font, const std::string& text);
