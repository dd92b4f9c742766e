// Command groups: "<" word arguments word arguments ... ">".
//
// Each word is looked up, whole and case-sensitive, in the table of command
// words (src/commands/command_words.cc); the handler reads its own
// arguments. A word that names no command is written to the console and
// stops the run.
#include "commands.h"
#include "diagnostics.h"
#include "input.h"

void run_command_group() {
  char word[word_buffer_size];
  for (;;) {
    // A word that ends right at ">" (after a comment) closes the group unrun.
    if (read_word(word) == tok_close_angle) return;
    run.places.command = run.places.word;
    const CommandWord* found = find_command_word(word);
    if (!found) {
      console_put_text(word);
      fatal_error_at(44, msg_unknown_command, run.places.command);
    }
    found->handler();
    if (run.group_closed) {  // the command read the group's ">"
      run.group_closed = false;
      return;
    }
  }
}

const CommandWord* find_command_word(const char* word) {
  for (size_t i = 0; i < command_word_count; ++i)
    if (words_equal(word, command_words[i].word)) return &command_words[i];
  return nullptr;
}
