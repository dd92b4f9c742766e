// The language server (kestrin --lsp): JSON-RPC over standard input and
// output with Content-Length framing, for documents with the language id
// kestrin. Diagnostics come from compiling the document as it stands in the
// editor (nothing written); hover, completion, symbols and definitions come
// from a tolerant scan of its text that reads command groups as the
// compiler does but never stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"

// --- Framing (src/lsp/transport.cc) -----------------------------------------

// Splits a byte stream into message bodies: headers up to an empty line,
// then Content-Length bytes.
class MessageReader {
 public:
  enum Result { message, need_more, malformed };
  void append(const char* data, size_t size) { buffer_.append(data, size); }
  // The next whole message into `body`. A header block without a usable
  // Content-Length (or one over max_message_bytes) is malformed: it is
  // dropped and the reader goes on after it.
  Result next(std::string* body);

 private:
  std::string buffer_;
  size_t start_ = 0;  // unread part of buffer_
};
constexpr size_t max_message_bytes = size_t{1} << 28;  // 256 MB: a document, with room

// "Content-Length: N\r\n\r\n" and the body.
std::string frame_message(const std::string& body);

// --- Documents (src/lsp/documents.cc) ---------------------------------------

// A text open in the editor, with line starts for position arithmetic.
struct Document {
  std::string uri;
  std::string path;  // the file it is, for file: URIs; empty otherwise
  int64_t version = 0;
  std::string text;                // UTF-8, as the editor holds it
  std::vector<size_t> line_start;  // byte offset of each line
  int64_t check_ms = 0;            // how long its last check took
  void reindex();
  // LSP positions (line, character in UTF-16 units, or bytes when utf8_positions)
  // and byte offsets, clamped to the text.
  size_t offset_of(int64_t line, int64_t character, bool utf8_positions) const;
  nlohmann::json position_of(size_t offset, bool utf8_positions) const;
  nlohmann::json range_of(size_t from, size_t to, bool utf8_positions) const;
  // Applies one contentChanges entry (a range edit, or the whole text).
  void apply_change(const nlohmann::json& change, bool utf8_positions);
};

// file:///a%20b/c.kst -> /a b/c.kst; empty for other schemes.
std::string path_of_uri(const std::string& uri);
std::string uri_of_path(const std::string& path);

// --- The scan (src/lsp/scan.cc) ---------------------------------------------

struct Span {
  size_t from, to;  // byte offsets, to exclusive
};

// A command or action word in a group, with the spans of the arguments read
// for it (by its row's argument syntax).
struct ScannedWord {
  Span span;
  std::string word;
  const CommandWord* command;  // null for an action word or an unknown word
  const ActionWord* action;    // null unless in an action list
  std::vector<Span> arguments;
  std::string argument_text(const std::string& text, size_t index) const;
};

// What is registered under a number: a picture, sound or font.
struct Registration {
  enum Kind { picture, sound, font } kind;
  int64_t number;
  std::string file;  // as written
  size_t word;       // index into DocumentScan::words
};

struct DocumentScan {
  std::vector<ScannedWord> words;  // in text order
  std::vector<Span> blocks;        // contents of [ ] and { } blocks and inittext
  std::vector<Span> groups;        // "<" to ">" inclusive (to = text end when unclosed)
  std::vector<Registration> registrations;
  struct Outline {
    int64_t level;
    std::string title;
    size_t word;
  };
  std::vector<Outline> outlines;
};

DocumentScan scan_document(const std::string& text);

// The word at `offset` (its span holds it, or ends there), or null.
const ScannedWord* word_at(const DocumentScan& scan, size_t offset);
// Which argument of `word` holds `offset`: its index, or -1.
int argument_at(const ScannedWord& word, size_t offset);
// The argument names of a syntax ("picture x y [title]" -> picture, x, y, [title]).
std::vector<std::string> argument_names(const char* syntax);

// --- Features (src/lsp/features.cc) -----------------------------------------

// The LSP results at `offset` of a document (null when there is nothing).
nlohmann::json hover_at(const Document& doc, const DocumentScan& scan, size_t offset,
                        bool utf8_positions);
nlohmann::json completion_at(const Document& doc, const DocumentScan& scan, size_t offset,
                             bool utf8_positions, bool snippets);
nlohmann::json definition_at(const Document& doc, const DocumentScan& scan, size_t offset,
                             bool utf8_positions);
nlohmann::json document_symbols(const Document& doc, const DocumentScan& scan, bool utf8_positions);

// --- Compiling (src/lsp/check.cc) -------------------------------------------

// The PDF a document stands for: its name with .pdf for .kst and .txt.
std::string default_pdf_path(const std::string& path);

// Compiles the document as the command line would, writing nothing (the
// output path only names the file for the same-file checks), relative
// picture and sound names read from the document's folder; returns the
// LSP diagnostics of the stop and every warning.
nlohmann::json check_document(const Document& doc, bool utf8_positions);

// Compiles the document into `output` as the command line would; returns
// {status, console, errors, output}.
nlohmann::json export_document(const Document& doc, const std::string& output, bool compress);

// --- The server (src/lsp/server.cc) -----------------------------------------

class LanguageServer {
 public:
  using Clock = int64_t;  // milliseconds, monotonic
  // `send` takes each message for the editor; without `exports` the export
  // command is refused (the fuzzer's server writes no file).
  explicit LanguageServer(std::function<void(const nlohmann::json&)> send, bool exports = true)
      : send_(send), exports_(exports) {}

  // One message body. Malformed JSON, a request that is no object, or an
  // unknown method is answered with a JSON-RPC error; nothing stops the
  // server but "exit".
  void handle(const std::string& body, Clock now);
  // The earliest time a debounced check is due, or -1 when none is.
  Clock next_due() const;
  // Runs the checks due at `now` and publishes their diagnostics.
  void run_due(Clock now);
  bool exited() const { return exited_; }
  int exit_status() const { return shutdown_ ? 0 : 1; }

 private:
  void request(const nlohmann::json& message, Clock now);
  nlohmann::json answer(const std::string& method, const nlohmann::json& params);
  void notification(const std::string& method, const nlohmann::json& params, Clock now);
  Document* find(const nlohmann::json& params);
  void publish(Document& doc);

  std::function<void(const nlohmann::json&)> send_;
  std::map<std::string, Document> documents_;
  std::map<std::string, Clock> due_;           // uri -> when its check runs
  std::map<std::string, DocumentScan> scans_;  // uri -> its scan, until the text changes
  bool utf8_positions_ = false;
  bool snippets_ = false;
  bool exports_;
  bool initialized_ = false, shutdown_ = false, exited_ = false;
  // A change is checked after a quiet spell of twice the document's last
  // check, at most debounce_: keystrokes that come faster than checks are
  // checked together, and a short document is checked at once.
  Clock debounce_ = 200;
};

// The whole server on standard input and output; returns the exit status.
int run_language_server();
