// Export and calling-convention macros shared by the agent's entry points.
#pragma once

#include <jni.h>

// Marks the few symbols the library exports; everything else is built with hidden visibility.
#define VEXO_EXPORT JNIEXPORT

// A function that may run on a virtual machine thread inside a tool-interface callback.
#define VEXO_VM_CALLBACK

#if defined(__GNUC__)
#define VEXO_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VEXO_PRINTF_FORMAT(fmt, args)
#endif
