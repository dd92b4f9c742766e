// The documentation against the build: the README's commands, the man page,
// installation and the package, the editor files, the example previews, and
// the conversion commands the README recommends.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "test_support.h"

namespace {

const std::string root = KESTRIN_SOURCE_DIR, build = KESTRIN_BUILD_DIR;

bool have(const std::string& command) { return run_shell("command -v " + command, nullptr) == 0; }

// Whether a tool a test needs is installed; where CI has installed the tools
// (KESTRIN_REQUIRE_READERS), a missing one fails the test instead of skipping.
bool tool_present(const std::string& command) {
  if (have(command)) return true;
  if (std::getenv("KESTRIN_REQUIRE_READERS"))
    ADD_FAILURE() << command << " is required";
  else
    [&] { GTEST_SKIP() << command << " not installed"; }();
  return false;
}

bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The README's lines that contain `marker`.
std::string readme_line(const std::string& marker) {
  for (const std::string& line : lines_of(read_file(root + "/README.md")))
    if (line.find(marker) != std::string::npos) return line;
  return "";
}

// The commands of the README's first code block, comments removed.
std::vector<std::string> readme_commands() {
  std::vector<std::string> commands;
  bool inside = false;
  for (const std::string& line : lines_of(read_file(root + "/README.md"))) {
    if (line.rfind("```", 0) == 0) {
      if (inside) break;
      inside = true;
      continue;
    }
    if (inside) {
      std::string command = line.substr(0, line.find(" #"));
      command.erase(command.find_last_not_of(' ') + 1);
      commands.push_back(command);
    }
  }
  return commands;
}

}  // namespace

// The README opens with the two commands; the first is run exactly as
// written (CI runs the second), and the second must name a real target.
TEST(Documentation, ReadmeCommands) {
  std::vector<std::string> commands = readme_commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], "make example");
  EXPECT_EQ(commands[1], "make test");
  std::string out;
  ASSERT_EQ(run_shell("cd '" + root + "' && " + commands[0], &out), 0) << out;
  EXPECT_NE(out.find("\nno errors\n"), std::string::npos) << out;
  check_with_readers(root + "/build/hello.pdf", 2);
  EXPECT_EQ(run_shell("cd '" + root + "' && make -n " + commands[1].substr(5), &out), 0) << out;

  // A plain configure, as `make example` makes it, looks for no GoogleTest
  // and has no test target.
  const std::string plain = scratch_path("plain");
  ASSERT_EQ(run_shell("cmake -S '" + root + "' -B '" + plain +
                          "' -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON && cmake --build '" + plain +
                          "' --target help",
                      &out),
            0)
      << out;
  EXPECT_NE(out.find("... kestrin\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("kestrin_tests"), std::string::npos) << out;
}

// The man page renders without a groff warning and with no blank before
// punctuation ("file ,"), and names every option, the newer commands and the
// sections a reader looks for.
TEST(Documentation, ManPageRendersCleanly) {
  if (!tool_present("groff")) return;
  const std::string page = "'" + root + "/kestrin.1'";
  std::string out;
  EXPECT_EQ(run_shell("groff -man -ww -z " + page, &out), 0);
  EXPECT_EQ(out, "");
  ASSERT_EQ(run_shell("groff -man -Tascii -P-cbu -rLL=250n " + page, &out), 0) << out;
  for (size_t at = out.find(' '); at != std::string::npos; at = out.find(' ', at + 1)) {
    std::string next = out.substr(at + 1, 2);
    bool punctuation = next[0] == ',' || next[0] == ';' || next[0] == ':' || next[0] == ')' ||
                       (next == ". " || next == ".\n");
    EXPECT_FALSE(punctuation) << "blank before punctuation: "
                              << out.substr(at < 40 ? 0 : at - 40, 60);
  }
  for (const char* text :
       {"-h, --help", "-V, --version", "-w, --no-warnings", "--warnings-as-errors", "--no-sync",
        "-z, --compress", "\n       --     End the options", "infile of - reads standard input",
        "outfile of - writes the PDF to standard output", "appears only when a run succeeds",
        "image picture file", "encoding utf8 | winansi", "tabs N", "wrap N", "--plain",
        "--line-numbers", "head position font size [text]", "pagenumber N", "verbatim+ file",
        "transition style seconds ...", "file:line:column: error: message", "\nEXIT STATUS\n",
        "\nEXAMPLES\n"})
    EXPECT_NE(out.find(text), std::string::npos) << text;
}

TEST(Documentation, InstallAndPackage) {
  std::string prefix = scratch_path("prefix"), out;
  ASSERT_EQ(run_shell("cmake --install '" + build + "' --prefix '" + prefix + "'", &out), 0) << out;
  for (const char* file :
       {"bin/kestrin", "share/man/man1/kestrin.1.gz", "share/doc/kestrin/copyright",
        "share/doc/kestrin/changelog.gz", "share/bash-completion/completions/kestrin"})
    EXPECT_TRUE(exists(prefix + "/" + file)) << file;

  // The package, built as `make package` builds it, and lintian's verdict.
  if (!tool_present("dpkg-shlibdeps") || !tool_present("file")) return;
  const std::string package = scratch_path("package");
  ASSERT_EQ(run_shell("cd '" + scratch_dir() + "' && cpack -G DEB --config '" + build +
                          "/CPackConfig.cmake' -B '" + package + "'",
                      &out),
            0)
      << out;
  ASSERT_EQ(run_shell("dpkg-deb -c " + package + "/kestrin_*.deb", &out), 0) << out;
  for (const char* file :
       {"/usr/bin/kestrin\n", "/usr/share/man/man1/kestrin.1.gz\n",
        "/usr/share/doc/kestrin/copyright\n", "/usr/share/bash-completion/completions/kestrin\n"})
    EXPECT_NE(out.find(file), std::string::npos) << file << " not in\n" << out;
  ASSERT_EQ(run_shell("dpkg-deb -f " + package + "/kestrin_*.deb Depends", &out), 0) << out;
  EXPECT_NE(out.find("zlib1g"), std::string::npos) << out;
  // The changelog's latest entry is this version.
  ASSERT_EQ(run_shell("dpkg-deb -f " + package + "/kestrin_*.deb Version", &out), 0) << out;
  EXPECT_EQ(
      read_file(root + "/packaging/changelog").rfind("kestrin (" + lines_of(out)[0] + ") ", 0), 0u)
      << "packaging/changelog needs an entry for " << out;
  if (!tool_present("lintian")) return;
  const std::string errors = scratch_path("lintian.err");
  EXPECT_EQ(run_shell("lintian " + package + "/kestrin_*.deb 2>" + errors, &out), 0)
      << out << read_file(errors);
  EXPECT_EQ(out, "");
}

// The bash completion offers the options first, then .txt (and .kst) inputs,
// then .pdf outputs, with directories on the way.
TEST(Documentation, BashCompletion) {
  const std::string dir = scratch_dir();
  for (const char* name : {"a.txt", "b.pdf", "c.png", "d.kst"}) write_file(dir + "/" + name, "");
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"kestrin --w", "--warnings-as-errors --watch "},
      {"kestrin --l", "--lsp --line-numbers "},
      {"kestrin --lsp ", ""},
      {"kestrin --no-w", "--no-warnings "},
      {"kestrin --n", "--no-warnings --no-sync "},
      {"kestrin --c", "--compress --columns "},
      {"kestrin ", "sub a.txt d.kst "},
      {"kestrin -z -w a", "a.txt "},
      {"kestrin -- ", "sub a.txt d.kst "},
      {"kestrin -z a.txt ", "sub b.pdf "},
      {"kestrin - ", "sub b.pdf "},
      {"kestrin a.txt b.pdf ", ""},
      {"kestrin --help ", ""},
      {"kestrin --pa", "--paper "},
      {"kestrin --plain --paper l", "letter legal "},
      {"kestrin --plain --size 9 c", "c.png "},
      {"kestrin --plain --columns 2 a.txt ", "sub b.pdf "},
  };
  for (const auto& [line, expected] : cases) {
    std::string out;
    ASSERT_EQ(
        run_shell("cd '" + dir + "' && bash -c 'source \"$0\"; read -ra COMP_WORDS <<< \"$1\"; " +
                      "[[ $1 == *\" \" ]] && COMP_WORDS+=(\"\"); " +
                      "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kestrin; " +
                      "printf \"%s \" \"${COMPREPLY[@]}\"' '" + root + "/editors/bash/kestrin' '" +
                      line + "'",
                  &out),
        0)
        << out;
    EXPECT_EQ(out == " " ? "" : out, expected) << line;
  }
}

// The Vim syntax loads without errors and names the parts of a document.
TEST(Documentation, VimSyntax) {
  if (!have("vim")) GTEST_SKIP() << "vim not installed";
  std::string doc = scratch_path("doc.kst"), report = scratch_path("report");
  write_file(doc, "<fullscreen 8 *note*>Text \\n [/F6 14 Tf] {1 w}\n<action 1 2 3 4 0 <next>>\n");
  std::string probe = "redir! > " + report + "\necho &filetype\n";
  const std::pair<int, int> positions[] = {{1, 3},  {1, 13}, {1, 16}, {1, 27},
                                           {1, 31}, {1, 43}, {2, 21}};
  for (const auto& at : positions)
    probe += "echo synIDattr(synID(" + std::to_string(at.first) + ", " + std::to_string(at.second) +
             ", 1), 'name')\n";
  write_file(scratch_path("probe.vim"), probe + "redir END\n");
  std::string out;
  EXPECT_EQ(run_shell("vim -u NONE -es -c 'set rtp^=" + root +
                          "/editors/vim' -c 'filetype on' -c 'syntax on' -c 'e " + doc + "' -S '" +
                          scratch_path("probe.vim") + "' -c 'qa!'",
                      &out),
            0)
      << out;
  EXPECT_EQ(lines_of(read_file(report)),
            (std::vector<std::string>{"", "kestrin", "kestrinCommand", "kestrinNumber",
                                      "kestrinComment", "kestrinEscape", "kestrinTextBlock",
                                      "kestrinGraphicsBlock", "kestrinAction"}));
}

// ":compiler kestrin" and ":make" put the stop at its line of the current
// file and each warning at its file and line.
TEST(Documentation, VimCompiler) {
  if (!have("vim")) GTEST_SKIP() << "vim not installed";
  std::string dir = scratch_dir(), report = scratch_path("report");
  write_file(scratch_path("doc.kst"), "text\n\n<nonsense>\n");
  write_file(scratch_path("warning.sh"), "#!/bin/sh\necho 'doc.kst:2: warning: a tab' >&2\n");
  write_file(scratch_path("probe.vim"),
             "set nocp\nset rtp^=" + root +
                 "/editors/vim\ne doc.kst\ncompiler kestrin\n"
                 "silent make\nlet qf = getqflist()\n"
                 "let &l:makeprg = 'sh warning.sh'\nsilent make\ncall extend(qf, getqflist())\n"
                 "redir! > " +
                 report +
                 "\nfor e in qf | echo bufname(e.bufnr) e.lnum e.col e.type e.text | endfor\n"
                 "redir END\nqa!\n");
  std::string out;
  EXPECT_EQ(run_shell("cd '" + dir + "' && PATH='" + std::string(KESTRIN_BUILD_DIR) +
                          "':$PATH vim -u NONE -es -S probe.vim",
                      &out),
            0)
      << out;
  // The stop at its word, the warning of the empty line that vanishes
  // before it, and a warning of another run.
  EXPECT_EQ(
      lines_of(read_file(report)),
      (std::vector<std::string>{"",
                                "doc.kst 2 0 w this empty line does not show: the line end "
                                "before the '<' that follows is dropped; write \\n on the "
                                "line to keep it",
                                "doc.kst 3 2 e unknown ctrl command", "doc.kst 2 0 w a tab"}));
}

TEST(Documentation, TextMateGrammar) {
  std::string out;
  EXPECT_EQ(
      run_shell("cmake -DGRAMMAR='" + root + "/editors/textmate/kestrin.tmLanguage.json' -P '" +
                    root + "/tests/driver/check_grammar.cmake'",
                &out),
      0)
      << out;
  EXPECT_NE(out.find("grammar source.kestrin for .kst"), std::string::npos) << out;
}

// The previews in the README show what the examples give today.
TEST(Documentation, PreviewsAreCurrent) {
  if (!have("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
  // The documents, and gcd.c as `make examples` converts it: a listing.
  for (const char* name : {"hello", "letter", "listing", "pictures", "presentation", "polish", "greek",
                           "arabic", "japanese", "gcd"}) {
    SCOPED_TRACE(name);
    std::string pdf = scratch_path(std::string(name) + ".pdf");
    std::vector<std::string> args = {std::string(name) + ".txt", pdf};
    if (args[0] == "gcd.txt") args = {"--plain", "gcd.c", pdf};
    ASSERT_EQ(run_binary_in(root + "/examples", args).out, success_text());
    std::string out;
    ASSERT_EQ(run_shell("pdftoppm -r 50 -f 1 -l 1 -singlefile -png '" + pdf + "' '" +
                            scratch_path(name) + "'",
                        &out),
              0)
        << out;
    EXPECT_TRUE(read_file(scratch_path(std::string(name) + ".png")) ==
                read_file(root + "/examples/previews/" + name + ".png"))
        << "examples/previews/" << name << ".png is out of date: run make previews";
  }
}

// The README's two GIF conversion commands give GIFs that kestrin accepts.
TEST(Documentation, GifConversionCommands) {
  const std::string dir = scratch_dir();
  int tried = 0;
  for (const char* marker : {"GIF87:picture.gif", "quantize(256)"}) {
    std::string command = readme_line(marker);
    ASSERT_NE(command, "") << marker;
    command = command.substr(0, command.find("   #"));
    std::string out;
    if (run_shell("cd '" + dir + "' && rm -f picture.gif && cp '" +
                      test_data("gif/gif87a-256.gif") +
                      "' source.gif && (convert source.gif picture.png || " +
                      "/usr/bin/python3 -c \"from PIL import Image; "
                      "Image.open('source.gif').save('picture.png')\")",
                  &out) != 0 ||
        run_shell("cd '" + dir + "' && " + command, &out) != 0) {
      std::cout << "skipped: " << command << "\n" << out;
      continue;
    }
    ++tried;
    write_file(dir + "/gif.txt", "<gif 1 96 64 picture.gif>x<pict+ 1 0 0 0 0>");
    EXPECT_EQ(run_binary({"gif.txt", "gif.pdf"}).out, success_text()) << command;
  }
  if (tried == 0) GTEST_SKIP() << "neither ImageMagick nor Pillow installed";
}

// A UTF-8 file converted with the README's iconv command shows its accented
// letters.
TEST(Documentation, Utf8ConversionCommand) {
  std::string command = readme_line("iconv -f UTF-8");
  ASSERT_NE(command, "");
  write_file(scratch_path("letter-utf8.txt"),
             "Caf\xC3\xA9 cr\xC3\xA8me \xE2\x82\xAC"
             "5\n");
  std::string out;
  ASSERT_EQ(run_shell("cd '" + scratch_dir() + "' && " + command, &out), 0) << out;
  EXPECT_EQ(read_file(scratch_path("letter.txt")),
            "Caf\xE9 cr\xE8me \x80"
            "5\n");
  // A character that code page 1252 lacks: iconv names its byte position.
  write_file(scratch_path("lacks.txt"), "Caf\xC3\xA9\n\xC5\x81\n");
  EXPECT_NE(
      run_shell("cd '" + scratch_dir() + "' && iconv -f UTF-8 -t WINDOWS-1252 lacks.txt", &out), 0);
  EXPECT_NE(out.find("at position 6"), std::string::npos) << out;
  ProcessResult result = run_binary({"letter.txt", "letter.pdf"});
  ASSERT_EQ(result.out, success_text());
  if (!have("pdftotext")) return;
  ASSERT_EQ(run_shell("pdftotext '" + scratch_path("letter.pdf") + "' -", &out), 0);
  EXPECT_EQ(out.substr(0, out.find('\n')),
            "Caf\xC3\xA9 cr\xC3\xA8me \xE2\x82\xAC"
            "5");
}

// The README's UTF-8 and listing examples convert, and every character of
// them comes back.
TEST(Documentation, EncodingAndListingExamples) {
  for (const char* marker : {"<encoding utf8>Zürich", "<tabs 8 wrap 90"}) {
    std::string block;
    bool inside = false;
    for (const std::string& line : lines_of(read_file(root + "/README.md"))) {
      if (line.find(marker) == 0) inside = true;
      if (inside && line.rfind("```", 0) == 0) break;
      if (inside) block += line + "\n";
    }
    ASSERT_NE(block, "") << marker;
    CompileResult result = compile(block);
    ASSERT_EQ(result.console, success_text()) << marker;
    if (!have("pdftotext")) continue;
    std::string out;
    ASSERT_EQ(run_shell("pdftotext '" + result.path + "' -", &out), 0);
    for (const char* shown : {"Zürich, “quoted”, 5 € –", "wrapped onto the next line",
                              "\nwhen the width is small */"}) {
      if (block.find(std::string(shown).substr(1, 8)) != std::string::npos) {
        EXPECT_NE(out.find(shown), std::string::npos) << shown << "\n" << out;
      }
    }
  }
}
