// Where the PDF goes: standard streams that were closed, descriptors named
// as files, rights and owners of a replaced file, folders that take no new
// file, long names, signals, killed writers and the flush to the disk. Most
// cases run the binary, as a user would; where the case needs another user
// (a read-only file, a sticky folder) and the tests run as root, the binary
// runs as nobody.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "pdf.h"
#include "test_support.h"

namespace {

const std::string kestrin = std::string("'") + KESTRIN_BINARY + "'";
const bool root = geteuid() == 0;
// Runs a command as a user who is not root (nobody, when the tests are root).
const std::string as_user = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
const uid_t user_id = root ? 65534 : geteuid();

std::set<std::string> names_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* folder = opendir(dir.c_str())) {
    while (dirent* entry = readdir(folder)) {
      std::string name = entry->d_name;
      if (name != "." && name != ".." && name != ".stdout" && name != ".stderr")
        names.insert(name);
    }
    closedir(folder);
  }
  return names;
}

std::string shell(const std::string& command, int* status = nullptr) {
  std::string out;
  int result = run_shell("cd '" + scratch_dir() + "' && " + command, &out);
  if (status) *status = result;
  return out;
}

// The PDF of `text` as a plain run of the binary makes it.
std::string reference_pdf(const std::string& text) {
  write_file(scratch_path("reference.txt"), text);
  run_binary({"reference.txt", "reference.pdf"});
  std::string pdf = read_file(scratch_path("reference.pdf"));
  unlink(scratch_path("reference.txt").c_str());
  unlink(scratch_path("reference.pdf").c_str());
  return pdf;
}

const std::string warned = "a\ttab\n";  // a document with a warning
const std::string earlier = "%PDF an earlier good file\n";

}  // namespace

// Started with descriptors closed, the run opens /dev/null on them first: no
// file of the run takes their place (the warnings once went into the PDF),
// and "-" says that the stream is closed.
TEST(OutputFile, ClosedStandardStreams) {
  write_file(scratch_path("w.txt"), warned);
  const std::string pdf = reference_pdf(warned);
  struct Case {
    std::string command, out, err;
  } cases[] = {
      {"w.txt out.pdf >&- 2>&-", "", ""},
      {"w.txt - >&- 2>err", "", "kestrin: standard output is closed\n\nerror in line 1 (3)  "},
      {"w.txt /dev/stdout >&- 2>err", "", "kestrin: standard output is closed\n"},
      {"- out.pdf <&- 2>err", "\nerror in line 1 (2)  can't open input file\n",
       "kestrin: standard input is closed\n"},
      {"w.txt /dev/stderr 2>&-", "\nerror in line 1 (3)  can't open output file\n", ""},
  };
  for (const Case& c : cases) {
    unlink(scratch_path("out.pdf").c_str());
    write_file(scratch_path("err"), "");
    std::string out = shell(kestrin + " " + c.command);
    EXPECT_EQ(out, c.out) << c.command;
    EXPECT_EQ(read_file(scratch_path("err")).rfind(c.err, 0), 0u)
        << c.command << ": " << read_file(scratch_path("err"));
    if (c.command.find("out.pdf") != std::string::npos && c.out.empty()) {
      EXPECT_EQ(read_file(scratch_path("out.pdf")), pdf) << c.command;
    }
  }
}

// /dev/stdout, /dev/fd/1 and /dev/stderr are the process's descriptors:
// pipes and sockets work, `>>` appends, and the warnings stay out of a PDF
// written to standard error.
TEST(OutputFile, DescriptorNames) {
  write_file(scratch_path("w.txt"), warned);
  const std::string pdf = reference_pdf(warned);
  struct Case {
    std::string command, result, expected;
  } cases[] = {
      {kestrin + " w.txt /dev/stdout 2>/dev/null | cat >piped.pdf", "piped.pdf", pdf},
      {kestrin + " w.txt /dev/fd/1 2>/dev/null | cat >piped.pdf", "piped.pdf", pdf},
      {kestrin + " w.txt /dev/stderr 2>&1 >/dev/null | cat >piped.pdf", "piped.pdf", pdf},
      {"echo earlier >log.pdf; " + kestrin + " w.txt /dev/stdout >>log.pdf 2>/dev/null",
       "log.pdf", "earlier\n" + pdf},
      {"echo earlier >log.pdf; " + kestrin + " w.txt - >>log.pdf 2>/dev/null", "log.pdf",
       "earlier\n" + pdf},
  };
  for (const Case& c : cases) {
    shell(c.command);
    EXPECT_EQ(read_file(scratch_path(c.result)), c.expected) << c.command;
  }

  // Standard output a socket, as under a service manager.
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  pid_t child = fork();
  if (child == 0) {
    dup2(ends[0], 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(ends[1]);
    if (chdir(scratch_dir().c_str()) == 0)
      execl(KESTRIN_BINARY, "kestrin", "w.txt", "/dev/stdout", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[0]);
  std::string received;
  char chunk[4096];
  for (ssize_t got; (got = read(ends[1], chunk, sizeof chunk)) > 0;) received.append(chunk, got);
  close(ends[1]);
  int status;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(received, pdf);
}

// The new file takes the earlier file's permission bits but never its
// set-user-ID, set-group-ID or sticky bits, and keeps its owner where the
// process may give it; a file the user may not write is refused as the
// shell's ">" refuses it (root may write it).
TEST(OutputFile, RightsOfTheReplacedFile) {
  write_file(scratch_path("doc.txt"), "text\n");
  const std::string pdf = reference_pdf("text\n");
  struct stat info;

  write_file(scratch_path("out.pdf"), earlier);
  chmod(scratch_path("out.pdf").c_str(), 07755);
  EXPECT_EQ(run_binary({"doc.txt", "out.pdf"}).status, 0);
  stat(scratch_path("out.pdf").c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0755u);

  // A read-only file in a folder the user may write.
  chmod(scratch_dir().c_str(), 0777);
  write_file(scratch_path("ro.pdf"), earlier);
  ASSERT_EQ(chown(scratch_path("ro.pdf").c_str(), user_id, user_id), 0);
  chmod(scratch_path("ro.pdf").c_str(), 0444);
  int status;
  std::string out = shell(as_user + kestrin + " doc.txt ro.pdf", &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "kestrin: ro.pdf: Permission denied\n" + stop_text(1, 3, msg_cant_open_output));
  EXPECT_EQ(read_file(scratch_path("ro.pdf")), earlier);
  EXPECT_EQ(names_in(scratch_dir()), (std::set<std::string>{"doc.txt", "out.pdf", "ro.pdf"}));
  if (!root) return;

  // Root writes it, and the file stays nobody's.
  EXPECT_EQ(run_binary({"doc.txt", "ro.pdf"}).status, 0);
  EXPECT_EQ(read_file(scratch_path("ro.pdf")), pdf);
  stat(scratch_path("ro.pdf").c_str(), &info);
  EXPECT_EQ(info.st_uid, user_id);
  EXPECT_EQ(info.st_gid, user_id);
  EXPECT_EQ(info.st_mode & 07777, 0444u);
}

// Where the folder takes no new file, or a sticky folder would not let the
// user rename over the file, the PDF waits in $TMPDIR and is copied into the
// output after success: a stop leaves the earlier file whole (it once left a
// fragment), and the output keeps its inode.
TEST(OutputFile, FolderThatTakesNoNewFile) {
  const std::string dir = scratch_dir();
  write_file(dir + "/good.txt", "good text\n");
  write_file(dir + "/bad.txt", "good text\n<nonsense>");
  const std::string pdf = reference_pdf("good text\n");
  const std::string long_earlier = earlier + std::string(20000, 'e');
  const std::string bad_err = "bad.txt:2:2: error: unknown ctrl command\n";
  mkdir((dir + "/spare").c_str(), 0777);
  chmod((dir + "/spare").c_str(), 0777);
  mkdir((dir + "/locked").c_str(), 0755);
  chmod((dir + "/locked").c_str(), 0755);
  mkdir((dir + "/sticky").c_str(), 01777);
  struct Case {
    std::string folder, input, tmpdir;
    int status;
    std::string expected, err;
  } cases[] = {
      {"locked", "bad.txt", "spare", 1, long_earlier, bad_err},
      {"locked", "good.txt", "spare", 0, pdf, ""},
      {"locked", "good.txt", "missing", 1, long_earlier,
       "kestrin: locked/out.pdf: its folder takes no new file, and missing cannot hold the PDF "
       "until the end: No such file or directory\n"},
      {"sticky", "bad.txt", "spare", 1, long_earlier, bad_err},
      {"sticky", "good.txt", "spare", 0, pdf, ""},
  };
  for (const Case& c : cases) {
    if (c.folder == "sticky" && !root) continue;  // needs a file of another user
    const std::string output = dir + "/" + c.folder + "/out.pdf";
    chmod((dir + "/" + c.folder).c_str(), c.folder == "sticky" ? 01777 : 0755);
    write_file(output, long_earlier);
    chmod(output.c_str(), 0666);
    struct stat before, after;
    stat(output.c_str(), &before);
    if (!root) chmod((dir + "/locked").c_str(), 0555);
    int status;
    std::string out = shell("TMPDIR=" + c.tmpdir + " " + as_user + kestrin + " " + c.input + " " +
                                c.folder + "/out.pdf 2>err >/dev/null",
                            &status);
    std::string what = c.folder + " " + c.input + " " + c.tmpdir;
    EXPECT_EQ(status, c.status) << what << out;
    EXPECT_EQ(read_file(dir + "/err"), c.err) << what;
    EXPECT_EQ(read_file(output), c.expected) << what;
    stat(output.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << what;
    EXPECT_EQ(names_in(dir + "/" + c.folder), std::set<std::string>{"out.pdf"}) << what;
    EXPECT_EQ(names_in(dir + "/spare"), std::set<std::string>{}) << what;
    chmod((dir + "/locked").c_str(), 0755);
  }
}

// The temporary name is shorter than the output's when the output's name
// is near the longest a file name may be.
TEST(OutputFile, LongNames) {
  write_file(scratch_path("doc.txt"), "text\n");
  const std::string pdf = reference_pdf("text\n");
  for (size_t length = 246; length <= 255; ++length) {
    std::string name = std::string(length - 6, 'n') + "\xC3\xA9.pdf";  // é across the cut
    ProcessResult result = run_binary({"doc.txt", name});
    EXPECT_EQ(result.out + result.err, success_text()) << length;
    EXPECT_EQ(read_file(scratch_path(name)), pdf) << length;
    EXPECT_EQ(names_in(scratch_dir()), (std::set<std::string>{"doc.txt", name})) << length;
    unlink(scratch_path(name).c_str());
  }
}

// Every signal whose default action ends the process leaves the earlier
// file and nothing else; SIGKILL too, as the temporary file has no name
// until the run succeeds. Each run waits for the rest of its input from a
// FIFO (the first 64 KiB let it start the PDF).
TEST(OutputFile, EndingSignalsLeaveNothing) {
  const char* signals[] = {"HUP", "TERM", "USR1", "USR2", "ALRM", "XCPU",
                           "VTALRM", "PROF", "PIPE", "KILL"};
  std::string script;
  for (const char* name : signals) {
    std::string out = std::string(name) + ".pdf", fifo = std::string(name) + ".fifo";
    write_file(scratch_path(out), earlier);
    script += "mkfifo " + fifo + "; (head -c 70000 /dev/zero | tr '\\0' x; sleep 3) >" + fifo +
              " 2>/dev/null & " + kestrin + " " + fifo + " " + out + " >/dev/null 2>&1 & pid=$!; " +
              "while kill -0 $pid && ! ls -l /proc/$pid/fd | grep -q -e deleted -e '[.]pdf[.]'; " +
              "do sleep 0.02; done; kill -" + name +
              " $pid; wait $pid; echo " + name + " $?; rm " + fifo + "; ";
  }
  std::string out = shell("ulimit -c 0; " + script);
  std::set<std::string> expected;
  for (const char* name : signals) {
    std::string file = std::string(name) + ".pdf";
    EXPECT_EQ(read_file(scratch_path(file)), earlier) << name;
    EXPECT_NE(out.find(std::string(name) + " 1"), std::string::npos) << out;  // 128 + signal
    expected.insert(file);
  }
  EXPECT_EQ(names_in(scratch_dir()), expected);
}

// A PDF written to a pipe its reader closed early ends the run by SIGPIPE,
// whichever thread wrote the bytes: pages compressed beside the composing
// (-z) and pictures that are compressed again go through the second thread.
TEST(OutputFile, ClosedPipeEndsTheRunBySigpipe) {
  std::string pages;
  for (int page = 0; page < 3000; ++page) pages += "page " + std::to_string(page) + "\f";
  write_file(scratch_path("pages.txt"), pages);
  struct sigaction inherited;
  sigaction(SIGPIPE, nullptr, &inherited);
  if (inherited.sa_handler == SIG_IGN) GTEST_SKIP() << "SIGPIPE ignored here";
  for (const char* option : {"", "-z"}) {
    std::string out = shell("(" + kestrin + " " + option + " pages.txt - 2>/dev/null; " +
                            "echo status $? >status.txt) | head -c 100 >/dev/null; cat status.txt");
    EXPECT_NE(out.find("status 141"), std::string::npos) << option << ": " << out;
  }
  unlink(scratch_path("pages.txt").c_str());
  unlink(scratch_path("status.txt").c_str());
}

// Where the temporary file has a name from the start (no O_TMPFILE), every
// signal that ends the process removes it; a writer killed outright leaves
// it, and a later run writing that output removes it once it has rested.
TEST(OutputFile, NamedTemporaryFiles) {
  const std::string dir = scratch_dir(), fifo = dir + "/slow";
  auto start_writer = [&]() {
    mkfifo(fifo.c_str(), 0600);
    pid_t child = fork();
    if (child == 0) {
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      RunHost host;
      std::string console;
      host.console_capture = &console;
      host.unnamed_temp_files = false;
      std::string output = dir + "/out.pdf";
      const char* argv[] = {"kestrin", fifo.c_str(), output.c_str()};
      _exit(run_kestrin(3, argv, host));
    }
    int feed = open(fifo.c_str(), O_WRONLY);
    const std::string text(70000, 'x');  // more than the input's window: the run starts
    EXPECT_EQ(write(feed, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    for (int wait = 0; wait < 500 && names_in(dir).size() < 3; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return std::make_pair(child, feed);
  };
  write_file(dir + "/out.pdf", earlier);
  for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                            SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGRTMIN, SIGKILL}) {
    struct sigaction inherited;
    sigaction(signal_number, nullptr, &inherited);
    if (inherited.sa_handler == SIG_IGN) continue;  // a background job ignores SIGINT
    auto [child, feed] = start_writer();
    EXPECT_EQ(names_in(dir).size(), 3u);  // out.pdf, slow and the temporary file
    kill(child, signal_number);
    int status;
    waitpid(child, &status, 0);
    close(feed);
    unlink(fifo.c_str());
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    if (signal_number != SIGKILL) {
      EXPECT_EQ(names_in(dir).size(), 1u) << signal_number;
    }
  }
  std::set<std::string> left = names_in(dir);
  ASSERT_EQ(left.size(), 2u);  // out.pdf and what SIGKILL left
  const std::string stale = dir + "/" + *left.begin();
  EXPECT_EQ(read_file(dir + "/out.pdf"), earlier);

  // A run that fails in its last write removes its named file too.
  write_file(dir + "/small.txt", std::string(20000, 'x'));
  pid_t child = fork();
  if (child == 0) {
    const rlimit limit{8192, 8192};
    setrlimit(RLIMIT_FSIZE, &limit);
    RunHost host;
    std::string console, errors;
    host.console_capture = &console;
    host.diagnostics_capture = &errors;
    host.unnamed_temp_files = false;
    std::string input = dir + "/small.txt", output = dir + "/out.pdf";
    const char* argv[] = {"kestrin", input.c_str(), output.c_str()};
    int status = run_kestrin(3, argv, host);
    _exit(status == 1 && console.find("(72)") != std::string::npos ? 0 : 1);
  }
  int status;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  unlink((dir + "/small.txt").c_str());
  EXPECT_EQ(names_in(dir), left);

  // Too fresh to be sure: kept. Rested: removed by the next run.
  write_file(dir + "/doc.txt", "text\n");
  EXPECT_EQ(run_binary({"doc.txt", "out.pdf"}).status, 0);
  EXPECT_EQ(names_in(dir).count(*left.begin()), 1u);
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  utimensat(AT_FDCWD, stale.c_str(), old, 0);
  sleep(3);  // the change of times is a change too
  EXPECT_EQ(run_binary({"doc.txt", "out.pdf"}).status, 0);
  EXPECT_EQ(names_in(dir), (std::set<std::string>{"doc.txt", "out.pdf"}));
}

// A later run removes a leftover temporary file of its own output only when
// nobody holds it and it is kestrin's; anything that might be another
// program's file stays.
TEST(OutputFile, StaleTemporaryFiles) {
  const std::string dir = scratch_dir();
  const std::string header = reference_pdf("text\n").substr(0, 100);
  struct Case {
    std::string name, content;
    bool locked, rested, removed;
  } cases[] = {
      {".out.pdf.Ab12Cd", header, false, true, true},
      {".out.pdf.Ef34Gh", "", false, true, true},
      {".out.pdf.Ij56Kl", header, true, true, false},          // a writer holds it
      {".out.pdf.Mn78Op", header, false, false, false},        // just made
      {".out.pdf.Qr90St", "%PDF-1.7\r\n", false, true, false},  // another program's
      {".out.pdf.Uv12W", header, false, true, false},          // not the pattern
      {".out.pdf.Ab12Cd.bak", header, false, true, false},     // nor this
      {".other.pdf.Xy34Za", header, false, true, false},       // another output's
      {"out.pdf.Bc56De", header, false, true, false},
  };
  std::vector<int> held;
  for (const Case& c : cases) {
    std::string path = dir + "/" + c.name;
    write_file(path, c.content);
    if (c.locked) {
      held.push_back(open(path.c_str(), O_RDONLY));
      flock(held.back(), LOCK_EX);
    }
  }
  symlink("elsewhere", (dir + "/.out.pdf.Fg78Hi").c_str());
  sleep(3);
  for (const Case& c : cases)
    if (!c.rested) write_file(dir + "/" + c.name, c.content);
  write_file(dir + "/doc.txt", "text\n");
  EXPECT_EQ(run_binary({"doc.txt", "out.pdf"}).status, 0);
  std::set<std::string> left = names_in(dir);
  for (const Case& c : cases) EXPECT_EQ(left.count(c.name), c.removed ? 0u : 1u) << c.name;
  EXPECT_EQ(left.count(".out.pdf.Fg78Hi"), 1u);
  for (int fd : held) close(fd);
}

// The temporary file and its folder are flushed to the disk around the
// rename, unless --no-sync; a PDF to standard output is not.
TEST(OutputFile, FlushesToTheDisk) {
  std::string found;
  if (run_shell("command -v strace", &found) != 0) {
    if (std::getenv("KESTRIN_REQUIRE_READERS")) FAIL() << "strace is required";  // CI has it
    GTEST_SKIP() << "strace not installed";
  }
  if (run_shell("strace -o /dev/null true", &found) != 0)
    GTEST_SKIP() << "strace may not trace here: " << found;
  write_file(scratch_path("doc.txt"), "text\n");
  const std::pair<std::string, int> cases[] = {
      {"doc.txt out.pdf", 2}, {"--no-sync doc.txt out.pdf", 0}, {"doc.txt - >/dev/null", 0}};
  for (const auto& [args, count] : cases) {
    std::string out = shell("strace -f -e trace=fsync,fdatasync " + kestrin + " " + args +
                            " 2>&1 >/dev/null | grep -c '^fsync('");
    EXPECT_EQ(std::atoi(out.c_str()), count) << args << ": " << out;
  }
}
