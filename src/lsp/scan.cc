// A tolerant reading of a document for the editor: where the blocks, the
// command groups and their words and arguments are, what is registered
// under which number, and the bookmarks. It follows the compiler's reading
// (escapes, blocks, groups, comments between asterisks inside groups, words
// ending at a blank or a bracket, each command's arguments by its row in the
// table of command words) but goes on past anything the compiler would stop
// at, so that the editor has the whole document while it is being typed.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lsp.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool is_bracket(char c) { return std::strchr("[]{}<>", c) != nullptr && c != 0; }

class Scanner {
 public:
  Scanner(const std::string& text, DocumentScan& out) : text_(text), out_(out) {}

  void run() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c == '\\') {
        at_ += 2;
      } else if (c == '[' || c == '{') {
        ++at_;
        out_.blocks.push_back(bracketed(c == '[' ? ']' : '}'));
      } else if (c == '<') {
        group();
      } else {
        ++at_;
      }
    }
  }

 private:
  // From just after an opening bracket to its closing one (escapes
  // skipped); the span of the contents. The end of the text ends it too.
  Span bracketed(char close) {
    size_t from = at_;
    while (at_ < text_.size() && text_[at_] != close) at_ += text_[at_] == '\\' ? 2 : 1;
    at_ = std::min(at_, text_.size());
    Span span{from, at_};
    if (at_ < text_.size()) ++at_;
    return span;
  }

  // Blanks and comments inside a group.
  void skip_space() {
    while (at_ < text_.size()) {
      if (is_blank(text_[at_])) {
        ++at_;
      } else if (text_[at_] == '*') {
        size_t end = text_.find('*', at_ + 1);
        at_ = end == std::string::npos ? text_.size() : end + 1;
      } else {
        return;
      }
    }
  }

  // A word or number inside a group: up to a blank, a bracket or a comment.
  bool token(Span* span) {
    skip_space();
    size_t from = at_;
    while (at_ < text_.size() && !is_blank(text_[at_]) && !is_bracket(text_[at_]) &&
           text_[at_] != '*')
      at_ += text_[at_] == '\\' ? 2 : 1;
    at_ = std::min(at_, text_.size());
    *span = Span{from, at_};
    return at_ > from;
  }

  // The group from its "<" to its ">".
  void group() {
    size_t from = at_++;
    size_t index = out_.groups.size();
    out_.groups.push_back(Span{from, text_.size()});
    for (;;) {
      skip_space();
      if (at_ >= text_.size()) break;
      if (text_[at_] == '>') {
        out_.groups[index].to = ++at_;
        return;
      }
      Span span;
      if (!token(&span)) {              // a bracket where a word belongs
        if (text_[at_] == '<') return;  // the compiler would stop; read it as a new group
        if (text_[at_] == '[' || text_[at_] == '{') {
          ++at_;
          bracketed(text_[at_ - 1] == '[' ? ']' : '}');
        } else {
          ++at_;
        }
        continue;
      }
      ScannedWord word{span, text_.substr(span.from, span.to - span.from), nullptr, nullptr, {}};
      word.command = find_command_word(word.word.c_str());
      size_t word_index = out_.words.size();
      out_.words.push_back(word);
      if (word.command) arguments(word_index, word.command->arguments);
    }
  }

  // Reads the arguments `syntax` names for the word at `index`.
  void arguments(size_t index, const char* syntax) {
    for (const std::string& name : argument_names(syntax)) {
      skip_space();
      if (at_ >= text_.size() || text_[at_] == '>') return;
      Span span;
      if (name[0] == '[') {
        if (text_[at_] != '[') return;
        ++at_;
        span = bracketed(']');
        if (name == "[operators]") out_.blocks.push_back(span);
      } else if (name[0] == '<') {
        if (text_[at_] != '<') return;
        size_t from = at_++;
        action_list();
        span = Span{from, at_};
      } else if (!token(&span)) {
        return;
      }
      out_.words[index].arguments.push_back(span);
    }
    note(index);
  }

  // The words of an action list, up to its ">".
  void action_list() {
    for (;;) {
      skip_space();
      if (at_ >= text_.size()) return;
      if (text_[at_] == '>') {
        ++at_;
        return;
      }
      Span span;
      if (!token(&span)) {
        if (text_[at_] == '[') {
          ++at_;
          bracketed(']');
        } else if (text_[at_] == '<') {
          return;
        } else {
          ++at_;
        }
        continue;
      }
      ScannedWord word{span, text_.substr(span.from, span.to - span.from), nullptr, nullptr, {}};
      for (size_t i = 0; i < action_word_count; ++i)
        if (word.word == action_words[i].word) word.action = &action_words[i];
      size_t index = out_.words.size();
      out_.words.push_back(word);
      if (word.action) arguments(index, word.action->operands);
    }
  }

  // Registrations and bookmarks, from a word and its arguments.
  void note(size_t index) {
    const ScannedWord& word = out_.words[index];
    std::vector<std::string> names =
        argument_names(word.command ? word.command->arguments : word.action->operands);
    auto number = [&](size_t argument, int64_t* value) {
      std::string digits = word.argument_text(text_, argument);
      if (digits.empty() || digits.size() > 12) return false;
      char* end;
      *value = std::strtoll(digits.c_str(), &end, 10);
      return *end == 0;
    };
    int64_t value;
    size_t file = 0;
    while (file < names.size() && names[file] != "file") ++file;
    if (word.command && file < word.arguments.size() && number(0, &value)) {
      static const std::pair<const char*, Registration::Kind> kinds[] = {
          {"picture", Registration::picture},
          {"sound", Registration::sound},
          {"font", Registration::font}};
      for (const auto& [name, kind] : kinds)
        if (names[0] == name)
          out_.registrations.push_back(
              Registration{kind, value, word.argument_text(text_, file), index});
    }
    if (word.command && word.word == "outline" && word.arguments.size() == 2 && number(0, &value))
      out_.outlines.push_back(DocumentScan::Outline{value, word.argument_text(text_, 1), index});
  }

  const std::string& text_;
  DocumentScan& out_;
  size_t at_ = 0;
};

}  // namespace

std::string ScannedWord::argument_text(const std::string& text, size_t index) const {
  if (index >= arguments.size()) return "";
  return text.substr(arguments[index].from, arguments[index].to - arguments[index].from);
}

std::vector<std::string> argument_names(const char* syntax) {
  std::vector<std::string> names;
  for (const char* at = syntax; *at;) {
    if (*at == ' ') {
      ++at;
      continue;
    }
    const char* end = at;
    if (*at == '[' || *at == '<') {
      end = std::strchr(at, *at == '[' ? ']' : '>');
      end = end ? end + 1 : at + std::strlen(at);
    } else {
      while (*end && *end != ' ') ++end;
    }
    if (end[0] == ' ' && end[1] == '|') {  // "a | b": one argument
      while (*end && !(end[0] == ' ' && end[1] != '|' && end[-1] != '|')) ++end;
    }
    names.emplace_back(at, end);
    at = end;
  }
  return names;
}

DocumentScan scan_document(const std::string& text) {
  DocumentScan scan;
  Scanner(text, scan).run();
  return scan;
}

const ScannedWord* word_at(const DocumentScan& scan, size_t offset) {
  for (const ScannedWord& word : scan.words)
    if (word.span.from <= offset && offset <= word.span.to) return &word;
  return nullptr;
}

int argument_at(const ScannedWord& word, size_t offset) {
  for (size_t i = 0; i < word.arguments.size(); ++i)
    if (word.arguments[i].from <= offset && offset <= word.arguments[i].to) return int(i);
  return -1;
}
