// Where the output goes, and that it appears only when a run succeeds.
//
// A regular file, or a name that does not exist yet, is written as a new
// temporary file in the same folder (src/pdf/temp_file.cc); after the last
// byte it is flushed to the disk (unless --no-sync), renamed over the output,
// and the folder is flushed too, so that the earlier file or the new one
// survives even a power cut. A run that stops removes the temporary file, so
// an earlier file of that name keeps every byte. Through a symbolic link, the
// file it points to is replaced and the link stays a link. The new file has
// the earlier file's permission bits (never set-user-ID, set-group-ID or
// sticky) and, where the process may give them, its owner and group;
// replacing gives it a new inode, so other hard links keep the old content.
//
// An earlier file the process may not write is refused, as the shell's `>`
// refuses it. Where the folder takes no new file, or (a sticky folder such
// as /tmp) would not let this user rename over the file, the PDF is kept in
// $TMPDIR and copied into the output only after success.
//
// "-", /dev/stdout, /dev/stderr and /dev/fd/N are the process's own
// descriptors, written directly (so `>>` appends and pipes and sockets
// work), and so is anything that is not a regular file: a device, a FIFO.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "pdf.h"
#include "temp_file.h"

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

// The folder part of `path` with its slash ("" for none) and the name.
std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}
std::string base_of(const std::string& path) { return path.substr(folder_of(path).size()); }

// `path` with its links followed and its folder made absolute; empty when
// the folder does not exist.
std::string canonical_name(std::string path) {
  if (!resolve_links(path)) return "";
  std::string folder = folder_of(path);
  char real[PATH_MAX];
  if (!realpath(folder.empty() ? "." : folder.c_str(), real)) return "";
  return std::string(real) + "/" + base_of(path);
}

// The descriptor an output name stands for: "-" and /dev/stdout are 1,
// /dev/stderr is 2, /dev/fd/N and /proc/self/fd/N are N; -1 for any other.
int descriptor_named(const char* path) {
  if (std::strcmp(path, "-") == 0 || std::strcmp(path, "/dev/stdout") == 0) return 1;
  if (std::strcmp(path, "/dev/stderr") == 0) return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    size_t length = std::strlen(prefix);
    if (std::strncmp(path, prefix, length) != 0) continue;
    size_t digits = std::strspn(path + length, "0123456789");
    if (digits > 0 && digits < 9 && path[length + digits] == 0) return std::atoi(path + length);
  }
  return -1;
}

// A new descriptor for the one `path` names; -1 after saying why.
int open_descriptor(const char* path, int descriptor) {
  static const char* const stream_name[] = {"standard input", "standard output",
                                            "standard error"};
  if (descriptor <= 2 && (run.host.closed_standard_streams & (1 << descriptor))) {
    report_problem(std::string(stream_name[descriptor]) + " is closed");
    return -1;
  }
  int fd = dup(descriptor);
  if (fd < 0) {
    report_file_problem(path, errno);
    return -1;
  }
  if (descriptor == 2) run.diagnostics.pdf_on_standard_error = true;
  return fd;
}

// Whether this user may not rename over `earlier` in `folder` because the
// folder is sticky (as /tmp is) and neither the file nor the folder is its.
bool sticky_forbids_rename(const std::string& folder, const struct stat& earlier) {
  struct stat info;
  uid_t user = geteuid();
  return stat(folder.empty() ? "." : folder.c_str(), &info) == 0 && (info.st_mode & S_ISVTX) &&
         user != 0 && earlier.st_uid != user && info.st_uid != user;
}

// The folder for a PDF that is copied into its output at the end.
std::string spare_folder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

// Opens the temporary file for a regular output `target` (links followed),
// which exists when `earlier` is given; returns its descriptor, or -1 after
// saying why on standard error.
int open_replacement(const char* path, const std::string& target, const struct stat* earlier) {
  OutputStream& out = run.output_file;
  const std::string folder = folder_of(target), base = base_of(target);
  // The earlier file is written only where the shell's ">" could write it.
  int writable = earlier ? open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
  if (earlier && writable < 0) {
    report_file_problem(path, errno);
    return -1;
  }
  temp_files_remove_stale(folder, base);
  bool may_rename = !earlier || !sticky_forbids_rename(folder, *earlier);
  int fd = may_rename ? temp_file_create(folder, base) : -1;
  if (fd >= 0) {
    if (writable >= 0) close(writable);
    out.way = OutputWay::replace;
  } else if (earlier && (!may_rename || errno == EACCES || errno == EPERM)) {
    fd = temp_file_create(spare_folder(), base);
    if (fd < 0) {
      int error = errno;
      close(writable);
      report_problem(std::string(path) + ": its folder takes no new file, and " + spare_folder() +
                     " cannot hold the PDF until the end: " + std::strerror(error));
      return -1;
    }
    out.way = OutputWay::copy_over;
    out.target_fd = writable;
  } else {
    report_file_problem(path, errno);
    if (writable >= 0) close(writable);
    return -1;
  }
  if (out.way == OutputWay::replace) {
    // Owner and group first, as a change of owner clears some mode bits; a
    // process that may not give the file away keeps it as its own.
    if (earlier && fchown(fd, earlier->st_uid, earlier->st_gid) != 0) errno = 0;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, earlier ? earlier->st_mode & 0777 : 0666 & ~mask);
  }
  return fd;
}

}  // namespace

void output_file_wrote(size_t size) {
  OutputStream& out = run.output_file;
  file_wrote(fileno(out.file), run.options.sync, out.file_bytes, out.writeback_from, size);
}

void file_wrote(int fd, bool sync, int64_t& file_bytes, int64_t& writeback_from, size_t size) {
  file_bytes += static_cast<int64_t>(size);
#if defined(SYNC_FILE_RANGE_WRITE) && !defined(__EMSCRIPTEN__)
  constexpr int64_t writeback_step = 8 << 20;
  if (file_bytes - writeback_from < writeback_step || !sync) return;
  // Asks only to start: the run goes on while the disk writes.
  sync_file_range(fd, writeback_from, file_bytes - writeback_from, SYNC_FILE_RANGE_WRITE);
  writeback_from = file_bytes;
#else
  (void)fd, (void)sync, (void)writeback_from;
#endif
}

namespace {

// Flushes the file at `fd` to the disk unless --no-sync; false on failure.
bool sync_to_disk(int fd) {
  if (!run.options.sync || fsync(fd) == 0) return true;
  output_failed(errno);
  return false;
}

bool sync_folder(const std::string& folder) {
  if (!run.options.sync) return true;
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;  // a folder that cannot be opened cannot be flushed
  bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot
  if (!ok) output_failed(errno);
  close(fd);
  return ok;
}

// Copies the finished PDF from the temporary file `from` into the output
// `to`, which keeps its inode, owner and links. Room for a longer file is
// taken first, so that a full disk or a size limit refuses before a byte of
// the earlier file changes; signals from outside wait until it is done.
bool copy_into_output(int from, int to) {
  struct stat earlier;
  off_t size = lseek(from, 0, SEEK_END);
  if (size < 0 || fstat(to, &earlier) != 0) {
    output_failed(errno);
    return false;
  }
  if (size > earlier.st_size) {
    int error = posix_fallocate(to, earlier.st_size, size - earlier.st_size);
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
      // Where the system emulated the reservation by writing, the earlier
      // file may have grown: back to its length.
      if (ftruncate(to, earlier.st_size) != 0) errno = 0;
      output_failed(error);
      return false;
    }
  }
  hold_signals(true);
  static unsigned char chunk[1 << 16];
  bool ok = true;
  errno = 0;
  for (off_t at = 0; ok && at < size;) {
    ssize_t got = pread(from, chunk, sizeof chunk, at);
    ok = got > 0;
    for (ssize_t done = 0; ok && done < got;) {
      ssize_t put = pwrite(to, chunk + done, static_cast<size_t>(got - done), at + done);
      ok = put > 0;
      done += put;
    }
    at += got;
  }
  if (!ok || ftruncate(to, size) != 0) {
    output_failed(errno != 0 ? errno : EIO);
    ok = false;
  }
  hold_signals(false);
  return ok && sync_to_disk(to);
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
  if (!out.file) {
    report_file_problem("/dev/null", errno);
    return false;
  }
  std::setvbuf(out.file, nullptr, _IONBF, 0);
  return true;
}

}  // namespace

bool output_names_standard_output(const char* path) {
  if (descriptor_named(path) == 1) return true;
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
  out.way = OutputWay::direct;
  out.temp_unnamed = false;
  out.target_fd = -1;
  out.temp_path[0] = 0;
  out.final_path.clear();
  out.final_canonical.clear();
  if (run.host.discard_output) return open_discarded_output(path);
  int fd;
  struct stat info;
  std::string target = path;
  int descriptor = descriptor_named(path);
  if (descriptor >= 0) {
    fd = open_descriptor(path, descriptor);
    if (fd < 0) return false;
    fstat(fd, &info);
  } else if (stat(path, &info) == 0 ? S_ISREG(info.st_mode)
                                    : errno == ENOENT && resolve_links(target)) {
    // A regular file, or a name (perhaps a dangling link) to create.
    bool earlier = resolve_links(target) && stat(target.c_str(), &info) == 0;
    fd = open_replacement(path, target, earlier ? &info : nullptr);
    if (fd < 0) return false;
    out.final_path = target;
    out.final_canonical = canonical_name(target);
    if (!earlier) fstat(fd, &info);
  } else {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      report_file_problem(path, errno);
      return false;
    }
    fstat(fd, &info);
  }
  out.file = fdopen(fd, "wb");
  if (!out.file) {
    report_file_problem(path, errno);
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
  int lock = -1;  // the temporary file stays locked until it has its new name
  if (out.file) {
    int64_t failed_line;
    queue_finish(&failed_line);  // what the second thread holds goes first
    flate_abandon();  // a stop inside a compressed stream
    ok = output_write_buffer();
    int fd = fileno(out.file);
    if (keep && ok && out.way == OutputWay::replace) {
      ok = sync_to_disk(fd);
      if (ok && out.temp_unnamed && !temp_file_link(fd, folder_of(out.final_path),
                                                    base_of(out.final_path))) {
        output_failed(errno);
        ok = false;
      }
      lock = dup(fd);
    }
    if (keep && ok && out.way == OutputWay::copy_over) ok = copy_into_output(fd, out.target_fd);
    if (std::fclose(out.file) != 0 && ok) {
      output_failed(errno);
      ok = false;
    }
    out.file = nullptr;
  }
  if (out.target_fd >= 0) {
    if (close(out.target_fd) != 0 && keep && ok) {
      output_failed(errno);
      ok = false;
    }
    out.target_fd = -1;
  }
  if (out.temp_path[0]) {
    bool renamed = keep && ok && out.way == OutputWay::replace &&
                   rename(out.temp_path, out.final_path.c_str()) == 0;
    if (keep && ok && out.way == OutputWay::replace && !renamed) {
      output_failed(errno);
      ok = false;
    }
    if (!renamed) unlink(out.temp_path);
    out.temp_path[0] = 0;
    if (renamed) ok = sync_folder(folder_of(out.final_path));
  }
  if (lock >= 0) close(lock);
  out.temp_unnamed = false;
  return ok;
}
