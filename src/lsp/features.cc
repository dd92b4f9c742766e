// Hover, completion, go to definition and document symbols, from the scan
// of a document and the tables of command words, action words, PDF
// operators and standard fonts.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>

#include "lsp.h"
#include "page.h"
#include "pdf.h"

using nlohmann::json;

namespace {

// LSP kinds used here.
enum : int {
  kind_function = 3,
  kind_field = 5,
  kind_value = 12,
  kind_keyword = 14,
  kind_file = 17,
  kind_folder = 19,
  kind_operator = 24
};
enum : int { symbol_string = 15 };

std::string command_markdown(const char* word, const char* syntax, const char* summary,
                             const char* details) {
  std::string text = std::string("**") + word + "**";
  if (*syntax) text += std::string(" *") + syntax + "*";
  text += std::string("\n\n") + summary;
  if (details && *details) text += std::string("\n\n") + details;
  return text;
}

json markdown(const std::string& text) { return {{"kind", "markdown"}, {"value", text}}; }

std::vector<std::string> names_of(const ScannedWord& word) {
  return argument_names(word.command ? word.command->arguments : word.action->operands);
}

// Whether the word registers what it names (it has a file argument).
bool registers(const ScannedWord& word) {
  std::vector<std::string> names = names_of(word);
  return std::find(names.begin(), names.end(), "file") != names.end();
}

// The kind a number argument refers to, if any: the picture of pict and
// pict+, the sound of the sound action.
bool refers_to(const ScannedWord& word, int argument, Registration::Kind* kind) {
  if (argument < 0 || registers(word)) return false;
  std::string name = names_of(word)[size_t(argument)];
  if (word.command && name == "picture")
    *kind = Registration::picture;
  else if (word.action && word.word == "sound" && name == "number")
    *kind = Registration::sound;
  else
    return false;
  return true;
}

// The registration a use at word index `use` means: the latest one before
// it (a number registered again replaces it for later pages), else the
// first after it.
const Registration* registration_for(const DocumentScan& scan, Registration::Kind kind,
                                     int64_t number, size_t use) {
  const Registration* found = nullptr;
  for (const Registration& r : scan.registrations) {
    if (r.kind != kind || r.number != number) continue;
    if (r.word < use || !found) found = &r;
    if (r.word > use) break;
  }
  return found;
}

size_t index_of(const DocumentScan& scan, const ScannedWord* word) {
  return size_t(word - scan.words.data());
}

// The whole command: its word to the end of its last argument.
Span command_span(const ScannedWord& word) {
  return Span{word.span.from, word.arguments.empty() ? word.span.to : word.arguments.back().to};
}

const char* kind_name(Registration::Kind kind) {
  return kind == Registration::picture ? "Picture" : kind == Registration::sound ? "Sound" : "Font";
}

// An operator or a font name in a block at `offset`.
struct BlockHit {
  size_t offset;
  std::string text;
  bool found = false, name = false;
  Span span{0, 0};
};

void visit_operator(const ContentOperator& op, void* context) {
  BlockHit& hit = *static_cast<BlockHit*>(context);
  const unsigned char* base = reinterpret_cast<const unsigned char*>(hit.text.data());
  if (hit.found) return;
  size_t from = size_t(op.text - base);
  if (from <= hit.offset && hit.offset <= from + op.length) {
    hit.found = true;
    hit.span = Span{from, from + op.length};
    return;
  }
  for (int i = 0; i < op.operand_count; ++i) {
    const ContentOperand& operand = op.operands[i];
    if (operand.kind != ContentOperand::name) continue;
    size_t at = size_t(operand.text - base);
    if (at - 1 <= hit.offset && hit.offset <= at + operand.length) {
      hit.found = hit.name = true;
      hit.span = Span{at - 1, at + operand.length};
    }
  }
}

const Span* block_at(const DocumentScan& scan, size_t offset) {
  for (const Span& block : scan.blocks)
    if (block.from <= offset && offset <= block.to) return &block;
  return nullptr;
}

// The font a name such as "F6" stands for.
std::string font_description(const DocumentScan& scan, const std::string& name, size_t offset) {
  if (name.size() < 2 || name[0] != 'F') return "";
  char* end;
  long number = std::strtol(name.c_str() + 1, &end, 10);
  if (*end || number < 1 || number > 99) return "";
  if (const char* standard = standard_font_name(int(number))) return standard;
  const Registration* r = nullptr;
  for (const Registration& candidate : scan.registrations)
    if (candidate.kind == Registration::font && candidate.number == number &&
        scan.words[candidate.word].span.from < offset)
      r = &candidate;
  return r ? r->file : "";
}

json block_hover(const Document& doc, const DocumentScan& scan, const Span& block, size_t offset,
                 bool utf8_positions) {
  BlockHit hit{offset - block.from, doc.text.substr(block.from, block.to - block.from)};
  lex_content_operators(reinterpret_cast<const unsigned char*>(hit.text.data()), hit.text.size(),
                        visit_operator, &hit);
  if (!hit.found) return nullptr;
  std::string word = hit.text.substr(hit.span.from, hit.span.to - hit.span.from), text;
  if (hit.name) {
    std::string font = font_description(scan, word.substr(1), offset);
    if (font.empty()) return nullptr;
    text = "**" + word + "**: " + font;
  } else {
    const char* description =
        pdf_operator_description(reinterpret_cast<const unsigned char*>(word.data()), word.size());
    text = description ? "`" + std::string(description, std::strstr(description, " : ")) + "`\n\n" +
                             (std::strstr(description, " : ") + 3)
                       : "**" + word + "** is not an operator PDF defines";
  }
  return {{"contents", markdown(text)},
          {"range",
           doc.range_of(block.from + hit.span.from, block.from + hit.span.to, utf8_positions)}};
}

// --- Completion ---------------------------------------------------------------

std::string snippet_of(const char* word, const char* syntax) {
  std::string text = word;
  int n = 0;
  for (const std::string& name : argument_names(syntax)) {
    std::string field = std::to_string(++n);
    text += ' ';
    if (name.find(" | ") != std::string::npos) {
      std::string choices = name;
      for (size_t at; (at = choices.find(" | ")) != std::string::npos;) choices.replace(at, 3, ",");
      text += "${" + field + "|" + choices + "|}";
    } else if (name[0] == '[' || name[0] == '<') {
      text += name[0] + ("${" + field + ":" + name.substr(1, name.size() - 2) + "}") + name.back();
    } else {
      text += "${" + field + ":" + name + "}";
    }
  }
  return text;
}

json item(const std::string& label, int kind, const std::string& detail, const json& edit_range,
          const std::string& insert) {
  json result = {{"label", label},
                 {"kind", kind},
                 {"detail", detail},
                 {"textEdit", {{"range", edit_range}, {"newText", insert}}}};
  return result;
}

// File extensions each picture command reads (any file for the others).
const char* extensions_for(const std::string& command) {
  if (command == "image") return ".jpg.jpeg.png.gif.";
  if (command == "jpg" || command == "jpg+") return ".jpg.jpeg.";
  if (command == "gif") return ".gif.";
  return nullptr;
}

bool has_extension(const std::string& name, const char* extensions) {
  size_t dot = name.rfind('.');
  if (!extensions) return true;
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return std::strstr(extensions, (ext + ".").c_str()) != nullptr;
}

void complete_files(const Document& doc, const std::string& typed, const std::string& command,
                    size_t from, size_t offset, bool utf8_positions, json& items) {
  size_t slash = typed.rfind('/');
  std::string folder_part = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  std::string base;
  if (!folder_part.empty() && folder_part[0] == '/') {
    base = folder_part;
  } else {
    size_t doc_slash = doc.path.rfind('/');
    base =
        (doc_slash == std::string::npos ? "." : doc.path.substr(0, doc_slash)) + "/" + folder_part;
  }
  DIR* dir = opendir(base.c_str());
  if (!dir) return;
  json range = doc.range_of(from, offset, utf8_positions);
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name[0] == '.' || ++count > 1000) continue;
    struct stat info;
    bool folder = stat((base + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (!folder && !has_extension(name, extensions_for(command))) continue;
    items.push_back(item(name + (folder ? "/" : ""), folder ? kind_folder : kind_file, "", range,
                         folder_part + name + (folder ? "/" : "")));
  }
  closedir(dir);
}

void complete_fonts(const Document& doc, const DocumentScan& scan, size_t from, size_t offset,
                    bool utf8_positions, json& items) {
  json range = doc.range_of(from, offset, utf8_positions);
  for (int font = 1; font <= 99; ++font) {
    std::string name = "F" + std::to_string(font);
    std::string description = font_description(scan, name, offset);
    if (description.empty()) continue;
    json entry = item("/" + name, kind_value, description, range, "/" + name);
    entry["sortText"] = std::string(font < 10 ? "0" : "") + std::to_string(font);
    items.push_back(entry);
  }
}

void complete_operators(const Document& doc, size_t from, size_t offset, bool utf8_positions,
                        json& items) {
  json range = doc.range_of(from, offset, utf8_positions);
  static const char* const common[] = {"Tf", "Td", "TD", "TL", "T*", "Tj", "TJ", "Tm", "Tr",
                                       "Tc", "Tw", "Tz", "Ts", "rg", "RG", "g",  "G",  "k",
                                       "K",  "w",  "m",  "l",  "c",  "re", "h",  "f",  "S",
                                       "B",  "n",  "q",  "Q",  "cm", "Do", "d",  "J",  "j"};
  for (const char* name : common) {
    const char* description =
        pdf_operator_description(reinterpret_cast<const unsigned char*>(name), std::strlen(name));
    if (description) items.push_back(item(name, kind_operator, description, range, name));
  }
}

void complete_words(const Document& doc, bool actions, size_t from, size_t offset,
                    bool utf8_positions, bool snippets, json& items) {
  json range = doc.range_of(from, offset, utf8_positions);
  auto add = [&](const char* word, const char* syntax, const char* summary, const char* details,
                 int kind) {
    json entry = item(word, kind, syntax, range, snippets ? snippet_of(word, syntax) : word);
    if (snippets) entry["insertTextFormat"] = 2;
    entry["documentation"] = markdown(command_markdown(word, syntax, summary, details));
    items.push_back(entry);
  };
  if (actions) {
    for (size_t i = 0; i < action_word_count; ++i)
      add(action_words[i].word, action_words[i].operands, action_words[i].summary, nullptr,
          kind_function);
  } else {
    for (size_t i = 0; i < command_word_count; ++i)
      add(command_words[i].word, command_words[i].arguments, command_words[i].summary,
          command_words[i].details, kind_keyword);
  }
}

void complete_numbers(const Document& doc, const DocumentScan& scan, Registration::Kind kind,
                      size_t from, size_t offset, bool utf8_positions, json& items) {
  json range = doc.range_of(from, offset, utf8_positions);
  std::set<int64_t> seen;
  for (const Registration& r : scan.registrations) {
    if (r.kind != kind || !seen.insert(r.number).second) continue;
    std::string number = std::to_string(r.number);
    items.push_back(item(number, kind_value,
                         std::string(kind_name(kind)) + " " + number + ": " + r.file + " (" +
                             scan.words[r.word].word + ")",
                         range, number));
  }
}

}  // namespace

json hover_at(const Document& doc, const DocumentScan& scan, size_t offset, bool utf8_positions) {
  if (const ScannedWord* word = word_at(scan, offset)) {
    std::string text;
    if (word->command)
      text = command_markdown(word->word.c_str(), word->command->arguments, word->command->summary,
                              word->command->details);
    else if (word->action)
      text = command_markdown(word->word.c_str(), word->action->operands, word->action->summary,
                              "An action, in an action list.");
    if (!text.empty())
      return {{"contents", markdown(text)},
              {"range", doc.range_of(word->span.from, word->span.to, utf8_positions)}};
  }
  if (const Span* block = block_at(scan, offset))
    return block_hover(doc, scan, *block, offset, utf8_positions);
  // An argument: of the innermost word that holds it (an action's operand
  // lies inside its action command's list too).
  const ScannedWord* word = nullptr;
  int argument = -1;
  for (const ScannedWord& candidate : scan.words) {
    if (candidate.span.from > offset) break;
    int found = candidate.command || candidate.action ? argument_at(candidate, offset) : -1;
    if (found >= 0) word = &candidate, argument = found;
  }
  if (!word) return nullptr;
  const Span& span = word->arguments[size_t(argument)];
  std::string name = names_of(*word)[size_t(argument)];
  std::string text = "*" + name + "* of **" + word->word + "**";
  int64_t number =
      std::strtoll(word->argument_text(doc.text, size_t(argument)).c_str(), nullptr, 10);
  Registration::Kind kind;
  if (refers_to(*word, argument, &kind)) {
    const Registration* r = registration_for(scan, kind, number, index_of(scan, word));
    text = std::string("**") + kind_name(kind) + " " + std::to_string(number) + "**: ";
    if (r) {
      int64_t line = doc.position_of(scan.words[r->word].span.from, true)["line"];
      text += "`" + r->file + "`, registered by " + scan.words[r->word].word + " on line " +
              std::to_string(line + 1);
    } else {
      text += "not registered in this document";
    }
  } else if (argument == 0 && registers(*word)) {
    for (const Registration& r : scan.registrations)
      if (r.word == index_of(scan, word))
        text = std::string("**") + kind_name(r.kind) + " " + std::to_string(r.number) + "**: `" +
               r.file + "`";
  }
  return {{"contents", markdown(text)},
          {"range", doc.range_of(span.from, span.to, utf8_positions)}};
}

json completion_at(const Document& doc, const DocumentScan& scan, size_t offset,
                   bool utf8_positions, bool snippets) {
  json items = json::array();
  const std::string& text = doc.text;
  // The part of a word typed before the cursor.
  size_t from = offset;
  while (from > 0 && !std::strchr(" \t\r\n\f[]{}<>*", text[from - 1])) --from;
  std::string typed = text.substr(from, offset - from);

  const Span* group = nullptr;
  for (const Span& candidate : scan.groups)
    if (candidate.from < offset && (offset < candidate.to || candidate.to == text.size()))
      group = &candidate;
  const Span* block = block_at(scan, offset);
  if (block && (!group || group->from < block->from)) {
    size_t slash = typed.rfind('/');
    if (slash != std::string::npos)
      complete_fonts(doc, scan, from + slash, offset, utf8_positions, items);
    else
      complete_operators(doc, from, offset, utf8_positions, items);
  } else if (group) {
    // The last word of the group before the cursor, and what comes next.
    const ScannedWord* last = nullptr;
    bool in_actions = false;  // inside the action list of an action command
    for (const ScannedWord& word : scan.words) {
      if (word.span.from >= offset) break;
      if (word.span.from <= group->from) continue;
      last = &word;
      if (word.command)
        in_actions = word.word == "action" && word.arguments.size() == 6 &&
                     word.arguments[5].from < offset &&
                     (offset < word.arguments[5].to || text[word.arguments[5].to - 1] != '>');
    }
    int argument = -1;
    if (last && offset > last->span.to && (last->command || last->action)) {
      size_t count = names_of(*last).size();
      argument = argument_at(*last, offset);
      if (argument < 0 && last->arguments.size() < count) argument = int(last->arguments.size());
      if (argument >= 0 && names_of(*last)[size_t(argument)] == "<actions>") {
        in_actions = true;
        argument = -1;
      }
    }
    if (argument < 0) {
      complete_words(doc, in_actions, from, offset, utf8_positions, snippets, items);
    } else {
      std::string name = names_of(*last)[size_t(argument)];
      Registration::Kind kind;
      if (name == "file")
        complete_files(doc, typed, last->word, from, offset, utf8_positions, items);
      else if (refers_to(*last, argument, &kind))
        complete_numbers(doc, scan, kind, from, offset, utf8_positions, items);
      else if (name.find(" | ") != std::string::npos)
        for (const std::string& choice :
             {name.substr(0, name.find(" | ")), name.substr(name.find(" | ") + 3)})
          items.push_back(
              item(choice, kind_value, "", doc.range_of(from, offset, utf8_positions), choice));
    }
  }
  return {{"isIncomplete", false}, {"items", items}};
}

json definition_at(const Document& doc, const DocumentScan& scan, size_t offset,
                   bool utf8_positions) {
  for (const ScannedWord& word : scan.words) {
    if (!word.command && !word.action) continue;
    int argument = argument_at(word, offset);
    Registration::Kind kind;
    if (!refers_to(word, argument, &kind)) continue;
    int64_t number =
        std::strtoll(word.argument_text(doc.text, size_t(argument)).c_str(), nullptr, 10);
    const Registration* r = registration_for(scan, kind, number, index_of(scan, &word));
    if (!r) return nullptr;
    Span span = command_span(scan.words[r->word]);
    return {{"uri", doc.uri}, {"range", doc.range_of(span.from, span.to, utf8_positions)}};
  }
  return nullptr;
}

json document_symbols(const Document& doc, const DocumentScan& scan, bool utf8_positions) {
  json roots = json::array();
  // The open entries by level: a bookmark becomes a child of the nearest
  // open one of a lower level.
  std::vector<std::pair<int64_t, json*>> open;
  for (const DocumentScan::Outline& outline : scan.outlines) {
    const ScannedWord& word = scan.words[outline.word];
    Span span = command_span(word);
    json symbol = {{"name", outline.title.empty() ? "(untitled)" : outline.title},
                   {"detail", "level " + std::to_string(outline.level)},
                   {"kind", symbol_string},
                   {"range", doc.range_of(span.from, span.to, utf8_positions)},
                   {"selectionRange",
                    doc.range_of(word.arguments[1].from, word.arguments[1].to, utf8_positions)},
                   {"children", json::array()}};
    while (!open.empty() && open.back().first >= outline.level) open.pop_back();
    json& siblings = open.empty() ? roots : (*open.back().second)["children"];
    siblings.push_back(symbol);
    open.emplace_back(outline.level, &siblings.back());
  }
  return roots;
}
