#include "session/agent_options.h"

#include <cstring>

namespace {
// Calls `visit(word, length)` for each comma-separated word until it returns true.
template <typename Visit>
bool AnyWord(const char* options, Visit visit) {
    if (options == nullptr) return false;
    const char* word = options;
    while (true) {
        const char* end = std::strchr(word, ',');
        const size_t length = end == nullptr ? std::strlen(word) : static_cast<size_t>(end - word);
        if (visit(word, length)) return true;
        if (end == nullptr) return false;
        word = end + 1;
    }
}

bool StartsWith(const char* word, size_t length, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return length >= n && std::strncmp(word, prefix, n) == 0;
}
}  // namespace

bool HasOptionWord(const char* options, const char* wanted) {
    const size_t n = std::strlen(wanted);
    return AnyWord(options, [&](const char* word, size_t length) {
        return length == n && std::strncmp(word, wanted, n) == 0;
    });
}

std::string OptionValue(const char* options, const char* name) {
    const std::string prefix = std::string(name) + "=";
    std::string value;
    AnyWord(options, [&](const char* word, size_t length) {
        if (!StartsWith(word, length, prefix.c_str())) return false;
        value.assign(word + prefix.size(), length - prefix.size());
        return true;
    });
    return value;
}

bool AsksForSession(const char* options) {
    return AnyWord(options, [](const char* word, size_t length) {
        return StartsWith(word, length, "method=") || StartsWith(word, length, "field=") ||
               StartsWith(word, length, "points=") || (length == 7 && std::strncmp(word, "classes", 7) == 0);
    });
}
