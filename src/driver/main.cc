// kestrin [options] infile outfile; kestrin --watch ...; kestrin --lsp
#include "driver.h"
#include "lsp.h"
#include "options.h"

int main(int argc, char** argv) {
  CommandLine line = parse_command_line(argc, argv);
  if (line.action == CommandLine::language_server) return run_language_server();
  if (line.watch && line.action == CommandLine::convert) return run_watch(line, RunHost{});
  return run_kestrin(argc, argv);
}
