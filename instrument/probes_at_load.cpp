#include "instrument/probes_at_load.h"

#include <cstring>
#include <string>

#include "bridge/jvmti_env.h"
#include "instrument/armed_members.h"
#include "instrument/class_rewriter.h"
#include "instrument/entry_hook.h"
#include "instrument/load_patterns.h"
#include "instrument/method_hook.h"

namespace {
constexpr uint16_t kAccBridge = 0x0040;

// Whether the probe made at load is of a class of this loader (a local or global reference, or
// null for the boot loader).
bool OfLoader(JNIEnv* env, const Probe& p, jobject loader) {
    return p.bootLoader ? loader == nullptr : loader != nullptr && env->IsSameObject(p.loader, loader);
}

// Whether JFR rewrites the class itself (see OfJfr), as far as its class file tells.
bool JfrRewrites(const char* name, const std::string& superName) {
    const auto in = [](const char* n, const char* package) { return std::strncmp(n, package, std::strlen(package)) == 0; };
    return in(name, "jdk/jfr/") || in(name, "jdk/internal/event/") || superName == "jdk/jfr/Event" ||
           superName == "jdk/internal/event/Event";
}

// Whether code of the class loading as `c` can call the hook classes: its package is in no
// named module, or in one that reads the hooks' module already (a read is not added here: it
// runs Java code).
bool ReachesTheHooksAtLoad(const LoadingClass* c) {
    const char* slash = std::strrchr(c->name, '/');
    const std::string package = slash == nullptr ? std::string() : std::string(c->name, slash);
    jobject module = nullptr;
    if (g_inst.jvmti->GetNamedModule(c->loader, package.c_str(), &module) != JVMTI_ERROR_NONE) return false;
    if (module == nullptr) return true;
    const bool reads = ModuleReadsTheHooks(c->jni, module);
    c->jni->DeleteLocalRef(module);
    return reads;
}

// The probe of `m` made as the class `c` loads, the one made for it before when an earlier
// definition of the class ran this hook (so that whichever definition wins calls the hook with
// the same id); -1 when the table is full. Under the lock.
jint ProbeMadeAtLoad(const LoadingClass* c, const DeclaredMethod& m, int32_t options) {
    std::vector<jint>& ids = g_inst.madeAtLoad[c->name];
    for (jint id : ids) {
        Probe& p = g_inst.probes[static_cast<size_t>(id)];
        if (p.name != m.name || p.descriptor != m.descriptor || !OfLoader(c->jni, p, c->loader)) continue;
        p.loadOptions = options;
        return id;
    }
    if (static_cast<jint>(g_inst.probes.size()) >= kMaxProbes) return -1;
    g_inst.probes.emplace_back();
    Probe& p = g_inst.probes.back();
    p.name = m.name;
    p.descriptor = m.descriptor;
    p.className = c->name;
    p.fit = true;
    p.atLoad = true;
    p.loadOptions = options;
    p.bootLoader = c->loader == nullptr;
    if (c->loader != nullptr) p.loader = c->jni->NewWeakGlobalRef(c->loader);
    ids.push_back(ProbeId(&p));
    return ProbeId(&p);
}
}  // namespace

PassResult ProbesAtLoadPass(LoadingClass* c, const uint8_t* data, size_t size) {
    PassResult result;
    if (!g_inst.available || !EntryHookClassReady()) return result;
    const std::vector<LoadPattern> naming = LoadPatternsNaming(c->name);
    if (naming.empty()) return result;
    std::vector<DeclaredMethod> methods;
    std::string superName;
    if (!ListInstrumentableMethods(data, size, &methods, &superName) || JfrRewrites(c->name, superName) ||
        !ReachesTheHooksAtLoad(c)) {
        return result;
    }
    std::vector<std::pair<DeclaredMethod, int32_t>> named;
    for (const DeclaredMethod& m : methods) {
        if ((m.access & kAccBridge) || m.name == "<clinit>") continue;
        const int32_t options = LoadPatternOptions(naming, m.name, m.descriptor);
        if (options >= 0 && (options == 0 || MethodHookClassReady())) named.emplace_back(m, options);
    }
    if (named.empty() || !EnterWithinAMillisecond(&g_inst.lock)) return result;
    OsLockGuard held(&g_inst.lock, OsLockEntered());
    std::vector<EntryProbe> entries;
    for (const auto& n : named) {
        const jint id = ProbeMadeAtLoad(c, n.first, n.second);
        if (id < 0) break;
        g_inst.probes[static_cast<size_t>(id)].instrumented = false;
        if (n.second != 0) {
            ProbeShape shape;
            if (ShapeOf(n.first.descriptor, n.second, &shape)) {
                PublishProbeShape(id, shape);
                c->probesAtLoad.push_back(id);
            }
            continue;
        }
        entries.push_back({n.first.name, n.first.descriptor, id, false});
        c->entriesTaken.push_back({n.first.name, n.first.descriptor});
    }
    if (!entries.empty()) RewriteForEntryProbes(data, size, &entries, &result);
    return result;
}

Probe* AdoptProbeMadeAtLoad(JNIEnv* env, Probe* described) {
    if (g_inst.madeAtLoad.empty() || described->declaringClass == nullptr) return nullptr;
    const auto ofClass = g_inst.madeAtLoad.find(described->className);
    if (ofClass == g_inst.madeAtLoad.end()) return nullptr;
    jobject loader = nullptr;
    if (g_inst.jvmti->GetClassLoader(described->declaringClass, &loader) != JVMTI_ERROR_NONE) return nullptr;
    Probe* adopted = nullptr;
    std::vector<jint>& ids = ofClass->second;
    for (size_t i = 0; i < ids.size() && adopted == nullptr; ++i) {
        Probe& p = g_inst.probes[static_cast<size_t>(ids[i])];
        if (p.name != described->name || p.descriptor != described->descriptor || !OfLoader(env, p, loader)) continue;
        adopted = &p;
        ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (ids.empty()) g_inst.madeAtLoad.erase(ofClass);
    if (loader != nullptr) env->DeleteLocalRef(loader);
    if (adopted == nullptr) return nullptr;
    if (adopted->loader != nullptr) env->DeleteWeakGlobalRef(adopted->loader);
    adopted->loader = nullptr;
    adopted->method = described->method;
    adopted->declaringClass = described->declaringClass;
    adopted->fit = described->fit;
    adopted->unfit = described->unfit;
    adopted->constructor = described->constructor;
    return adopted;
}

void ForgetProbesMadeAtLoad(const LoadingClass* c) {
    if (c->name == nullptr || g_inst.madeAtLoad.empty()) return;
    const auto ofClass = g_inst.madeAtLoad.find(c->name);
    if (ofClass == g_inst.madeAtLoad.end()) return;
    std::vector<jint>& ids = ofClass->second;
    for (size_t i = ids.size(); i-- > 0;) {
        Probe& p = g_inst.probes[static_cast<size_t>(ids[i])];
        if (!OfLoader(c->jni, p, c->loader)) continue;
        p.instrumented = false;
        p.atLoad = false;
        ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (ids.empty()) g_inst.madeAtLoad.erase(ofClass);
}

std::vector<jclass> ClassesKeepingUnarmedProbes(JNIEnv* env) {
    OsLockGuard held(&g_inst.lock);
    std::vector<jclass> classes;
    auto add = [&](jclass clazz) {
        bool seen = false;
        for (jclass k : classes) seen = seen || env->IsSameObject(k, clazz);
        if (!seen) classes.push_back(static_cast<jclass>(env->NewLocalRef(clazz)));
    };
    for (const Probe& p : g_inst.probes) {
        if (p.atLoad && p.instrumented && !p.wanted && p.declaringClass != nullptr) add(p.declaringClass);
    }
    if (!g_inst.madeAtLoad.empty()) {
        jint count = 0;
        jclass* loaded = nullptr;
        if (g_inst.jvmti->GetLoadedClasses(&count, &loaded) == JVMTI_ERROR_NONE) {
            if (env->EnsureLocalCapacity(count + 16) != JNI_OK) env->ExceptionClear();
            for (jint i = 0; i < count; ++i) {
                char* signature = nullptr;
                jobject loader = nullptr;
                if (g_inst.jvmti->GetClassSignature(loaded[i], &signature, nullptr) == JVMTI_ERROR_NONE &&
                    signature[0] == 'L' && g_inst.jvmti->GetClassLoader(loaded[i], &loader) == JVMTI_ERROR_NONE) {
                    const auto ofClass = g_inst.madeAtLoad.find(std::string(signature + 1, std::strlen(signature) - 2));
                    bool made = false;
                    if (ofClass != g_inst.madeAtLoad.end()) {
                        for (jint id : ofClass->second) {
                            const Probe& p = g_inst.probes[static_cast<size_t>(id)];
                            made = made || (p.instrumented && OfLoader(env, p, loader));
                        }
                    }
                    if (made) add(loaded[i]);
                }
                if (signature != nullptr) g_inst.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
                if (loader != nullptr) env->DeleteLocalRef(loader);
                env->DeleteLocalRef(loaded[i]);
            }
            g_inst.jvmti->Deallocate(reinterpret_cast<unsigned char*>(loaded));
        }
    }
    return classes;
}
