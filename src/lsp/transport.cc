// Messages on standard input and output: "Content-Length: N" headers, an
// empty line and N bytes of JSON. The loop waits for input with poll(), so
// that a debounced check runs when the editor has been quiet long enough,
// on this one thread, between messages.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "lsp.h"

MessageReader::Result MessageReader::next(std::string* body) {
  size_t end = buffer_.find("\r\n\r\n", start_);
  if (end == std::string::npos) {
    // A header block never grows past a few lines; anything longer is noise.
    if (buffer_.size() - start_ > 8192) {
      start_ = buffer_.size();
      return malformed;
    }
    return need_more;
  }
  // Content-Length, its name in any case; other headers are ignored.
  int64_t length = -1;
  for (size_t line = start_; line < end;) {
    size_t line_end = buffer_.find("\r\n", line);
    if (line_end == std::string::npos || line_end > end) line_end = end;
    static const char name[] = "content-length:";
    size_t n = sizeof name - 1;
    if (line_end - line > n && strncasecmp(buffer_.c_str() + line, name, n) == 0) {
      length = 0;
      size_t at = line + n;
      while (at < line_end && buffer_[at] == ' ') ++at;
      if (at == line_end) length = -1;
      for (; at < line_end && length >= 0; ++at) {
        char c = buffer_[at];
        if (c < '0' || c > '9' || length > int64_t(max_message_bytes))
          length = -1;
        else
          length = length * 10 + (c - '0');
      }
    }
    line = line_end + 2;
  }
  if (length < 0 || length > int64_t(max_message_bytes)) {
    start_ = end + 4;
    return malformed;
  }
  if (buffer_.size() - (end + 4) < size_t(length)) return need_more;
  body->assign(buffer_, end + 4, size_t(length));
  start_ = end + 4 + size_t(length);
  // Drop what was read once it is most of the buffer, so that the buffer
  // stays the size of the largest message.
  if (start_ > buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  return message;
}

std::string frame_message(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

namespace {

LanguageServer::Clock now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool write_all(const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

int run_language_server() {
  std::signal(SIGPIPE, SIG_IGN);  // a client gone is seen as a failed write
  std::signal(SIGXFSZ, SIG_IGN);
  bool output_ok = true;
  LanguageServer server([&](const nlohmann::json& message) {
    if (output_ok)
      output_ok = write_all(
          frame_message(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
  });
  MessageReader reader;
  std::string body;
  for (;;) {
    // Every whole message waiting is handled before any check runs.
    for (MessageReader::Result result; (result = reader.next(&body)) != MessageReader::need_more;) {
      if (result == MessageReader::malformed)
        server.handle("", now_ms());  // answered as a parse error
      else
        server.handle(body, now_ms());
      if (server.exited()) return server.exit_status();
    }
    LanguageServer::Clock due = server.next_due();
    int timeout = due < 0 ? -1 : int(std::max<int64_t>(0, due - now_ms()));
    pollfd input{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&input, 1, timeout);
    if (ready < 0 && errno != EINTR) return 1;
    if (ready > 0) {
      char chunk[1 << 16];
      ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 1;  // the editor went away without "exit"
      reader.append(chunk, size_t(n));
    }
    if (server.next_due() >= 0 && server.next_due() <= now_ms()) server.run_due(now_ms());
    if (!output_ok) return 1;
  }
}
