#include "core/error_out.h"

#include <cstdarg>
#include <cstdio>

void ErrorOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}
