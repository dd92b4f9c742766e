// The table of command words against the documentation: the man page's
// COMMANDS section and the README's command tables list exactly its words,
// each with the arguments the table gives, and the README's table of
// actions lists the action words with their operands.
#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>

#include "commands.h"
#include "test_support.h"

namespace {

const std::string root = KESTRIN_SOURCE_DIR;

std::string without(std::string text, const std::string& characters) {
  for (size_t at; (at = text.find_first_of(characters)) != std::string::npos;) text.erase(at, 1);
  return text;
}

std::string trimmed(const std::string& text) {
  size_t from = text.find_first_not_of(' '), to = text.find_last_not_of(' ');
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

// The first two cells of the README's table rows whose first cell is a
// `word`, by the first cell of their table's header ("Command", "Action"),
// between the heading `from` and the next "## " heading. "\|" in a cell is
// a "|" of the text.
std::map<std::string, std::map<std::string, std::string>> readme_tables(const std::string& from) {
  std::map<std::string, std::map<std::string, std::string>> tables;
  std::istringstream in(read_file(root + "/README.md"));
  bool inside = false;
  std::string header;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("## ", 0) == 0) inside = line == from;
    if (!inside || line.rfind("| ", 0) != 0) continue;
    for (size_t at; (at = line.find("\\|")) != std::string::npos;) line.replace(at, 2, "\x01");
    size_t second = line.find('|', 1), third = line.find('|', second + 1);
    std::string first = trimmed(line.substr(1, second - 1));
    if (first[0] != '`') {
      if (first != "---") header = first;
      continue;
    }
    std::string arguments = trimmed(without(line.substr(second + 1, third - second - 1), "`"));
    std::replace(arguments.begin(), arguments.end(), '\x01', '|');
    std::istringstream list(without(first, "`,"));
    for (std::string word; list >> word;) tables[header][word] = arguments;
  }
  return tables;
}

}  // namespace

TEST(CommandWords, ReadmeListsEveryWordWithItsArguments) {
  std::map<std::string, std::string> commands, actions;
  for (size_t i = 0; i < command_word_count; ++i)
    commands[command_words[i].word] = command_words[i].arguments;
  for (size_t i = 0; i < action_word_count; ++i)
    actions[action_words[i].word] = action_words[i].operands;
  auto tables = readme_tables("## Commands");
  EXPECT_EQ(tables["Command"], commands);
  EXPECT_EQ(tables["Action"], actions);
}

TEST(CommandWords, ManPageListsEveryWordWithItsArguments) {
  if (run_shell("command -v groff", nullptr) != 0) GTEST_SKIP() << "groff not installed";
  std::string page;
  ASSERT_EQ(run_shell("groff -man -Tascii -P-cbu -rLL=250n '" + root + "/kestrin.1'", &page), 0);
  // The tags of the COMMANDS section: lines indented by seven blanks.
  size_t from = page.find("\nCOMMANDS\n"), to = page.find("\n\n       Fonts", from);
  ASSERT_NE(from, std::string::npos);
  std::map<std::string, std::string> listed;
  std::istringstream in(page.substr(from, to - from));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("       ", 0) != 0 || line[7] == ' ') continue;
    line = line.substr(7);
    size_t blank = line.find(' ');
    std::string word = line.substr(0, blank);
    const CommandWord* command = find_command_word(word.c_str());
    if (!command) continue;
    // A tag narrower than the indent has its description on the same line.
    std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    size_t length = std::strlen(command->arguments);
    bool tag_then_text = rest.compare(0, length, command->arguments) == 0 &&
                         (rest.size() == length || rest[length] == ' ');
    listed[word] = tag_then_text ? command->arguments : rest;
  }
  std::map<std::string, std::string> expected;
  for (size_t i = 0; i < command_word_count; ++i)
    expected[command_words[i].word] = command_words[i].arguments;
  EXPECT_EQ(listed, expected);
}

// The highlighting knows every command word: the TextMate grammar's
// alternation of command words and the Vim syntax's keywords (words ending
// in "+" by their match).
TEST(CommandWords, HighlightingKnowsEveryWord) {
  std::string grammar = read_file(root + "/editors/textmate/kestrin.tmLanguage.json");
  size_t name = grammar.find("keyword.control.command.kestrin");
  const std::string lead = "(?<![^\\\\s<>])";  // a word starts after a blank or bracket
  size_t from = grammar.find(lead + "(", name), to = grammar.find(")(?!", from);
  ASSERT_NE(to, std::string::npos);
  std::string alternation = grammar.substr(from + lead.size(), to + 1 - from - lead.size());
  for (size_t at; (at = alternation.find("\\\\")) != std::string::npos;) alternation.erase(at, 1);
  std::regex command_words_pattern("^" + alternation + "$");
  std::string vim = read_file(root + "/editors/vim/syntax/kestrin.vim");
  std::string keywords = vim.substr(vim.find("syntax keyword kestrinCommand contained"));
  keywords = " " + keywords.substr(0, keywords.find('\n')) + " ";
  std::string plus_words = vim.substr(vim.find("syntax match kestrinCommand contained"));
  plus_words = plus_words.substr(0, plus_words.find('\n'));
  for (size_t i = 0; i < command_word_count; ++i) {
    std::string word = command_words[i].word;
    EXPECT_TRUE(std::regex_match(word, command_words_pattern)) << word << " in " << alternation;
    if (word.back() == '+')
      EXPECT_NE(plus_words.find(word.substr(0, word.size() - 1)), std::string::npos) << word;
    else
      EXPECT_NE(keywords.find(" " + word + " "), std::string::npos) << word;
  }
}
