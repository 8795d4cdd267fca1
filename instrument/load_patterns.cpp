#include "instrument/load_patterns.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/os.h"

namespace {
struct LoadPatterns {
    OsLock lock;
    std::vector<LoadPattern> list;
};

LoadPatterns& ThePatterns() {
    static LoadPatterns patterns;
    static const bool ready = OsLockInit(&patterns.lock);
    (void)ready;
    return patterns;
}

std::atomic<bool> g_set{false};
}  // namespace

bool GlobMatches(const char* glob, const char* text, char separator) {
    // reach[j]: the glob read so far matches the first j characters of the text.
    const size_t n = std::strlen(text);
    std::vector<char> reach(n + 1, 0), next(n + 1, 0);
    reach[0] = 1;
    for (const char* g = glob; *g != '\0';) {
        const bool star = *g == '*';
        const bool wide = star && (g[1] == '*' || separator == 0);
        g += star && g[1] == '*' ? 2 : 1;
        std::fill(next.begin(), next.end(), 0);
        for (size_t j = 0; j <= n; ++j) {
            if (star) {
                // a star takes what it reached and any run after it (without a separator unless wide)
                next[j] = reach[j] || (j > 0 && next[j - 1] && (wide || text[j - 1] != separator));
            } else {
                next[j] = j > 0 && reach[j - 1] && text[j - 1] == g[-1];
            }
        }
        reach.swap(next);
    }
    return reach[n] != 0;
}

void SetLoadPatterns(const std::vector<LoadPattern>& patterns) {
    LoadPatterns& p = ThePatterns();
    OsLockGuard held(&p.lock);
    p.list = patterns;
    g_set.store(!patterns.empty(), std::memory_order_release);
}

bool LoadPatternsSet() { return g_set.load(std::memory_order_acquire); }

std::vector<LoadPattern> LoadPatternsNaming(const char* internalName) {
    std::vector<LoadPattern> naming;
    if (!LoadPatternsSet() || internalName == nullptr || std::strncmp(internalName, "com/vexo/", 9) == 0) return naming;
    LoadPatterns& p = ThePatterns();
    OsLockGuard held(&p.lock);
    for (const LoadPattern& pattern : p.list) {
        if (GlobMatches(pattern.classGlob.c_str(), internalName, '/')) naming.push_back(pattern);
    }
    return naming;
}

int32_t LoadPatternOptions(const std::vector<LoadPattern>& naming, const std::string& name,
                           const std::string& descriptor) {
    int32_t options = -1;
    for (const LoadPattern& pattern : naming) {
        if (!pattern.descriptor.empty() && pattern.descriptor != descriptor) continue;
        if (!GlobMatches(pattern.memberGlob.c_str(), name.c_str(), 0)) continue;
        options = (options < 0 ? 0 : options) | pattern.options;
    }
    return options;
}
