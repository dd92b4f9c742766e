// Annotation commands and their store.
//
// Each of text, link and action appends one record to annot_store; nothing
// is written until the document tail. The record carries the object number
// the annotation will have, fixed when the command is read: with the page's
// stream S open, next_object is S+1 for the whole page, the page object and
// resources take S+2 and S+3, and the page's annotations S+4 on, each action
// annotation followed by its actions.
//
// The words of a record are named by AnnotWord (include/navigation.h).
#include <string>

#include "diagnostics.h"
#include "input.h"
#include "navigation.h"
#include "pdf.h"

namespace {

// Appends a word. With a stop code, the store's fill is tested at once, so
// that no list, however long, writes past the store's end.
void store_word(int32_t value, int full_code = 0) {
  run.annot_store[run.annot_store_length++] = value;
  if (full_code != 0 && run.annot_store_length >= max_para)
    fatal_error_at(full_code, msg_too_many_parameters, run.places.command);
}

// Reads x, y, width and height and appends x, y, x + width, y + height: the
// rectangle as given, not normalised.
void store_rectangle(int full_code) {
  int32_t x = read_number();
  store_word(x, full_code);
  int32_t y = read_number();
  store_word(y, full_code);
  store_word(wrap_add(x, read_number()), full_code);
  store_word(wrap_add(y, read_number()), full_code);
}

// The six words every record starts with, and the checks before them.
void begin_record(AnnotKind kind, int page_code, int limit_code, int full_code) {
  if (!run.stream_open) fatal_error_at(page_code, msg_annotation_only_in_page, run.places.command);
  if (run.annotation_count >= max_annot)
    fatal_error_at(limit_code, msg_too_many_annotations, run.places.command);
  run.annotation_start[run.annotation_count++] = run.annot_store_length;
  run.page_annotation_count += 1;
  store_word(kind, full_code);
  store_word(run.next_object + 2 + run.page_annotation_count + run.page_action_count, full_code);
  store_rectangle(full_code);
}

void end_record(int full_code) {
  if (run.annot_store_length >= max_para)
    fatal_error_at(full_code, msg_too_many_parameters, run.places.command);
}

// Words of an action list with no operands, by kind.
struct NamedAction {
  const char* word;
  ActionKind kind;
};
const NamedAction named_actions[] = {
    {"first", action_first}, {"prev", action_prev}, {"next", action_next},
    {"last", action_last},   {"back", action_back}, {"forward", action_forward},
};

// A URL read as UTF-8 with its bytes beyond ASCII percent-encoded.
std::string percent_encoded(const char* url) {
  std::string out;
  for (; *url; ++url) {
    unsigned char byte = static_cast<unsigned char>(*url);
    if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else {
      out += '%';
      out += "0123456789ABCDEF"[byte >> 4];
      out += "0123456789ABCDEF"[byte & 15];
    }
  }
  return out;
}

// Reads one action word's operands and appends the action. Returns the
// number of actions appended: 0 for the empty word, -1 for an unknown word.
int read_action(const char* word) {
  const int full = 42;
  if (word[0] == 0) return 0;
  ActionKind kind;
  if (words_equal(word, "url")) {
    kind = action_url;
  } else if (words_equal(word, "exec")) {
    kind = action_exec;
  } else if (words_equal(word, "sound")) {
    kind = action_sound;
  } else if (words_equal(word, "goto")) {
    kind = action_goto;
  } else {
    const NamedAction* named = nullptr;
    for (const NamedAction& candidate : named_actions)
      if (words_equal(word, candidate.word)) named = &candidate;
    if (!named) return -1;
    kind = named->kind;
  }
  run.page_action_count += 1;
  store_word(kind, full);

  char operand[word_buffer_size];
  switch (kind) {
    case action_url:
      if (read_word(operand) != 0) fatal_error(39, msg_error_in_string);
      if (run.utf8)
        pool_put_string(percent_encoded(operand).c_str());
      else
        pool_put_string(operand);
      break;
    case action_exec:
      if (read_word(operand) != 0) fatal_error(40, msg_error_in_string);
      pool_put_string(operand);
      pool_read_bracketed_bytes();  // the parameters, possibly empty
      break;
    case action_sound: {
      int32_t sound = read_number();
      if (sound < 0 || sound >= max_sound) fatal_error_at(66, msg_too_many_sounds, run.places.word);
      run.annot_place[run.annot_store_length] = run.places.word;  // checked in the tail
      store_word(sound, full);
      break;
    }
    case action_goto: {
      int32_t page = read_number();
      run.annot_place[run.annot_store_length] = run.places.word;  // checked in the tail
      store_word(page, full);
      store_rectangle(full);
      break;
    }
    case action_first:
    case action_prev:
    case action_next:
    case action_last:
    case action_back:
    case action_forward: break;
  }
  return 1;
}

}  // namespace

int32_t annotation_object_count(int32_t index) {
  const int32_t* record = run.annot_store + run.annotation_start[index];
  return record[annot_word_kind] == annot_action ? 1 + record[annot_word_action_count] : 1;
}

void command_text() {
  begin_record(annot_text, 28, 29, 0);
  store_word(run.pool_length);
  pool_read_bracketed();
  end_record(30);
}

void command_link() {
  begin_record(annot_link, 31, 32, 0);
  store_word(read_number());  // border width
  int32_t page = read_number();
  run.annot_place[run.annot_store_length] = run.places.word;  // checked in the tail
  store_word(page);
  if (page >= max_page) fatal_error_at(33, msg_too_many_pages, run.places.word);
  end_record(34);
}

void command_action() {
  const int full = 42;
  begin_record(annot_action, 35, 36, full);
  store_word(read_number(), full);  // border width
  store_word(run.pool_length, full);
  int32_t count_word = run.annot_store_length;
  store_word(0, full);

  for (;;) {  // skip to the list's "<": characters are passed over
    int t = next_token();
    if (t == tok_open_angle) break;
    if (t < 0 || is_bracket_token(t)) fatal_error(37, msg_error_in_string);
  }
  int32_t actions = 0;
  char word[word_buffer_size];
  for (;;) {
    // The tokenizer puts a blank before ">", so the list normally ends with
    // an empty word that ends on ">".
    int ended = read_word(word);
    if (ended != 0 && ended != tok_close_angle) fatal_error(38, msg_error_in_string);
    int appended = read_action(word);
    if (appended < 0) fatal_error_at(41, msg_unknown_action, run.places.word);
    actions += appended;
    if (ended == tok_close_angle) break;
  }
  if (actions == 0) fatal_error_at(43, msg_no_action, run.places.command);
  run.annot_store[count_word] = actions;  // annot_word_action_count
}
