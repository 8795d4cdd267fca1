#include "trace/method_options.h"

#include <atomic>
#include <unordered_map>

#include "platform/os.h"
#include "trace/trace_flags.h"

namespace {
// A leaf lock of its own, held for a map operation only (arming may hold the bridge's locks).
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;
struct Options {
    int32_t wanted = 0;
    int32_t honoured = 0;
    int64_t minNanos = 0;
};
std::unordered_map<jmethodID, Options>* g_options = nullptr;  // made on first use, never freed

struct Hold {
    Hold() {
        while (g_lock.test_and_set(std::memory_order_acquire)) OsYield();
    }
    ~Hold() { g_lock.clear(std::memory_order_release); }
};
}  // namespace

void AddMethodOptions(jmethodID method, int32_t options) {
    if (options == 0) return;
    Hold hold;
    if (g_options == nullptr) g_options = new std::unordered_map<jmethodID, Options>();
    Options& o = (*g_options)[method];
    if (o.wanted == 0) o.honoured = options & kArgumentsTracePoint;  // until its road says more
    o.wanted |= options;
}

void ClearMethodOptions(jmethodID method) {
    Hold hold;
    if (g_options != nullptr) g_options->erase(method);
}

int32_t MethodOptions(jmethodID method) {
    Hold hold;
    if (g_options == nullptr) return 0;
    const auto found = g_options->find(method);
    return found == g_options->end() ? 0 : found->second.wanted;
}

void SetHonouredMethodOptions(jmethodID method, int32_t honoured) {
    Hold hold;
    if (g_options == nullptr) return;
    const auto found = g_options->find(method);
    if (found != g_options->end()) found->second.honoured = honoured & found->second.wanted;
}

int32_t HonouredMethodOptions(jmethodID method) {
    Hold hold;
    if (g_options == nullptr) return 0;
    const auto found = g_options->find(method);
    return found == g_options->end() ? 0 : found->second.honoured;
}

void SetMethodMinNanos(jmethodID method, int64_t nanos) {
    Hold hold;
    if (g_options == nullptr) g_options = new std::unordered_map<jmethodID, Options>();
    Options& o = (*g_options)[method];
    if (o.minNanos == 0 || nanos < o.minNanos) o.minNanos = nanos;
}

int64_t MethodMinNanos(jmethodID method) {
    Hold hold;
    if (g_options == nullptr) return 0;
    const auto found = g_options->find(method);
    return found == g_options->end() ? 0 : found->second.minNanos;
}
