// Watch mode: convert, then convert again whenever the input or a picture
// or sound file the last run opened changes; one status line per run on
// standard error. A failed run keeps the last good PDF (the output is only
// ever replaced by rename). Ctrl-C ends the program as it ends a single run:
// a run in progress removes its temporary file.
//
// On Linux the folders of those files are watched with inotify (editors
// often save by writing a new file and renaming it over the old one, which
// a watch on the file itself would lose); elsewhere, and for a folder that
// cannot be watched, the files are compared every half second. A burst of
// events (one save is often several) gives one run.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#endif

#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "options.h"

namespace {

constexpr int poll_interval_ms = 500;  // without inotify
constexpr int settle_ms = 10;          // quiet that ends a save's burst of events

// What identifies a file's content for polling: its inode, size and time.
struct Signature {
  bool present;
  uint64_t inode;
  int64_t size, modified_ns;
  bool operator!=(const Signature& other) const {
    return present != other.present || inode != other.inode || size != other.size ||
           modified_ns != other.modified_ns;
  }
};

Signature signature_of(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return Signature{false, 0, 0, 0};
  return Signature{true, uint64_t(info.st_ino), int64_t(info.st_size),
                   int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::pair<std::string, std::string> split_path(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// "12:04:31 out.pdf: 3 pages in 12 ms", or the stop of a failed run.
void report_build(const CommandLine& line, const std::string& console, int status,
                  int64_t milliseconds) {
  char clock[16];
  std::time_t now = std::time(nullptr);
  struct tm local;
  std::strftime(clock, sizeof clock, "%H:%M:%S", localtime_r(&now, &local));
  std::string text = std::string(clock) + " " + line.output + ": ";
  if (status == 0) {
    text += std::to_string(run.page_count) + (run.page_count == 1 ? " page" : " pages");
  } else {
    // The console's last line is the stop; a line before it (the unknown
    // word) goes in parentheses.
    std::string stop = console;
    while (!stop.empty() && stop.back() == '\n') stop.pop_back();
    size_t last = stop.rfind('\n');
    std::string before = last == std::string::npos ? "" : stop.substr(0, last);
    stop.erase(0, last == std::string::npos ? 0 : last + 1);
    while (!before.empty() && before.front() == '\n') before.erase(0, 1);
    text += stop + (before.empty() ? "" : " (" + before + ")");
  }
  text += " in " + std::to_string(milliseconds) + " ms";
  text += status == 0 ? "\n" : "; the last good PDF is kept\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// The files of the last run and what they were when it began.
struct Watched {
  std::vector<std::string> paths;
  std::vector<Signature> before;
};

// Waits until a watched file differs from its signature. With inotify, the
// folders are watched; a change between the run and the watch is caught by
// comparing the signatures once the watch is set.
void wait_for_change(const Watched& files) {
  auto changed = [&files] {
    for (size_t i = 0; i < files.paths.size(); ++i)
      if (signature_of(files.paths[i]) != files.before[i]) return true;
    return false;
  };
  int fd = -1;
  std::set<std::pair<std::string, std::string>> names;  // folder, name
#if defined(__linux__)
  fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  std::vector<std::string> folder_of_watch;
  for (const std::string& path : files.paths) {
    auto [folder, name] = split_path(path);
    names.emplace(folder, name);
    int wd = fd < 0 ? -1
                    : inotify_add_watch(fd, folder.c_str(),
                                        IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ATTRIB);
    if (wd < 0) {  // the folder is missing or cannot be watched: compare instead
      if (fd >= 0) close(fd);
      fd = -1;
      break;
    }
    if (size_t(wd) >= folder_of_watch.size()) folder_of_watch.resize(size_t(wd) + 1);
    folder_of_watch[size_t(wd)] = folder;
  }
#endif
  while (!changed()) {
    pollfd events{fd, POLLIN, 0};
    if (fd < 0) {
      poll(nullptr, 0, poll_interval_ms);
      continue;
    }
#if defined(__linux__)
    if (poll(&events, 1, -1) <= 0) continue;
    alignas(inotify_event) char buffer[16384];
    bool ours = false;
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        const inotify_event* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len && size_t(event->wd) < folder_of_watch.size() &&
            names.count({folder_of_watch[size_t(event->wd)], event->name}))
          ours = true;
        at += sizeof(inotify_event) + event->len;
      }
    }
    if (ours) break;
#endif
  }
  // One save is often several events (write, rename, attributes): the run
  // waits until the folders have been quiet for settle_ms (or a busy folder
  // for 20 such spells).
#if defined(__linux__)
  pollfd events{fd, POLLIN, 0};
  for (int spells = 0; fd >= 0 && spells < 20 && poll(&events, 1, settle_ms) > 0; ++spells) {
    char buffer[16384];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
  }
#endif
  if (fd >= 0) close(fd);
}

}  // namespace

int run_watch(const CommandLine& line, const RunHost& host) {
  if (!std::strcmp(line.input, "-") || !std::strcmp(line.output, "-")) {
    std::fputs("kestrin: --watch needs an input and an output file, not -\n", stderr);
    return 1;
  }
  for (;;) {
    Watched files;
    RunHost watched_host = host;
    std::string console;
    watched_host.console_capture = &console;
    watched_host.files_opened = &files.paths;
    files.paths.push_back(line.input);
    files.before.push_back(signature_of(line.input));
    int64_t start = now_ms();
    int status = convert_files(line, watched_host);
    int64_t took = now_ms() - start;
    report_build(line, console, status, took);
    // The signatures of what the run read, taken before it ended: a file
    // saved during the run differs and brings the next run at once.
    for (size_t i = 1; i < files.paths.size(); ++i)
      files.before.push_back(signature_of(files.paths[i]));
    wait_for_change(files);
  }
}
