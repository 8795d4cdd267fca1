#include "trace/access_sites.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

#include "core/error_out.h"
#include "platform/os.h"
#include "trace/stack_frames.h"

namespace {
struct AccessSite {
    std::string className;  // dotted
    std::string methodName;
    std::string sourceFile;
    int32_t line = -1;
    jmethodID method = nullptr;  // a watch's site: named from the method at delivery
    jlocation location = 0;
    jobject element = nullptr;   // global reference, made at the first delivery of the site
    bool tried = false;          // an element was asked for (null: it could not be made)
};

using CodeKey = std::tuple<std::string, std::string, std::string, int32_t>;

struct AccessSites {
    OsLock lock;
    std::vector<AccessSite> sites;  // site n at n - 1
    std::map<CodeKey, int32_t> byPlace;
    std::map<std::pair<jmethodID, jlocation>, int32_t> byLocation;
    bool fullTold = false;
};

AccessSites& Sites() {
    static AccessSites* sites = [] {
        auto* made = new AccessSites();
        OsLockInit(&made->lock);
        return made;
    }();
    return *sites;
}

// A new site's number, under the lock; 0 when the table is full.
int32_t AddLocked(AccessSites& s, AccessSite site) {
    if (static_cast<int32_t>(s.sites.size()) >= kMaxAccessSites - 1) {
        if (!s.fullTold) ErrorOut("vexo: more than %d field access sites; the later ones are not named\n", kMaxAccessSites - 1);
        s.fullTold = true;
        return 0;
    }
    s.sites.push_back(std::move(site));
    return static_cast<int32_t>(s.sites.size());
}
}  // namespace

int32_t NumberCodeSite(const std::string& className, const std::string& methodName,
                       const std::string& sourceFile, int32_t line) {
    AccessSites& s = Sites();
    CodeKey key{className, methodName, sourceFile, line};
    OsLockGuard held(&s.lock);
    const auto at = s.byPlace.find(key);
    if (at != s.byPlace.end()) return at->second;
    AccessSite site;
    site.className = className;
    std::replace(site.className.begin(), site.className.end(), '/', '.');
    site.methodName = methodName;
    site.sourceFile = sourceFile;
    site.line = line;
    const int32_t number = AddLocked(s, std::move(site));
    if (number != 0) s.byPlace.emplace(std::move(key), number);
    return number;
}

namespace {
// The sites this thread's watches met most recently (a number, once given, stays its site's).
struct RecentMethodSite {
    jmethodID method = nullptr;
    jlocation location = 0;
    int32_t number = 0;
};
constexpr int kRecentWays = 8;
thread_local RecentMethodSite t_recent[kRecentWays];
}  // namespace

int32_t NumberMethodSite(jmethodID method, jlocation location) {
    if (method == nullptr) return 0;
    RecentMethodSite& recent =
        t_recent[(reinterpret_cast<uintptr_t>(method) / sizeof(void*) + static_cast<uintptr_t>(location)) % kRecentWays];
    if (recent.method == method && recent.location == location) return recent.number;
    AccessSites& s = Sites();
    const std::pair<jmethodID, jlocation> key{method, location};
    OsLockGuard held(&s.lock);
    const auto at = s.byLocation.find(key);
    int32_t number = 0;
    if (at != s.byLocation.end()) {
        number = at->second;
    } else {
        AccessSite site;
        site.method = method;
        site.location = location;
        number = AddLocked(s, std::move(site));
        if (number != 0) s.byLocation.emplace(key, number);
    }
    if (number != 0) recent = {method, location, number};
    return number;
}

jobject AccessSiteElement(JNIEnv* env, int32_t number) {
    AccessSites& s = Sites();
    AccessSite site;
    {
        OsLockGuard held(&s.lock);
        if (number <= 0 || number > static_cast<int32_t>(s.sites.size())) return nullptr;
        const AccessSite& known = s.sites[static_cast<size_t>(number - 1)];
        if (known.tried) return known.element == nullptr ? nullptr : env->NewLocalRef(known.element);
        site = known;
    }
    // Made without the lock (it runs Java code: the element's constructor).
    jobject element = site.method != nullptr ? FrameElement(env, site.method, site.location)
                                             : MadeFrameElement(env, site.className, site.methodName, site.sourceFile, site.line);
    jobject global = element == nullptr ? nullptr : env->NewGlobalRef(element);
    OsLockGuard held(&s.lock);
    AccessSite& known = s.sites[static_cast<size_t>(number - 1)];
    if (!known.tried) {
        known.tried = true;
        known.element = global;
    } else if (global != nullptr) {
        env->DeleteGlobalRef(global);
    }
    return element;
}

jobject SiteElementCache::Get(JNIEnv* env, int32_t site) {
    const int way = static_cast<int>(static_cast<uint32_t>(site) % kWays);
    if (sites[way] == site) return elements[way];
    if (elements[way] != nullptr) env->DeleteLocalRef(elements[way]);
    sites[way] = site;
    elements[way] = AccessSiteElement(env, site);
    return elements[way];
}

void SiteElementCache::Release(JNIEnv* env) {
    for (int way = 0; way < kWays; ++way) {
        if (elements[way] != nullptr) env->DeleteLocalRef(elements[way]);
        elements[way] = nullptr;
        sites[way] = 0;
    }
}

void ForgetAccessSiteElements(JNIEnv* env) {
    AccessSites& s = Sites();
    std::vector<jobject> made;
    {
        OsLockGuard held(&s.lock);
        for (AccessSite& site : s.sites) {
            if (site.element != nullptr) made.push_back(site.element);
            site.element = nullptr;
            site.tried = false;
        }
    }
    for (jobject global : made) env->DeleteGlobalRef(global);
}
