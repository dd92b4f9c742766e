// Content stream and text state.
//
// A page has one content stream, begun lazily at the first thing the page
// writes (or at its end), and at most one text object. While the stream is
// open no other object may be begun, so its number S is followed by its
// length S+1, the page object S+2 and the resources S+3.
//
// Shape of a stream: "{" blocks and picture operators that come before the
// page's first text; BT, the initial text state, the text with its T* moves
// and "[" blocks; ") Tj" if a string is open, ET, and the operators held back
// while the text object was open; endstream.
#include "diagnostics.h"
#include "input.h"
#include "page.h"
#include "pdf.h"

void open_content_stream() {
  if (run.stream_open) return;
  run.stream_open = 1;
  begin_object("<< /Length ");
  emit_int(run.next_object);
  emit_text(run.options.compress ? " 0 R /Filter /FlateDecode >>\nstream\n" : " 0 R >>\nstream\n");
  run.stream_start = run.bytes_written;
  if (run.options.compress) flate_begin(compress_level);
  run.text_state_emitted = 0;
  run.page_first_annotation = run.annotation_count;
  run.page_annotation_count = 0;
  run.page_action_count = 0;
  run.lines_on_page = 0;
  run.pre_text_unknown = 0;
  run.pre_text_colour[0] = run.fill_colour[0] = 0;
  run.fill_colour_check = 0;
  text_font_begin_page();
  running_begin_page();
}

// The default text state: Courier 12 points, 12 points of leading, the first
// baseline 25 points from the left and 31 below the top.
static void build_default_text_state() {
  char* cursor = reinterpret_cast<char*>(run.inittext_buffer);
  builder_put_text("/F1 12 Tf 25 ", cursor);
  builder_put_int(wrap_sub(run.paper_height, 31), cursor);
  builder_put_text(" Td 12 TL\n", cursor);
}

void open_text_object() {
  open_content_stream();
  if (run.text_open) return;
  run.text_open = 1;
  emit_text("BT\n");
  if (run.text_state_emitted) return;
  run.text_state_emitted = 1;
  if (!run.inittext_set) {  // built once per run, unless inittext replaces it
    run.inittext_set = 1;
    build_default_text_state();
  }
  if (run.lines_per_page == 0) {
    run.lines_per_page = wrap_sub(run.paper_height, 50) / 12;
    run.lines_derived = 1;
  }
  emit_text(reinterpret_cast<const char*>(run.inittext_buffer));
  text_font_after_inittext();
  layout_begin_page();
}

void close_string() {
  if (!run.string_open) return;
  run.string_open = 0;
  emit_text(") Tj ");
}

void close_text_object() {
  close_string();
  if (run.text_open) {
    run.text_open = 0;
    emit_text("\nET\n");
  }
  for (int32_t i = 0; i < run.deferred_length; ++i) emit_char(run.deferred_buffer[i]);
  run.deferred_length = 0;
}

void close_content_stream() {
  if (!run.stream_open) open_content_stream();  // every page gets a stream
  run.stream_open = 0;
  close_text_object();
  if (run.options.compress) {
    // The compressed bytes need a line end of their own before endstream.
    int64_t length = flate_end();
    run.last_char_written = 0;
    end_stream_object(length);
    return;
  }
  int64_t length = run.bytes_written - run.stream_start;
  emit_text("endstream\nendobj\n");
  length_object(length);
}

// Copies block tokens up to `closer` through the channel, each as one byte;
// the end of input stops with `end_code`. The warnings read the block too.
static void emit_block(int closer, int end_code, BlockPlace place) {
  int64_t first_line = current_input_line();
  run.places.block = current_place();
  BlockCheck* check = block_check_begin();
  for (int t = next_token(); t != closer; t = next_token()) {
    if (t == tok_end) fatal_error_at(end_code, msg_unexpected_end, run.places.block);
    int byte = winansi_byte(t, 85);
    if (check) block_check_token(check, is_bracket_token(t) ? t : byte);
    emit_char(byte);
  }
  emit_char('\n');
  if (check) block_check_end(check, place, first_line);
}

void copy_raw_block() {
  close_string();
  open_text_object();
  emit_block(tok_close_bracket, 10, BlockPlace::in_text);
}

void copy_deferred_block() {
  open_content_stream();
  if (!run.text_open) {
    emit_block(tok_close_brace, 13, BlockPlace::before_text);
    return;
  }
  // Held back until the text object ends: up to max_pdfcmd bytes of content,
  // and the closing line feed may take one more.
  int64_t first_line = current_input_line();
  run.places.block = current_place();
  BlockCheck* check = block_check_begin();
  for (int t = next_token(); t != tok_close_brace; t = next_token()) {
    if (t == tok_end) fatal_error_at(11, msg_unexpected_end, run.places.block);
    if (run.deferred_length >= max_pdfcmd)
      fatal_error_at(12, msg_too_many_pdf_commands, run.places.block);
    int byte = winansi_byte(t, 85);
    if (check) block_check_token(check, is_bracket_token(t) ? t : byte);
    run.deferred_buffer[run.deferred_length++] = static_cast<unsigned char>(byte);
  }
  if (check) block_check_end(check, BlockPlace::held_back, first_line);
  if (run.deferred_length >= max_pdfcmd + 1)
    fatal_error_at(12, msg_too_many_pdf_commands, run.places.block);
  run.deferred_buffer[run.deferred_length++] = '\n';
}
