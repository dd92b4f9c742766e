// Sounds: a file of samples copied unchanged as a sound object's stream.
// The rate, channels, bits and encoding name pass into the dictionary as
// the author wrote them.
#include "diagnostics.h"
#include "input.h"
#include "media.h"
#include "pdf.h"

void command_sound() {
  if (run.stream_open) fatal_error_at(18, msg_not_in_page, run.places.command);
  int32_t sound = read_number();
  if (sound < 0 || sound >= max_sound) fatal_error_at(19, msg_too_many_sounds, run.places.word);
  run.sound_object[sound] = run.next_object;
  begin_object("<< /Type /Sound /R ");
  emit_int(read_number());
  emit_text(" /C ");
  emit_int(read_number());
  emit_text(" /B ");
  emit_int(read_number());
  emit_text(" /E /");
  char word[word_buffer_size];
  read_word(word);
  emit_text(word);
  emit_text(" /Length ");
  emit_int(run.next_object);
  emit_text(run.options.compress ? " 0 R /Filter /FlateDecode >>\nstream\n" : " 0 R >>\nstream\n");
  read_word(word);
  if (!run.options.compress) {
    end_stream_object(copy_file_into_output(word));
    return;
  }
  flate_begin(compress_level);
  copy_file_into_output(word);
  int64_t length = flate_end();
  run.last_char_written = 0;
  end_stream_object(length);
}
