// libFuzzer driver; QA_FUZZ_ENTRY names the entry point of fuzz/targets.h.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return QA_FUZZ_ENTRY(data, size);
}
