// The class-name buffer a heap-dump listing fills, and the class modification count.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Class loads and unloads seen by the dispatcher.
extern std::atomic<int32_t> g_classModificationCount;

// Starts collecting names into a new buffer of `capacity` bytes. Returns false when the buffer
// cannot be allocated (the caller reports it); nothing is collected then.
bool BeginCollectingClassNames(size_t capacity);
// Stops collecting; the collected names stay until taken.
void EndCollectingClassNames();
// Appends a name and its NUL while collecting (grows by 1024 bytes, or as far as the name needs).
void AppendClassName(const char* name);
// The collected bytes (NUL-terminated names in order of arrival) and their length.
const char* CollectedClassNames(size_t* length);
// Frees the buffer.
void DiscardClassNames();
