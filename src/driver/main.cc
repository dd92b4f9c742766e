// kestrin [options] infile outfile; kestrin --watch ...; kestrin --lsp
#include "driver.h"
#include "lsp.h"
#include "options.h"

int main(int argc, char** argv) {
  RunHost host;
  host.closed_standard_streams = open_closed_standard_streams();  // before anything else
  CommandLine line = parse_command_line(argc, argv);
  if (line.action == CommandLine::language_server) return run_language_server();
  if (line.watch && line.action == CommandLine::convert) return run_watch(line, host);
  return run_kestrin(argc, argv, host);
}
