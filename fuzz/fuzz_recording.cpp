#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE) {
  FUZZ_RECORDING(DATA, SIZE);
  return 0;
}
