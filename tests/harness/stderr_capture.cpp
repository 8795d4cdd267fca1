#include "tests/harness/stderr_capture.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Sanitizer reports go to the process's original standard error, so a report raised while a
// test captures standard error is not swallowed by the capture.
extern "C" __attribute__((weak)) void __sanitizer_set_report_fd(void* fd);

namespace {
const bool g_reportsToOriginalStderr = [] {
    if (__sanitizer_set_report_fd != nullptr) {
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<uintptr_t>(dup(STDERR_FILENO))));
    }
    return true;
}();
}  // namespace

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    char path[] = "/tmp/vexo-stderr-XXXXXX";
    captureFd_ = mkstemp(path);
    unlink(path);
    savedFd_ = dup(STDERR_FILENO);
    dup2(captureFd_, STDERR_FILENO);
}

StderrCapture::~StderrCapture() {
    if (savedFd_ >= 0) Finish();
}

std::string StderrCapture::Finish() {
    std::fflush(stderr);
    dup2(savedFd_, STDERR_FILENO);
    close(savedFd_);
    savedFd_ = -1;
    std::string text;
    char buffer[4096];
    lseek(captureFd_, 0, SEEK_SET);
    for (ssize_t n; (n = read(captureFd_, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(captureFd_);
    captureFd_ = -1;
    return text;
}
