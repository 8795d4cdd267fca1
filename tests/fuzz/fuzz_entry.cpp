// libFuzzer's entry point, compiled once per fuzzer with VEXO_FUZZ_TARGET naming its target.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return VEXO_FUZZ_TARGET(data, size);
}
