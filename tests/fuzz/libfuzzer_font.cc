// libFuzzer entry for the font file target.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  enter_fuzz_directory(KESTRIN_TEST_DATA);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_font(data, size);
}
