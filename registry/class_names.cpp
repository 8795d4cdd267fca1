#include "registry/class_names.h"

#include <cstring>

#include "core/error_out.h"
#include "platform/heap.h"

std::atomic<int32_t> g_classModificationCount{0};

namespace {
constexpr size_t kGrowth = 1024;

struct ClassNameBuffer {
    char* data;
    size_t capacity;
    size_t used;
    bool collecting;
};

ClassNameBuffer g_names;
// Serialises appends: class loads on other threads may arrive while a walk appends.
std::atomic_flag g_namesBusy = ATOMIC_FLAG_INIT;

struct NamesHold {
    NamesHold() {
        while (g_namesBusy.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~NamesHold() { g_namesBusy.clear(std::memory_order_release); }
};

bool Grow(size_t needed) {
    size_t capacity = g_names.capacity + kGrowth;
    while (capacity < needed) capacity += kGrowth;  // a name longer than one step
    auto* grown = static_cast<char*>(MemAlloc(capacity));
    if (grown == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes to keep class names\n",
                 static_cast<int>(capacity));
        return false;
    }
    if (g_names.data != nullptr) std::memcpy(grown, g_names.data, g_names.used);
    MemFree(g_names.data);
    g_names.data = grown;
    g_names.capacity = capacity;
    return true;
}
}  // namespace

bool BeginCollectingClassNames(size_t capacity) {
    NamesHold hold;
    MemFree(g_names.data);
    g_names = {nullptr, 0, 0, false};
    // Even an empty dump gets storage, so its listing is an empty one rather than none.
    g_names.data = static_cast<char*>(MemAlloc(capacity > 0 ? capacity : 1));
    if (g_names.data == nullptr) return false;
    g_names.capacity = capacity;
    g_names.collecting = true;
    return true;
}

void EndCollectingClassNames() {
    NamesHold hold;
    g_names.collecting = false;
}

void AppendClassName(const char* name) {
    NamesHold hold;
    if (!g_names.collecting || name == nullptr) return;  // a nameless class adds nothing
    const size_t n = std::strlen(name) + 1;
    if (g_names.used + n > g_names.capacity && !Grow(g_names.used + n)) return;
    std::memcpy(g_names.data + g_names.used, name, n);
    g_names.used += n;
}

const char* CollectedClassNames(size_t* length) {
    *length = g_names.used;
    return g_names.data;
}

void DiscardClassNames() {
    NamesHold hold;
    MemFree(g_names.data);
    g_names = {nullptr, 0, 0, false};
}
