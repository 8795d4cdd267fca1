#include "tests/harness/stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
