// The fuzz targets, as plain functions: libFuzzer's entry point calls one of them in a fuzzer
// build, and the regression tests call them on every saved input in any build. A target
// returns 0; a broken expectation prints what broke and aborts, which libFuzzer reports as a
// finding and CTest as a failed test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Arbitrary bytes as class descriptors followed by a level-2 heap dump (heap_dump_input.h).
int FuzzHeapDump(const uint8_t* data, size_t size);

// Arbitrary bytes as the class file the VM hands the class file hook.
int FuzzClassRewriter(const uint8_t* data, size_t size);
// Its checks of the bytecode engine and the field-site pass on the same bytes.
void CheckClassEngine(const uint8_t* data, size_t size);

// Standard output stays open under libFuzzer's -close_fd_mask=2 (the agent's own messages on
// standard error are closed off there; the sanitizers' reports are not).
#define FUZZ_CHECK(condition, ...)                                                    \
    do {                                                                              \
        if (!(condition)) {                                                           \
            std::printf("fuzz check failed at %s:%d: %s: ", __FILE__, __LINE__, #condition); \
            std::printf(__VA_ARGS__);                                                 \
            std::printf("\n");                                                        \
            std::fflush(stdout);                                                      \
            std::abort();                                                             \
        }                                                                             \
    } while (0)
