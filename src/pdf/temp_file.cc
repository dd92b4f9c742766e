// Temporary files of the output: made beside it (or in $TMPDIR), locked by
// the run that writes them, and never left behind by a stop, a signal or a
// killed process.
//
// On Linux the file is made without a name (O_TMPFILE) and is linked as
// `.NAME.XXXXXX` only at the successful end, just before it is renamed over
// the output: even SIGKILL then leaves nothing, but in that instant. Where
// the system or the file system cannot, mkstemp makes it with that name from
// the start, and the signal handler below removes it.
//
// A writer holds an exclusive flock on its file from before its first byte
// until after the rename. A later run writing the same output removes a file
// of that name pattern only when all of these hold: a regular file of this
// user with one link, no process holds its lock, it begins as every PDF
// kestrin writes begins (or is empty), and it has not changed for a few
// seconds (a writer takes its lock right after making the file). A file of
// another program, say an rsync in progress, fails one of them.
#include "temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "pdf.h"

namespace {

constexpr size_t name_max = 255;  // bytes of a file name
constexpr size_t random_length = 6;
constexpr int quiet_seconds = 2;  // a stale file has not changed for so long

const char name_letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// The start of a temporary file's name: "." BASE ".", with BASE cut at a
// character boundary where the whole would not fit a file name.
std::string temp_prefix(const std::string& base) {
  size_t keep = base.size(), room = name_max - 2 - random_length;
  if (keep > room) {
    keep = room;
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  }
  return "." + base.substr(0, keep) + ".";
}

// Six letters or digits, different on every call and in every process.
std::string random_letters() {
  static uint64_t state = 0;
  if (state == 0) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    state = (static_cast<uint64_t>(now.tv_nsec) << 24) ^ static_cast<uint64_t>(now.tv_sec) ^
            (static_cast<uint64_t>(getpid()) << 44) ^ reinterpret_cast<uintptr_t>(&state);
    state |= 1;
  }
  std::string letters;
  for (size_t i = 0; i < random_length; ++i) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    letters += name_letters[state % (sizeof name_letters - 1)];
  }
  return letters;
}

void lock(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

// Puts a name into run.output_file.temp_path; false if it is too long.
bool set_temp_path(const std::string& path) {
  char* temp_path = run.output_file.temp_path;
  if (path.size() >= sizeof run.output_file.temp_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(temp_path, path.c_str(), path.size() + 1);
  return true;
}

std::string folder_prefix(const std::string& folder) {
  return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

// The signals whose default action ends the process.
const int ending_signals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

template <typename Body>
void for_each_ending_signal(Body body) {
  for (int number : ending_signals) body(number);
#ifdef SIGRTMIN
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) body(number);
#endif
}

void remove_temp_file_and_reraise(int signal_number) {
  if (run.output_file.temp_path[0]) unlink(run.output_file.temp_path);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// The first bytes of every PDF as the file holds them (CR LF line ends).
const std::string& written_header() {
  static std::string header;
  if (header.empty())
    for (const char* c = file_header; *c; ++c) header += *c == '\n' ? "\r\n" : std::string(1, *c);
  return header;
}

// Whether the file at `path` (in `info`) was left by a writer that is gone;
// see the file comment.
bool is_stale(const std::string& path, const struct stat& info) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1 ||
      now.tv_sec - info.st_mtime < quiet_seconds || now.tv_sec - info.st_ctime < quiet_seconds)
    return false;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat opened;
  const std::string& header = written_header();
  char head[sizeof file_header + 8];
  ssize_t got = -1;
  bool stale = fstat(fd, &opened) == 0 && opened.st_dev == info.st_dev &&
               opened.st_ino == info.st_ino && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
               (got = pread(fd, head, header.size(), 0)) >= 0 &&
               header.compare(0, static_cast<size_t>(got), head, static_cast<size_t>(got)) == 0;
  close(fd);  // and with it the lock
  return stale;
}

}  // namespace

int temp_file_create(const std::string& folder, const std::string& base) {
  OutputStream& out = run.output_file;
  guard_against_signals();
#ifdef O_TMPFILE
  int fd = run.host.unnamed_temp_files
               ? open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)
               : (errno = EOPNOTSUPP, -1);
  if (fd >= 0) {
    // Linked later through /proc; without it, the file could not be kept.
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (access(link, F_OK) == 0) {
      lock(fd);
      out.temp_unnamed = true;
      return fd;
    }
    close(fd);
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return -1;  // the folder takes no new file at all
  }
#endif
  std::string pattern = folder_prefix(folder) + temp_prefix(base) + "XXXXXX";
  if (pattern.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  char path[PATH_MAX];
  std::memcpy(path, pattern.c_str(), pattern.size() + 1);
  hold_signals(true);  // until the signal handler knows the name
  int named = mkstemp(path);
  if (named >= 0) {
    lock(named);
    set_temp_path(path);
  }
  int error = errno;
  hold_signals(false);
  errno = error;
  out.temp_unnamed = false;
  return named;
}

bool temp_file_link(int fd, const std::string& folder, const std::string& base) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const std::string prefix = folder_prefix(folder) + temp_prefix(base);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = prefix + random_letters();
    hold_signals(true);  // until the signal handler knows the name
    bool linked = linkat(AT_FDCWD, link, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
    int error = errno;
    if (linked && !set_temp_path(path)) {
      error = errno;
      unlink(path.c_str());
      linked = false;
    }
    hold_signals(false);
    errno = error;
    if (linked) {
      run.output_file.temp_unnamed = false;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

void temp_files_remove_stale(const std::string& folder, const std::string& base) {
#ifdef __EMSCRIPTEN__
  return;  // its flock is a no-op there: whether a writer holds a file cannot be known
#endif
  const std::string prefix = temp_prefix(base), where = folder_prefix(folder);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strlen(name) != prefix.size() + random_length ||
        std::memcmp(name, prefix.data(), prefix.size()) != 0 ||
        std::strspn(name + prefix.size(), name_letters) != random_length)
      continue;
    std::string path = where + name;
    struct stat info, again;
    // Checked, then removed only if the name still holds that same file.
    if (lstat(path.c_str(), &info) == 0 && is_stale(path, info) &&
        lstat(path.c_str(), &again) == 0 && again.st_dev == info.st_dev &&
        again.st_ino == info.st_ino)
      unlink(path.c_str());
  }
  closedir(dir);
}

void guard_against_signals() {
  struct sigaction action {};
  action.sa_handler = remove_temp_file_and_reraise;
  sigemptyset(&action.sa_mask);
  for_each_ending_signal([&action](int number) {
    struct sigaction previous;
    if (sigaction(number, nullptr, &previous) == 0 && !(previous.sa_flags & SA_SIGINFO) &&
        previous.sa_handler == SIG_DFL)
      sigaction(number, &action, nullptr);
  });
}

void hold_signals(bool hold) {
  static sigset_t before;
  if (!hold) {
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return;
  }
  sigset_t set;
  sigemptyset(&set);
  for_each_ending_signal([&set](int number) { sigaddset(&set, number); });
  sigprocmask(SIG_BLOCK, &set, &before);
}
