// Command groups: "<" word arguments word arguments ... ">".
//
// Each word is looked up, whole and case-sensitive, in the table below, in
// its order; the handler reads its own arguments. A word that names no
// command is written to the console and stops the run.
#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "media.h"
#include "navigation.h"

namespace {

struct Command {
  const char* word;
  void (*handler)();
};

// clang-format off
const Command command_table[] = {
    {"jpg", command_jpg},           {"jpg+", command_jpg_plus},
    {"gif", command_gif},           {"sound", command_sound},
    {"paper", command_paper},       {"rotate", command_rotate},
    {"inittext", command_inittext}, {"lines", command_lines},
    {"pict", command_pict},         {"pict+", command_pict_plus},
    {"outline", command_outline},   {"fullscreen", command_fullscreen},
    {"text", command_text},         {"link", command_link},
    {"action", command_action},     {"encoding", command_encoding},
    {"tabs", command_tabs},         {"wrap", command_wrap},
    {"image", command_image},       {"head", command_head},
    {"foot", command_foot},         {"margins", command_margins},
    {"bare", command_bare},         {"verbatim", command_verbatim},
    {"verbatim+", command_verbatim_plus},
    {"pagenumber", command_pagenumber},
    {"transition", command_transition},
};
// clang-format on

}  // namespace

void run_command_group() {
  char word[word_buffer_size];
  for (;;) {
    // A word that ends right at ">" (after a comment) closes the group unrun.
    if (read_word(word) == tok_close_angle) return;
    run.places.command = run.places.word;
    const Command* found = nullptr;
    for (const Command& command : command_table) {
      if (words_equal(word, command.word)) {
        found = &command;
        break;
      }
    }
    if (!found) {
      console_put_text(word);
      fatal_error_at(44, msg_unknown_command, run.places.command);
    }
    found->handler();
  }
}
