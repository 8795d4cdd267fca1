#include "trace/method_options.h"

#include <mutex>
#include <unordered_map>

namespace {
std::mutex g_lock;
std::unordered_map<jmethodID, int32_t>* g_options = nullptr;  // made on first use, never freed
}  // namespace

void AddMethodOptions(jmethodID method, int32_t options) {
    if (options == 0) return;
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_options == nullptr) g_options = new std::unordered_map<jmethodID, int32_t>();
    (*g_options)[method] |= options;
}

void ClearMethodOptions(jmethodID method) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_options != nullptr) g_options->erase(method);
}

int32_t MethodOptions(jmethodID method) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_options == nullptr) return 0;
    const auto found = g_options->find(method);
    return found == g_options->end() ? 0 : found->second;
}
