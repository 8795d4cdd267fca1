// The fuzz targets, as plain functions: libFuzzer's entry point calls one of them in a fuzzer
// build, and the regression tests call them on every saved input in any build. A target
// returns 0; a broken expectation (FUZZ_CHECK) prints what broke and aborts, which libFuzzer
// reports as a finding and CTest as a failed test. The class-file engine's own target is beside
// it (bytecode/fuzz).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytecode/fuzz/fuzz_check.h"

// Arbitrary bytes as class descriptors followed by a level-2 heap dump (heap_dump_input.h).
int FuzzHeapDump(const uint8_t* data, size_t size);

// Arbitrary bytes as the class file the VM hands the class file hook.
int FuzzClassRewriter(const uint8_t* data, size_t size);
