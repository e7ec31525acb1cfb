// What every fuzz target does before its first input.
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tav_test::silenceLogging();
  return 0;
}
