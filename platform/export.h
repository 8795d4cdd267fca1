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

// For code that reads raw memory by design (a stack scan): the sanitizers' redzones and shadow
// state describe objects, not the raw words such code inspects.
#if defined(__clang__)
#define VEXO_RAW_MEMORY_ACCESS __attribute__((no_sanitize("address", "thread", "undefined")))
#elif defined(__GNUC__)
#define VEXO_RAW_MEMORY_ACCESS __attribute__((no_sanitize_address, no_sanitize_thread, no_sanitize_undefined))
#else
#define VEXO_RAW_MEMORY_ACCESS
#endif
