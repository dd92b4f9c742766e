// kestrin infile outfile
#include "driver.h"

int main(int argc, char** argv) { return run_kestrin(argc, argv); }
