// Verbatim files: a file read in place of the document, as plain text.
//
// The command opens the file and leaves it pending; when its command group
// has ended, the document's character source is put aside (its window, its
// lookahead and its line count) and the file is read instead, every
// character of it page text. At the file's end the document's reading goes
// on exactly where it was. Places and warnings name the file and its lines
// meanwhile; the console line names the line of the command.
#include <cstring>

#include "diagnostics.h"
#include "input.h"

namespace {

// Copies an input, its window pointers moved along with its buffer.
void move_input(InputStream& to, const InputStream& from) {
  to = from;
  if (!from.file) return;  // a text in the caller's memory stays where it is
  to.next = to.buffer + (from.next - from.buffer);
  to.end = to.buffer + (from.end - from.buffer);
  to.start = to.buffer + (from.start - from.buffer);
}

}  // namespace

void begin_verbatim() {
  VerbatimState& v = run.verbatim;
  move_input(v.document, run.input_file);
  v.current_char = run.current_char;
  v.lookahead_char = run.lookahead_char;
  v.previous_char = run.previous_char;
  v.line_number = run.line_number;
  v.command_line = run.places.command.line;  // the console line names it
  v.active = true;

  InputStream& in = run.input_file;
  in = InputStream{};
  in.file = v.pending;
  in.name = v.name;
  in.open = true;
  in.next = in.end = in.start = in.buffer;
  v.pending = nullptr;
  run.diagnostics.place_file = v.name;
  run.diagnostics.place_origin = run.places.command;
  run.line_number = 1;
  run.current_char = run.previous_char = 0;
  if (run.utf8 && input_read_byte() >= 0) {  // a byte order mark at the start is no character
    --in.next;
    if (in.end - in.next >= 3 && std::memcmp(in.next, "\xEF\xBB\xBF", 3) == 0) {
      in.next += 3;
      in.start = in.next;
      in.start_offset = 3;
    }
  }
  run.lookahead_char = read_raw_char();
  run.plain_text = 1;
}

void end_verbatim() {
  VerbatimState& v = run.verbatim;
  std::fclose(run.input_file.file);
  move_input(run.input_file, v.document);
  run.current_char = v.current_char;
  run.lookahead_char = v.lookahead_char;
  run.previous_char = v.previous_char;
  run.line_number = v.line_number;
  v.active = false;
  run.diagnostics.place_file.clear();
  run.plain_text = 0;
  run.numbering = run.number_pending = 0;
}
