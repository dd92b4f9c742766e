// Where the output goes, and that it appears only when a run succeeds.
//
// A regular file, or a path that does not exist yet, is written as a new
// temporary file in the same folder and renamed over the output after the
// last byte is out and the file is closed; a run that stops removes the
// temporary file, so an earlier file of that name keeps every byte. Through a
// symbolic link, the file it points to is replaced and the link stays a link.
// Anything else (standard output, a device, a FIFO) is written directly.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "pdf.h"

namespace {

FileId id_of(const struct stat& info) {
  return FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Follows symbolic links from `path` to the name the file really has, which
// need not exist yet. False for a loop or an over-long chain.
bool resolve_links(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = 0;
    if (target[0] == '/') {
      path = target;
    } else {
      size_t slash = path.rfind('/');
      path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
  }
  errno = ELOOP;
  return false;
}

// `path` with its links followed and its folder made absolute; empty when
// the folder does not exist.
std::string canonical_name(std::string path) {
  if (!resolve_links(path)) return "";
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  char real[PATH_MAX];
  if (!realpath(folder.c_str(), real)) return "";
  return std::string(real) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
}

void remove_temp_file_and_reraise(int signal_number) {
  if (run.output_file.temp_path[0]) unlink(run.output_file.temp_path);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void guard_against_signals() {
  struct sigaction action {};
  action.sa_handler = remove_temp_file_and_reraise;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction previous;
    sigaction(signal_number, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
  }
}

// A new temporary file beside `target`, with the mode the output will have.
int create_temp_file(const std::string& target, const struct stat* earlier) {
  char* temp_path = run.output_file.temp_path;
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = folder + "." + name + ".XXXXXX";
  if (pattern.size() >= sizeof run.output_file.temp_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(temp_path, pattern.c_str(), pattern.size() + 1);
  guard_against_signals();
  int fd = mkstemp(temp_path);
  if (fd < 0) {
    temp_path[0] = 0;
    return -1;
  }
  mode_t mode;
  if (earlier) {
    mode = earlier->st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  return fd;
}

// For a run that keeps nothing: the bytes go to /dev/null, and the output
// takes the identity a real output of that name would have (the file it
// would replace, or its name when there is none yet), so that a picture or
// sound file named like it stops the run as it would on the command line.
bool open_discarded_output(const char* path) {
  OutputStream& out = run.output_file;
  std::string target = path;
  struct stat info;
  bool resolved = std::strcmp(path, "-") != 0 && resolve_links(target);
  bool present = resolved && stat(target.c_str(), &info) == 0;
  out.id = present ? id_of(info) : FileId{UINT64_MAX, UINT64_MAX};  // none: nothing matches
  if (resolved && (present ? S_ISREG(info.st_mode) : errno == ENOENT)) {
    out.final_canonical = canonical_name(target);
    if (!out.final_canonical.empty()) out.final_path = target;
  }
  out.file = std::fopen("/dev/null", "wb");
  if (!out.file) return false;
  std::setvbuf(out.file, nullptr, _IONBF, 0);
  return true;
}

}  // namespace

bool output_names_standard_output(const char* path) {
  if (std::strcmp(path, "-") == 0) return true;
  struct stat out_info, path_info;
  return fstat(STDOUT_FILENO, &out_info) == 0 && stat(path, &path_info) == 0 &&
         id_of(out_info) == id_of(path_info);
}

bool output_identity(const char* path, FileId* id) {
  struct stat info;
  if (std::strcmp(path, "-") == 0 ? fstat(STDOUT_FILENO, &info) != 0 : stat(path, &info) != 0)
    return false;
  *id = id_of(info);
  return true;
}

bool output_would_replace(const char* path) {
  const OutputStream& out = run.output_file;
  return !out.final_path.empty() && !out.final_canonical.empty() &&
         canonical_name(path) == out.final_canonical;
}

bool output_open(const char* path) {
  OutputStream& out = run.output_file;
  out.fill = 0;
  out.failed = false;
  out.error_number = 0;
  out.temp_path[0] = 0;
  out.final_path.clear();
  out.final_canonical.clear();
  if (run.host.discard_output) return open_discarded_output(path);
  int fd;
  struct stat info;
  std::string target = path;
  bool replace = std::strcmp(path, "-") != 0 && resolve_links(target) &&
                 (stat(target.c_str(), &info) != 0 ? errno == ENOENT : S_ISREG(info.st_mode));
  if (std::strcmp(path, "-") == 0) {
    fd = dup(STDOUT_FILENO);
  } else if (replace) {
    bool earlier = stat(target.c_str(), &info) == 0;
    fd = create_temp_file(target, earlier ? &info : nullptr);
    if (fd >= 0) {
      out.final_path = target;
      out.final_canonical = canonical_name(target);
      if (!earlier) fstat(fd, &info);
    } else if (earlier && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      // A writable file in a folder that takes no new file is written in
      // place, as it always could be.
      fd = open(path, O_WRONLY | O_TRUNC);
    }
  } else {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd >= 0) fstat(fd, &info);
  }
  if (fd < 0) return false;
  if (std::strcmp(path, "-") == 0) fstat(fd, &info);
  out.file = fdopen(fd, "wb");
  if (!out.file) {
    close(fd);
    output_close(false);
    return false;
  }
  std::setvbuf(out.file, nullptr, _IONBF, 0);  // the channel buffers itself
  out.id = id_of(info);                        // the file the output replaces, for media files
  return true;
}

bool output_close(bool keep) {
  OutputStream& out = run.output_file;
  bool ok = true;
  if (out.file) {
    flate_abandon();  // a stop inside a compressed stream
    ok = output_write_buffer();
    if (std::fclose(out.file) != 0 && ok) {
      out.error_number = errno;
      ok = false;
    }
    out.file = nullptr;
  }
  if (out.temp_path[0]) {
    if (keep && ok && rename(out.temp_path, out.final_path.c_str()) != 0) {
      out.error_number = errno;
      ok = false;
    }
    if (!keep || !ok) unlink(out.temp_path);
    out.temp_path[0] = 0;
  }
  return ok;
}
