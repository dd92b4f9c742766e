// <transition STYLE SECONDS [DIRECTION ...]>: the way a viewer in full
// screen brings on the page, from this page on, written as the page's
// /Trans dictionary. `none` goes back to no transition.
//
//   dissolve 1                  the page dissolves in
//   wipe 1 right|up|left|down   a line sweeps across, the way it moves
//   split 1 horizontal|vertical in|out    two lines sweep in or out
//   blinds 1 horizontal|vertical          several lines sweep at once
//   box 1 in|out                a box sweeps in or out
//   glitter 1 right|down|diagonal         dots dissolve in, sweeping that way
//
// SECONDS may have up to three decimals (0.5), up to 60.
#include <cstring>
#include <string>

#include "commands.h"
#include "diagnostics.h"
#include "input.h"

namespace {

struct Choice {
  const char* word;
  const char* entry;  // what the word adds to the dictionary
};

const Choice sweep_directions[] = {
    {"right", " /Di 0"}, {"up", " /Di 90"}, {"left", " /Di 180"}, {"down", " /Di 270"}};
const Choice glitter_directions[] = {
    {"right", " /Di 0"}, {"down", " /Di 270"}, {"diagonal", " /Di 315"}};
const Choice dimensions[] = {{"horizontal", " /Dm /H"}, {"vertical", " /Dm /V"}};
const Choice motions[] = {{"in", " /M /I"}, {"out", " /M /O"}};

struct Style {
  const char* word;
  const char* name;          // /S
  const Choice* choices[2];  // what follows the seconds, in order
  int counts[2];
};

const Style styles[] = {
    {"dissolve", "Dissolve", {nullptr, nullptr}, {0, 0}},
    {"wipe", "Wipe", {sweep_directions, nullptr}, {4, 0}},
    {"split", "Split", {dimensions, motions}, {2, 2}},
    {"blinds", "Blinds", {dimensions, nullptr}, {2, 0}},
    {"box", "Box", {motions, nullptr}, {2, 0}},
    {"glitter", "Glitter", {glitter_directions, nullptr}, {3, 0}},
};

// Reads one word of `count` choices and returns its entry.
const char* read_choice(const Choice* choices, int count, const char* style) {
  char word[word_buffer_size];
  read_word(word);
  for (int i = 0; i < count; ++i)
    if (words_equal(word, choices[i].word)) return choices[i].entry;
  std::string accepted;
  for (int i = 0; i < count; ++i) accepted += std::string(i ? ", " : "") + choices[i].word;
  report_problem("line " + std::to_string(run.places.word.line) + ": " + style + " " + word +
                 ": use " + accepted);
  fatal_error_at(132, msg_unknown_transition_word, run.places.word);
}

// Seconds with up to three decimals, 0 to 60, as PDF writes them.
std::string read_seconds() {
  char word[word_buffer_size];
  read_word(word);
  int64_t milli = 0;
  int digits = 0, decimals = -1;
  for (const char* c = word; *c; ++c) {
    if (*c == '.' && decimals < 0) {
      decimals = 0;
    } else if (*c >= '0' && *c <= '9' && decimals < 3 && milli <= 60000) {
      milli = milli * 10 + (*c - '0');
      ++digits;
      if (decimals >= 0) ++decimals;
    } else {
      fatal_error_at(133, msg_error_reading_number, run.places.word);
    }
  }
  if (digits == 0) fatal_error_at(133, msg_error_reading_number, run.places.word);
  for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d) milli *= 10;
  if (milli > 60000) {
    report_problem("line " + std::to_string(run.places.word.line) + ": transition " + word +
                   " seconds: use 0 to 60");
    fatal_error_at(134, msg_value_out_of_range, run.places.word);
  }
  std::string text = std::to_string(milli / 1000);
  if (milli % 1000) {
    std::string fraction = std::to_string(1000 + milli % 1000).substr(1);
    text += "." + fraction.substr(0, fraction.find_last_not_of('0') + 1);
  }
  return text;
}

}  // namespace

void command_transition() {
  char word[word_buffer_size];
  read_word(word);
  if (words_equal(word, "none")) {
    run.transition[0] = 0;
    return;
  }
  const Style* style = nullptr;
  for (const Style& candidate : styles)
    if (words_equal(word, candidate.word)) style = &candidate;
  if (!style) {
    report_problem("line " + std::to_string(run.places.word.line) + ": transition " + word +
                   ": use dissolve, wipe, split, blinds, box, glitter or none");
    fatal_error_at(131, msg_unknown_transition, run.places.word);
  }
  std::string dictionary = std::string("<< /S /") + style->name + " /D " + read_seconds();
  for (int i = 0; i < 2 && style->choices[i]; ++i)
    dictionary += read_choice(style->choices[i], style->counts[i], style->word);
  dictionary += " >>";
  std::snprintf(run.transition, sizeof run.transition, "%s", dictionary.c_str());
}
