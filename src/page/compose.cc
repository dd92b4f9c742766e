// Page text loop: the input becomes one page's content stream.
//
// Characters are collected into one "(...) Tj" string operand per line, with
// a backslash before "(", ")" and "\"; a line feed ends the string and moves
// to the next line with T*; the page ends at a form feed, when the lines per
// page are used up, or at the end of input. "[", "{" and "<" hand over to the
// raw block, the held-back block and the command group.
#include "commands.h"
#include "input.h"
#include "page.h"
#include "pdf.h"

// Shows one character: opens the text object and string if needed.
static void show_char(int t) {
  open_text_object();
  if (!run.string_open) {
    run.string_open = 1;
    emit_char('(');
  }
  int byte = t & 0xFF;  // the byte written decides the escape
  if (byte == '(' || byte == ')' || byte == '\\') emit_char('\\');
  emit_char(byte);
}

void compose_page() {
  for (;;) {
    int t = next_token();
    switch (t) {
      case tok_end:
        close_content_stream();
        run.input_ended = 1;
        return;
      case '\n':
        if (run.string_open) {
          run.string_open = 0;
          emit_text(") Tj ");
        }
        open_text_object();
        emit_text("T*\n");
        if (++run.lines_on_page < run.lines_per_page) break;
        close_content_stream();  // the page is full
        return;
      case '\f':
        close_content_stream();
        return;
      case tok_open_bracket:
        copy_raw_block();
        break;
      case tok_open_brace:
        copy_deferred_block();
        break;
      case tok_open_angle:
        run_command_group();
        break;
      default:
        show_char(t);
        break;
    }
  }
}
