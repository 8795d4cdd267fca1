// The class-file engine's fuzz target, a plain function: libFuzzer's entry point calls it in a
// fuzzer build (fuzz_class_engine), and the regression tests (FuzzRegressions) call it on every
// saved class file in any build. It returns 0; a broken expectation prints what broke and
// aborts (fuzz_check.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Arbitrary bytes as a class file the engine reads.
int FuzzClassEngine(const uint8_t* data, size_t size);

// The field-site pass as the target runs it on `data` (watching the first two fields the pool's
// Fieldrefs name): the class file it writes, or nothing when it rewrites nothing.
std::vector<uint8_t> FieldSitePass(const uint8_t* data, size_t size);
