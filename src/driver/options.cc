// The command line. Options stand before the file names; a lone "-" is a
// file name (standard input or output), and "--" ends the options so that a
// file whose name begins with "-" can still be named.
#include "options.h"

#include <cstring>

const char help_text[] =
    "usage: kestrin [options] infile outfile\n"
    "\n"
    "Compiles the marked-up text file infile into the PDF file outfile. The\n"
    "output appears only when the run succeeds; a failed run keeps any earlier\n"
    "file of that name as it was.\n"
    "\n"
    "  -z, --compress         compress page contents and sounds (Flate)\n"
    "  -w, --no-warnings      print no warnings\n"
    "      --warnings-as-errors\n"
    "                         stop with status 1 when the document had warnings\n"
    "      --no-sync          do not wait for the PDF to reach the disk\n"
    "      --watch            convert, then again whenever the input or a picture,\n"
    "                         sound or font it uses changes (Ctrl-C ends)\n"
    "      --lsp              serve the Language Server Protocol on standard\n"
    "                         input and output, for editors\n"
    "      --encoding utf8    read the input as UTF-8 from its start\n"
    "      --plain            the input is a listing: nothing in it is markup\n"
    "      --font NAME        the listing's font (Courier, Times-Roman, ..., or 1 to 13)\n"
    "      --size POINTS      its size (10, or 7.5 in two columns)\n"
    "      --paper NAME       a4, a3, a5, letter, legal, or WIDTHxHEIGHT in points\n"
    "      --line-numbers     the listing's lines numbered in the margin\n"
    "      --columns 2        two columns on the paper turned to landscape\n"
    "  -h, --help             print this help and exit\n"
    "  -V, --version          print the version and exit\n"
    "  --                     end of the options\n"
    "\n"
    "A - as infile reads standard input; as outfile it writes the PDF to\n"
    "standard output, and the console text then goes to standard error.\n"
    "Standard error says where a stop was caused, as FILE:LINE:COLUMN: error:\n"
    "MESSAGE, and gives warnings as FILE:LINE: warning: TEXT.\n";

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  int next = 1;
  for (; next < argc; ++next) {
    const char* arg = argv[next];
    if (arg[0] != '-' || arg[1] == 0) break;  // a file name, or "-"
    if (std::strcmp(arg, "--") == 0) {
      ++next;
      break;
    }
    if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "--help")) {
      line.action = CommandLine::help;
      return line;
    }
    if (!std::strcmp(arg, "-V") || !std::strcmp(arg, "--version")) {
      line.action = CommandLine::version;
      return line;
    }
    if (!std::strcmp(arg, "-z") || !std::strcmp(arg, "--compress")) {
      line.options.compress = true;
    } else if (!std::strcmp(arg, "-w") || !std::strcmp(arg, "--no-warnings")) {
      line.options.warnings = false;
    } else if (!std::strcmp(arg, "--warnings-as-errors")) {
      line.options.warnings_as_errors = true;
    } else if (!std::strcmp(arg, "--no-sync")) {
      line.options.sync = false;
    } else if (!std::strcmp(arg, "--watch")) {
      line.watch = true;
    } else if (!std::strcmp(arg, "--lsp")) {
      line.action = argc - next == 1 ? CommandLine::language_server : CommandLine::usage;
      return line;
    } else if (int taken = parse_listing_option(argc - next, argv + next, line)) {
      if (taken < 0) {
        line.action = CommandLine::usage;
        return line;
      }
      next += taken - 1;
    } else {
      line.unknown = arg;
      line.action = CommandLine::usage;
      return line;
    }
  }
  if (line.listing_layout && !line.options.listing.plain)
    line.problem = std::string(line.listing_layout) + " lays out a listing: use it with --plain";
  if (argc - next != 2 || !line.problem.empty()) {
    line.action = CommandLine::usage;
    return line;
  }
  line.input = argv[next];
  line.output = argv[next + 1];
  return line;
}
