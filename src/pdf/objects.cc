// Object table, cross-reference table and trailer.
//
// Objects are written once, in the order the run completes them, and never
// revisited; the table records where each one begins. A number may be used
// before its object exists: a stream's /Length names the next number, whose
// object holds the count written right after the stream; the fixed numbers 1
// to 7, the Pages nodes and the annotation numbers are written at the end by
// setting next_object back to them. The table is indexed by number, so the
// order of objects in the file does not matter to it.
#include "diagnostics.h"
#include "pdf.h"

void begin_object(const char* text) {
  int32_t number = run.next_object;
  if (number >= max_obj) fatal_error(48, msg_too_many_objects);
  if (run.output_queued) queue_object_begun(number);
  // A cross-reference entry holds ten digits of offset, and no more.
  if (run.bytes_written > max_xref_offset) fatal_error(75, msg_output_too_large);
  run.xref_offset[number] = run.bytes_written;
  run.next_object = number + 1;
  emit_int(number);
  emit_text(" 0 obj\n");
  emit_text(text);
}

void whole_object(const char* text) {
  begin_object(text);
  emit_text("\nendobj\n");
}

void length_object(int64_t length) {
  begin_object("");
  if (length == flate_length_pending)
    queue_length_hole();
  else
    emit_int(length);
  emit_text("\nendobj\n");
}

void end_stream_object(int64_t length) {
  emit_text("\nendstream\nendobj\n");
  length_object(length);
}

int32_t reserve_object() { return run.next_object++; }

// Each entry is exactly 20 bytes: ten-digit offset, blank, generation,
// blank, keyword, CR LF.
void write_xref() {
  queue_settle();
  run.xref_offset[0] = run.bytes_written;
  emit_text("xref\n0 ");
  emit_int(run.next_object);
  emit_text("\n0000000000 65535 f\n");
  for (int32_t i = 1; i < run.next_object; ++i) {
    emit_int10(run.xref_offset[i]);
    emit_text(" 00000 n\n");
  }
}

void write_trailer() {
  emit_text("trailer\n<<\n/Size ");
  emit_int(run.next_object);
  emit_text("\n/Root ");
  emit_reference(obj_catalog);
  emit_text("\n/Info ");
  emit_reference(obj_info);
  emit_text("\n>>\nstartxref\n");
  emit_int(run.xref_offset[0]);
  emit_text("\n%%EOF\n");
}
