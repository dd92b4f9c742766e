// Open documents: their text, edits to it, and the arithmetic between byte
// offsets and LSP positions. A position's character counts UTF-16 code
// units unless the client chose UTF-8 (then bytes); a line or character
// past the end is clamped, as the protocol asks.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "lsp.h"

using nlohmann::json;

void Document::reindex() {
  line_start.assign(1, 0);
  for (const char* at = text.data();
       (at = static_cast<const char*>(std::memchr(at, '\n', text.data() + text.size() - at)));)
    line_start.push_back(size_t(++at - text.data()));
}

size_t Document::offset_of(int64_t line, int64_t character, bool utf8_positions) const {
  if (line < 0) return 0;
  if (size_t(line) >= line_start.size()) return text.size();
  size_t at = line_start[size_t(line)];
  size_t end =
      size_t(line) + 1 < line_start.size() ? line_start[size_t(line) + 1] - 1 : text.size();
  if (end > at && text[end - 1] == '\r') --end;
  for (int64_t units = 0; at < end && units < character;) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    units += utf8_positions ? length : length == 4 ? 2 : 1;
    at = std::min(end, at + size_t(length));
  }
  return at;
}

json Document::position_of(size_t offset, bool utf8_positions) const {
  offset = std::min(offset, text.size());
  size_t line =
      size_t(std::upper_bound(line_start.begin(), line_start.end(), offset) - line_start.begin()) -
      1;
  int64_t character = 0;
  for (size_t at = line_start[line]; at < offset; ++at) {
    unsigned char byte = static_cast<unsigned char>(text[at]);
    if (utf8_positions)
      ++character;
    else if ((byte & 0xC0) != 0x80)
      character += byte >= 0xF0 ? 2 : 1;
  }
  return {{"line", line}, {"character", character}};
}

json Document::range_of(size_t from, size_t to, bool utf8_positions) const {
  return {{"start", position_of(from, utf8_positions)}, {"end", position_of(to, utf8_positions)}};
}

void Document::apply_change(const json& change, bool utf8_positions) {
  const json* new_text = change.is_object() && change.contains("text") ? &change["text"] : nullptr;
  if (!new_text || !new_text->is_string()) return;
  const std::string& replacement = new_text->get_ref<const std::string&>();
  if (!change.contains("range")) {
    text = replacement;
  } else {
    const json& range = change["range"];
    auto offset = [&](const char* end) {
      const json& at = range.value(end, json::object());
      return offset_of(at.value("line", int64_t{0}), at.value("character", int64_t{0}),
                       utf8_positions);
    };
    size_t from = offset("start"), to = offset("end");
    if (to < from) std::swap(from, to);
    text.replace(from, to - from, replacement);
  }
  reindex();
}

std::string path_of_uri(const std::string& uri) {
  if (uri.compare(0, 7, "file://") != 0) return "";
  std::string path;
  size_t at = uri.find('/', 7);  // past any host name
  if (at == std::string::npos) return "";
  for (; at < uri.size(); ++at) {
    int high, low;
    auto hex = [](char c) {
      return c >= '0' && c <= '9'   ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : -1;
    };
    if (uri[at] == '%' && at + 2 < uri.size() && (high = hex(uri[at + 1])) >= 0 &&
        (low = hex(uri[at + 2])) >= 0) {
      path += char(high * 16 + low);
      at += 2;
    } else if (uri[at] == '?' || uri[at] == '#') {
      break;
    } else {
      path += uri[at];
    }
  }
  return path.find('\0') == std::string::npos ? path : "";
}

std::string uri_of_path(const std::string& path) {
  std::string uri = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c)) {
      uri += char(c);
    } else {
      uri += '%';
      uri += "0123456789ABCDEF"[c >> 4];
      uri += "0123456789ABCDEF"[c & 15];
    }
  }
  return uri;
}
