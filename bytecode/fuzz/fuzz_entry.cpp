// libFuzzer's entry point of fuzz_class_engine.
#include "bytecode/fuzz/class_engine_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzClassEngine(data, size); }
