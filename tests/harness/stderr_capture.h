// Captures what the process writes to its standard error stream, byte for byte.
#pragma once

#include <string>

class StderrCapture {
public:
    StderrCapture();   // starts capturing
    ~StderrCapture();  // restores standard error if Finish was not called
    std::string Finish();  // restores standard error and returns what was written meanwhile

private:
    int savedFd_ = -1;
    int captureFd_ = -1;
};
