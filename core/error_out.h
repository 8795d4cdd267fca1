// The agent's single error reporter: formatted text on the process's standard error stream.
#pragma once

#include "platform/export.h"

void ErrorOut(const char* format, ...) VEXO_PRINTF_FORMAT(1, 2);
