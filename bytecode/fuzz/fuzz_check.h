// A fuzz target's expectation: when it breaks, what broke is printed and the process aborts,
// which libFuzzer reports as a finding and CTest as a failed test. Standard output stays open
// under libFuzzer's -close_fd_mask=2 (the agent's own messages on standard error are closed off
// there; the sanitizers' reports are not).
#pragma once

#include <cstdio>
#include <cstdlib>

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
