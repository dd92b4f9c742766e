// The server's messages: the lifecycle (initialize, shutdown, exit), the
// open documents (full or incremental changes), debounced diagnostics, the
// requests of the editor features and the "export PDF" command.
//
// Every request gets an answer: a result, or a JSON-RPC error for a
// message that is no JSON (-32700), not a request (-32600), of an unknown
// method (-32601) or with parameters of the wrong shape (-32602).
// Notifications of unknown methods are ignored, as the protocol asks.
#include <algorithm>
#include <chrono>

#include "lsp.h"

using nlohmann::json;

namespace {

enum : int {
  parse_error = -32700,
  invalid_request = -32600,
  method_not_found = -32601,
  invalid_params = -32602,
  server_not_initialized = -32002,
};

const char export_command[] = "kestrin.exportPdf";

json error_response(const json& id, int code, const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

// A request that cannot be answered with a result.
struct RequestError {
  int code;
  std::string message;
};

const json& need(const json& object, const char* key) {
  if (!object.is_object() || !object.contains(key))
    throw RequestError{invalid_params, std::string("no ") + key};
  return object[key];
}

}  // namespace

void LanguageServer::handle(const std::string& body, Clock now) {
  json message = json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    send_(error_response(nullptr, parse_error, "the message is not JSON"));
    return;
  }
  json id = message.is_object() && message.contains("id") ? message["id"] : json();
  if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
    // A response to a request of ours carries no method; the server sends none.
    if (message.is_object() && (message.contains("result") || message.contains("error"))) return;
    send_(error_response(id, invalid_request, "not a JSON-RPC request or notification"));
    return;
  }
  const std::string& method = message["method"].get_ref<const std::string&>();
  json params = message.value("params", json::object());
  if (!message.contains("id")) {
    try {
      notification(method, params, now);
    } catch (const RequestError&) {  // a notification gets no answer
    } catch (const json::exception&) {
    }
    return;
  }
  if (!initialized_ && method != "initialize") {
    send_(error_response(id, server_not_initialized, "initialize first"));
    return;
  }
  if (shutdown_) {
    send_(error_response(id, invalid_request, "the server is shutting down"));
    return;
  }
  try {
    json result = answer(method, params);
    send_({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
  } catch (const RequestError& error) {
    send_(error_response(id, error.code, error.message));
  } catch (const json::exception& fault) {
    send_(error_response(id, invalid_params, fault.what()));
  }
}

Document* LanguageServer::find(const json& params) {
  const json& uri = need(need(params, "textDocument"), "uri");
  auto found = documents_.find(uri.get<std::string>());
  return found == documents_.end() ? nullptr : &found->second;
}

json LanguageServer::answer(const std::string& method, const json& params) {
  if (method == "initialize") {
    initialized_ = true;
    const json& capabilities = params.value("capabilities", json::object());
    for (const json& encoding :
         capabilities.value("general", json::object()).value("positionEncodings", json::array()))
      if (encoding == "utf-8") utf8_positions_ = true;
    const json& item = capabilities.value("textDocument", json::object())
                           .value("completion", json::object())
                           .value("completionItem", json::object());
    snippets_ = item.value("snippetSupport", false);
    const json& options = params.value("initializationOptions", json::object());
    if (options.is_object() && options.value("debounce", json()).is_number_integer())
      debounce_ = std::clamp<Clock>(options["debounce"].get<Clock>(), 0, 10000);
    return {{"capabilities",
             {{"positionEncoding", utf8_positions_ ? "utf-8" : "utf-16"},
              {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", true}}},
              {"hoverProvider", true},
              {"completionProvider", {{"triggerCharacters", {"<", "/", "+"}}}},
              {"definitionProvider", true},
              {"documentSymbolProvider", true},
              {"executeCommandProvider", {{"commands", {export_command}}}}}},
            {"serverInfo", {{"name", "kestrin"}, {"version", KESTRIN_VERSION}}}};
  }
  if (method == "shutdown") {
    shutdown_ = true;
    return nullptr;
  }
  if (method == "workspace/executeCommand") {
    if (need(params, "command") != export_command || !exports_)
      throw RequestError{invalid_params, "unknown command"};
    const json& arguments = need(params, "arguments");
    if (!arguments.is_array() || arguments.empty())
      throw RequestError{invalid_params, "no document"};
    auto found = documents_.find(arguments[0].get<std::string>());
    if (found == documents_.end()) throw RequestError{invalid_params, "the document is not open"};
    std::string output = arguments.size() > 1 && arguments[1].is_string() ? arguments[1] : "";
    bool compress =
        arguments.size() > 2 && arguments[2].is_object() && arguments[2].value("compress", false);
    if (found->second.path.empty() && output.empty())
      throw RequestError{invalid_params, "an unsaved document needs an output"};
    return export_document(found->second, output, compress);
  }
  static const char* const document_requests[] = {"textDocument/hover", "textDocument/completion",
                                                  "textDocument/definition",
                                                  "textDocument/documentSymbol"};
  if (std::find(std::begin(document_requests), std::end(document_requests), method) ==
      std::end(document_requests))
    throw RequestError{method_not_found, "unknown method " + method};
  Document* doc = find(params);
  if (!doc) return nullptr;
  auto scanned = scans_.find(doc->uri);  // kept until the text changes
  if (scanned == scans_.end()) scanned = scans_.emplace(doc->uri, scan_document(doc->text)).first;
  const DocumentScan& scan = scanned->second;
  if (method == "textDocument/documentSymbol") return document_symbols(*doc, scan, utf8_positions_);
  const json& position = need(params, "position");
  size_t offset = doc->offset_of(need(position, "line").get<int64_t>(),
                                 need(position, "character").get<int64_t>(), utf8_positions_);
  if (method == "textDocument/hover") return hover_at(*doc, scan, offset, utf8_positions_);
  if (method == "textDocument/completion")
    return completion_at(*doc, scan, offset, utf8_positions_, snippets_);
  return definition_at(*doc, scan, offset, utf8_positions_);
}

void LanguageServer::notification(const std::string& method, const json& params, Clock now) {
  if (method == "exit") {
    exited_ = true;
  } else if (method == "textDocument/didOpen") {
    const json& item = need(params, "textDocument");
    Document doc;
    doc.uri = need(item, "uri").get<std::string>();
    doc.path = path_of_uri(doc.uri);
    doc.version = item.value("version", int64_t{0});
    doc.text = need(item, "text").get<std::string>();
    doc.reindex();
    scans_.erase(doc.uri);
    documents_[doc.uri] = std::move(doc);
    due_[item["uri"]] = now;
  } else if (method == "textDocument/didChange") {
    Document* doc = find(params);
    if (!doc) return;
    for (const json& change : need(params, "contentChanges"))
      doc->apply_change(change, utf8_positions_);
    doc->version = params["textDocument"].value("version", doc->version + 1);
    scans_.erase(doc->uri);
    due_[doc->uri] = now + std::min(debounce_, 2 * doc->check_ms);
  } else if (method == "textDocument/didSave") {
    if (Document* doc = find(params)) due_[doc->uri] = now;
  } else if (method == "textDocument/didClose") {
    Document* doc = find(params);
    if (!doc) return;
    send_({{"jsonrpc", "2.0"},
           {"method", "textDocument/publishDiagnostics"},
           {"params", {{"uri", doc->uri}, {"diagnostics", json::array()}}}});
    due_.erase(doc->uri);
    scans_.erase(doc->uri);
    documents_.erase(doc->uri);
  }
}

LanguageServer::Clock LanguageServer::next_due() const {
  Clock earliest = -1;
  for (const auto& [uri, due] : due_)
    if (earliest < 0 || due < earliest) earliest = due;
  return earliest;
}

void LanguageServer::run_due(Clock now) {
  for (auto at = due_.begin(); at != due_.end();) {
    if (at->second > now) {
      ++at;
      continue;
    }
    auto doc = documents_.find(at->first);
    at = due_.erase(at);
    if (doc != documents_.end()) publish(doc->second);
  }
}

void LanguageServer::publish(Document& doc) {
  auto start = std::chrono::steady_clock::now();
  json diagnostics = check_document(doc, utf8_positions_);
  doc.check_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  send_({{"jsonrpc", "2.0"},
         {"method", "textDocument/publishDiagnostics"},
         {"params",
          {{"uri", doc.uri},
           {"version", doc.version},
           {"diagnostics", diagnostics}}}});
}
