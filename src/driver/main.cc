// kestrin infile outfile
#include "driver.h"

int main(int argc, char** argv) {
  RunHost host;
  host.closed_standard_streams = open_closed_standard_streams();
  return run_kestrin(argc, argv, host);
}
