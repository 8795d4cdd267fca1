#include "instrument/profiler_entries.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_map>

#include "bridge/declared_members.h"
#include "bridge/event_switches.h"
#include "instrument/armed_members.h"
#include "instrument/entry_hook.h"
#include "platform/os.h"

namespace {
constexpr jint kHookLocalRefs = 64;  // what the class file hook may hold at once, and more than 32

struct PendingClass {
    std::string name;  // internal form, pkg/Name
    jweak loader;      // null for no loader object
    std::vector<jint> ids;
    std::vector<DeclaredMethod> methods;
};

// A class with methods the profiler asked entries of, once it filters them.
struct WantedClass {
    jclass klass = nullptr;  // global reference
    std::vector<jmethodID> methods;
};

struct ProfilerEntries {
    jvmtiEnv* jvmti = nullptr;
    bool available = false;
    OsLock switchLock;  // one switch at a time; held across the retransformation
    // The probes and pending classes. Taken in the class file hook (after the trace point probes'
    // lock, on a thread that retransforms under it), and never held across a JVMTI call that can
    // run that hook.
    OsLock lock;
    jint nextId = 0;                        // the next probe's offset from the base
    std::vector<PendingClass> pending;      // rewritten at load, not yet prepared
    // Once the profiler filters entries: only the methods asked for get probes, each under one
    // id for good.
    std::atomic<bool> filtered{false};
    std::vector<WantedClass> wanted;
    std::unordered_map<jmethodID, jint> idOfMethod;  // the offset from the base
};

ProfilerEntries g_entries;

jmethodID FindMethod(jvmtiEnv* jvmti, jclass klass, const DeclaredMethod& wanted) {
    jint count = 0;
    jmethodID* methods = nullptr;
    jmethodID found = nullptr;
    if (jvmti->GetClassMethods(klass, &count, &methods) != JVMTI_ERROR_NONE) return nullptr;
    for (jint i = 0; i < count && found == nullptr; ++i) {
        char* name = nullptr;
        char* signature = nullptr;
        if (jvmti->GetMethodName(methods[i], &name, &signature, nullptr) != JVMTI_ERROR_NONE) continue;
        if (wanted.name == name && wanted.descriptor == signature) found = methods[i];
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(methods));
    return found;
}

void Resolve(jclass klass, const std::vector<DeclaredMethod>& methods, const std::vector<jint>& ids) {
    for (size_t i = 0; i < methods.size(); ++i) {
        SetProfilerEntryMethod(ids[i], FindMethod(g_entries.jvmti, klass, methods[i]));
    }
}

// Classes the hook may be put in: application classes (a loader that is neither the boot nor
// the platform loader). Told by the loader's class, without running Java code: this runs while
// classes load.
// The tracer's end mark, which the in-VM session runs from the boot class path: entered like an
// application class, so that the session can tell when everything recorded has arrived.
constexpr char kEndMarkClass[] = "com/vexo/cli/EndMark";

bool EndMarkClass(jclass klass) {
    char* signature = nullptr;
    if (g_entries.jvmti->GetClassSignature(klass, &signature, nullptr) != JVMTI_ERROR_NONE) return false;
    const bool mark = std::strncmp(signature + 1, kEndMarkClass, sizeof kEndMarkClass - 1) == 0 &&
                      signature[sizeof kEndMarkClass] == ';';
    g_entries.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    return mark;
}

bool ApplicationLoader(JNIEnv* jni, jobject loader) {
    if (loader == nullptr) return false;
    jclass loaderClass = jni->GetObjectClass(loader);
    char* signature = nullptr;
    bool application = true;
    if (g_entries.jvmti->GetClassSignature(loaderClass, &signature, nullptr) == JVMTI_ERROR_NONE) {
        application = std::strcmp(signature, "Ljdk/internal/loader/ClassLoaders$PlatformClassLoader;") != 0;
        g_entries.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    }
    jni->DeleteLocalRef(loaderClass);
    return application;
}

// Whether the class file hook may rewrite `klass` when it is retransformed: a modifiable
// application class (or the end mark) outside the named modules.
bool Retransformable(JNIEnv* jni, jclass klass) {
    jvmtiEnv* jvmti = g_entries.jvmti;
    jboolean modifiable = JNI_FALSE;
    jobject loader = nullptr;
    jobject module = nullptr;
    jvmti->IsModifiableClass(klass, &modifiable);
    jvmti->GetClassLoader(klass, &loader);
    const bool chosen = modifiable && (ApplicationLoader(jni, loader) || (loader == nullptr && EndMarkClass(klass))) &&
                        !InNamedModule(jni, klass, &module);
    if (module != nullptr) jni->DeleteLocalRef(module);
    if (loader != nullptr) jni->DeleteLocalRef(loader);
    return chosen;
}

// Retransforms `chosen` (global references), which the class file hook then rewrites with or
// without probes. The hook runs inside the call with the caller's frame's references counted as
// its own: hence global references.
jvmtiError Retransform(const std::vector<jclass>& chosen) {
    if (chosen.empty()) return JVMTI_ERROR_NONE;
    jvmtiEnv* jvmti = g_entries.jvmti;
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerRetransform, true);
    jvmtiError error = jvmti->RetransformClasses(static_cast<jint>(chosen.size()), chosen.data());
    if (error != JVMTI_ERROR_NONE) {
        // One class the VM refused fails them all: take them one by one, and let the refused
        // ones run as they are.
        error = JVMTI_ERROR_NONE;
        for (jclass c : chosen) jvmti->RetransformClasses(1, &c);
    }
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerRetransform, false);
    return error;
}

bool LiveVm() {
    jvmtiPhase phase = JVMTI_PHASE_ONLOAD;
    g_entries.jvmti->GetPhase(&phase);
    return phase == JVMTI_PHASE_LIVE;
}

// Retransforms the loaded application classes (on a live VM).
jvmtiError RetransformApplicationClasses(JNIEnv* jni) {
    jvmtiEnv* jvmti = g_entries.jvmti;
    if (!LiveVm()) return JVMTI_ERROR_NONE;  // nothing of the application yet
    jint count = 0;
    jclass* classes = nullptr;
    if (jvmti->GetLoadedClasses(&count, &classes) != JVMTI_ERROR_NONE) return JVMTI_ERROR_INTERNAL;
    if (jni->EnsureLocalCapacity(count) != JNI_OK) jni->ExceptionClear();
    std::vector<jclass> chosen;
    for (jint i = 0; i < count; ++i) {
        if (Retransformable(jni, classes[i])) chosen.push_back(static_cast<jclass>(jni->NewGlobalRef(classes[i])));
        jni->DeleteLocalRef(classes[i]);
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(classes));
    const jvmtiError error = Retransform(chosen);
    for (jclass c : chosen) jni->DeleteGlobalRef(c);
    return error;
}

// Retransforms the retransformable classes among `classes` (global references), each once.
jvmtiError RetransformWanted(JNIEnv* jni, const std::vector<jclass>& classes) {
    if (!LiveVm()) return JVMTI_ERROR_NONE;
    std::vector<jclass> chosen;
    for (jclass c : classes) {
        bool seen = false;
        for (jclass k : chosen) seen = seen || jni->IsSameObject(k, c);
        if (!seen && Retransformable(jni, c)) chosen.push_back(c);
    }
    return Retransform(chosen);
}

// The probes of the wanted methods of `klass`, which is being retransformed, but those whose
// entry a trace point's probe takes. Under the lock.
void AddWantedProbes(JNIEnv* jni, const LoadingClass& c, const std::vector<DeclaredMethod>& instrumentable,
                     std::vector<EntryProbe>* probes) {
    for (const WantedClass& w : g_entries.wanted) {
        if (!jni->IsSameObject(w.klass, c.classBeingRedefined)) continue;
        for (jmethodID m : w.methods) {
            char* name = nullptr;
            char* signature = nullptr;
            if (g_entries.jvmti->GetMethodName(m, &name, &signature, nullptr) != JVMTI_ERROR_NONE) continue;
            bool found = false;
            for (const DeclaredMethod& d : instrumentable) found = found || (d.name == name && d.descriptor == signature);
            for (const DeclaredMethod& t : c.entriesTaken) found = found && !(t.name == name && t.descriptor == signature);
            const auto id = g_entries.idOfMethod.find(m);
            if (found && id != g_entries.idOfMethod.end()) {
                probes->push_back({name, signature, kProfilerEntryIdBase + id->second, false});
            }
            g_entries.jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
            g_entries.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
        }
        return;
    }
}

// Classes that load while every class's entries are on are instrumented as they load, their
// methods resolved as they are prepared; with a filter, only loaded classes have wanted methods.
void WantLoadingClasses(bool on) {
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerEntries, on);
    WantEvent(JVMTI_EVENT_CLASS_PREPARE, EventClient::kProfilerEntryClasses, on);
}

// The classes whose wanted methods differ between `before` and `now` (a set grows by a class at a
// time as a pattern arms classes that load: the others keep their code).
std::vector<jclass> ChangedClasses(JNIEnv* jni, const std::vector<WantedClass>& before,
                                   const std::vector<WantedClass>& now) {
    auto same = [](std::vector<jmethodID> a, std::vector<jmethodID> b) {
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        a.erase(std::unique(a.begin(), a.end()), a.end());
        b.erase(std::unique(b.begin(), b.end()), b.end());
        return a == b;
    };
    std::vector<jclass> changed;
    for (const std::vector<WantedClass>* side : {&before, &now}) {
        const std::vector<WantedClass>& other = side == &before ? now : before;
        for (const WantedClass& w : *side) {
            const WantedClass* match = nullptr;
            for (const WantedClass& o : other) match = match == nullptr && jni->IsSameObject(o.klass, w.klass) ? &o : match;
            if (match == nullptr || !same(w.methods, match->methods)) changed.push_back(w.klass);
        }
    }
    return changed;
}

std::vector<jclass> WantedClasses() {
    std::vector<jclass> classes;
    for (const WantedClass& w : g_entries.wanted) classes.push_back(w.klass);
    return classes;
}
}  // namespace

void ProfilerEntriesInit(jvmtiEnv* jvmti) {
    OsLockInit(&g_entries.lock);
    OsLockInit(&g_entries.switchLock);
    g_entries.jvmti = jvmti;
    jvmtiCapabilities granted = {};
    jvmti->GetCapabilities(&granted);
    g_entries.available = granted.can_retransform_classes && ReserveProfilerEntryMethods();
}

bool ProfilerEntriesAvailable() { return g_entries.available; }

jvmtiError SetProfilerEntries(JNIEnv* env, bool on) {
    if (!g_entries.available) return JVMTI_ERROR_MUST_POSSESS_CAPABILITY;
    OsLockGuard guard(&g_entries.switchLock);
    if (!ReserveProfilerEntryMethods()) return JVMTI_ERROR_OUT_OF_MEMORY;
    if (on == ProfilerEntriesOn()) return JVMTI_ERROR_NONE;
    SetProfilerEntriesOn(on);
    if (g_entries.filtered.load(std::memory_order_relaxed)) {
        return env != nullptr ? RetransformWanted(env, WantedClasses()) : JVMTI_ERROR_NONE;
    }
    if (on) WantLoadingClasses(true);
    // Without JNI (while the VM starts) no application class is loaded yet.
    const jvmtiError error = env != nullptr ? RetransformApplicationClasses(env) : JVMTI_ERROR_NONE;
    if (!on) WantLoadingClasses(false);
    return error;
}

jvmtiError SetProfilerEntryFilter(JNIEnv* env, jint count, const jmethodID* methods) {
    if (!g_entries.available) return JVMTI_ERROR_MUST_POSSESS_CAPABILITY;
    if (count > 0 && env == nullptr) return JVMTI_ERROR_UNATTACHED_THREAD;
    OsLockGuard guard(&g_entries.switchLock);
    if (!ReserveProfilerEntryMethods()) return JVMTI_ERROR_OUT_OF_MEMORY;
    std::vector<WantedClass> wanted;
    for (jint i = 0; i < count; ++i) {
        jclass declaring = nullptr;
        if (methods[i] == nullptr ||
            g_entries.jvmti->GetMethodDeclaringClass(methods[i], &declaring) != JVMTI_ERROR_NONE) {
            continue;
        }
        WantedClass* into = nullptr;
        for (WantedClass& w : wanted) into = into == nullptr && env->IsSameObject(w.klass, declaring) ? &w : into;
        if (into == nullptr) {
            wanted.push_back({static_cast<jclass>(env->NewGlobalRef(declaring)), {}});
            into = &wanted.back();
        }
        env->DeleteLocalRef(declaring);
        into->methods.push_back(methods[i]);
    }
    const bool wasFiltered = g_entries.filtered.load(std::memory_order_relaxed);
    {
        OsLockGuard lock(&g_entries.lock);
        for (const WantedClass& w : wanted) {
            for (jmethodID m : w.methods) {
                if (g_entries.idOfMethod.count(m) != 0 || g_entries.nextId >= kMaxProfilerEntries) continue;
                const jint offset = g_entries.nextId++;
                g_entries.idOfMethod.emplace(m, offset);
                SetProfilerEntryMethod(kProfilerEntryIdBase + offset, m);
            }
        }
        g_entries.wanted.swap(wanted);  // `wanted` holds the classes of the set replaced
        g_entries.filtered.store(true, std::memory_order_release);
    }
    jvmtiError error = JVMTI_ERROR_NONE;
    if (ProfilerEntriesOn() && env != nullptr) {
        if (!wasFiltered) {
            // Every application class has probes: rewritten again, each keeps the wanted ones.
            WantLoadingClasses(false);
            error = RetransformApplicationClasses(env);
        } else {
            error = RetransformWanted(env, ChangedClasses(env, wanted, g_entries.wanted));
        }
    }
    for (const WantedClass& w : wanted) env->DeleteGlobalRef(w.klass);
    return error;
}

PassResult ProfilerEntriesPass(LoadingClass* c, const uint8_t* data, size_t size) {
    PassResult result;
    JNIEnv* jni = c->jni;
    jobject loader = c->loader;
    const char* name = c->name;
    if (!ProfilerEntriesOn() || name == nullptr) return result;
    // Wanted methods belong to classes already loaded: a class loading now has none.
    if (c->classBeingRedefined == nullptr && g_entries.filtered.load(std::memory_order_acquire)) return result;
    if (loader == nullptr && std::strcmp(name, kEndMarkClass) != 0) return result;
    // The class file hook may run inside a native's JNI DefineClass, on a handle block linked to
    // the native's: room declared above the fresh block's 32 keeps -Xcheck:jni from counting
    // the native's references against this hook's few.
    if (jni->EnsureLocalCapacity(kHookLocalRefs) != JNI_OK) jni->ExceptionClear();
    if (loader != nullptr && !ApplicationLoader(jni, loader)) return result;
    if (!EnsureEntryHookClass(jni)) return result;
    std::vector<DeclaredMethod> methods;
    if (!ListInstrumentableMethods(data, size, &methods)) return result;
    std::vector<EntryProbe> probes;
    OsLockEnter(&g_entries.lock);
    if (g_entries.filtered.load(std::memory_order_relaxed)) {
        AddWantedProbes(jni, *c, methods, &probes);
        OsLockLeave(&g_entries.lock);
        if (!probes.empty()) RewriteClass(data, size, &probes, &result.bytes);
        return result;
    }
    std::vector<DeclaredMethod> chosen;
    std::vector<jint> ids;
    for (const DeclaredMethod& m : methods) {
        bool traced = false;
        for (const DeclaredMethod& t : c->entriesTaken) traced = traced || (t.name == m.name && t.descriptor == m.descriptor);
        if (traced || g_entries.nextId >= kMaxProfilerEntries) continue;
        const jint id = kProfilerEntryIdBase + g_entries.nextId++;
        probes.push_back({m.name, m.descriptor, id, false});
        chosen.push_back(m);
        ids.push_back(id);
    }
    if (c->classBeingRedefined != nullptr) {
        Resolve(c->classBeingRedefined, chosen, ids);  // the class exists: its methods are known
    } else if (!chosen.empty()) {
        g_entries.pending.push_back({name, loader != nullptr ? jni->NewWeakGlobalRef(loader) : nullptr,
                                     ids, chosen});
    }
    OsLockLeave(&g_entries.lock);
    // Nothing to take back when the class stays as it was: a probe it does not call is never
    // entered.
    if (!probes.empty()) RewriteClass(data, size, &probes, &result.bytes);
    return result;
}

void ProfilerEntriesOnClassPrepare(JNIEnv* jni, jclass klass) {
    if (!g_entries.available) return;  // no class was instrumented for its entries
    char* signature = nullptr;
    if (g_entries.jvmti->GetClassSignature(klass, &signature, nullptr) != JVMTI_ERROR_NONE) return;
    std::string name = signature;
    g_entries.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    if (name.size() < 3 || name[0] != 'L') return;
    name = name.substr(1, name.size() - 2);
    jobject loader = nullptr;
    g_entries.jvmti->GetClassLoader(klass, &loader);
    OsLockEnter(&g_entries.lock);
    for (size_t i = 0; i < g_entries.pending.size(); ++i) {
        PendingClass& p = g_entries.pending[i];
        if (p.name != name || !jni->IsSameObject(p.loader, loader)) continue;
        jobject module = nullptr;
        if (InNamedModule(jni, klass, &module)) LetModuleReadTheHooks(module);  // defined: it has probes
        if (module != nullptr) jni->DeleteLocalRef(module);
        Resolve(klass, p.methods, p.ids);
        if (p.loader != nullptr) jni->DeleteWeakGlobalRef(p.loader);
        g_entries.pending.erase(g_entries.pending.begin() + static_cast<long>(i));
        break;
    }
    OsLockLeave(&g_entries.lock);
    if (loader != nullptr) jni->DeleteLocalRef(loader);
}
