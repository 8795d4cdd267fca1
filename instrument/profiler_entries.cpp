#include "instrument/profiler_entries.h"

#include <cstring>

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
    jobject hookModule = nullptr;           // global reference, once the hook class exists
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

// Defines the hook class (once) and keeps its module. A rewritten class must find it.
bool HookReady(JNIEnv* jni) {
    if (!EnsureEntryHookClass(jni)) return false;
    OsLockGuard held(&g_entries.lock);  // classes load on several threads at once
    if (g_entries.hookModule == nullptr) {
        jclass hook = jni->FindClass(kEntryHookClass);
        jobject module = hook != nullptr ? jni->GetModule(hook) : nullptr;
        jni->ExceptionClear();
        if (module != nullptr) g_entries.hookModule = jni->NewGlobalRef(module);
        if (module != nullptr) jni->DeleteLocalRef(module);
        if (hook != nullptr) jni->DeleteLocalRef(hook);
    }
    return true;
}

// Retransforms the loaded application classes (on a live VM), which the class file hook then
// rewrites with or without probes.
jvmtiError RetransformApplicationClasses(JNIEnv* jni) {
    jvmtiEnv* jvmti = g_entries.jvmti;
    jvmtiPhase phase = JVMTI_PHASE_ONLOAD;
    jvmti->GetPhase(&phase);
    if (phase != JVMTI_PHASE_LIVE) return JVMTI_ERROR_NONE;  // nothing of the application yet
    jint count = 0;
    jclass* classes = nullptr;
    if (jvmti->GetLoadedClasses(&count, &classes) != JVMTI_ERROR_NONE) return JVMTI_ERROR_INTERNAL;
    if (jni->EnsureLocalCapacity(count) != JNI_OK) jni->ExceptionClear();
    std::vector<jclass> chosen;
    for (jint i = 0; i < count; ++i) {
        jboolean modifiable = JNI_FALSE;
        jobject loader = nullptr;
        jobject module = nullptr;
        jvmti->IsModifiableClass(classes[i], &modifiable);
        jvmti->GetClassLoader(classes[i], &loader);
        if (modifiable && (ApplicationLoader(jni, loader) || (loader == nullptr && EndMarkClass(classes[i]))) &&
            !InNamedModule(jni, classes[i], &module)) {
            chosen.push_back(static_cast<jclass>(jni->NewGlobalRef(classes[i])));
        }
        if (module != nullptr) jni->DeleteLocalRef(module);
        if (loader != nullptr) jni->DeleteLocalRef(loader);
        jni->DeleteLocalRef(classes[i]);
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(classes));
    // The class file hook runs inside the call below with this frame's references counted as
    // its own: the class list is global references by then.
    jvmtiError error = JVMTI_ERROR_NONE;
    if (!chosen.empty()) {
        WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerRetransform, true);
        error = jvmti->RetransformClasses(static_cast<jint>(chosen.size()), chosen.data());
        if (error != JVMTI_ERROR_NONE) {
            // One class the VM refused fails them all: take them one by one, and let the
            // refused ones run as they are.
            error = JVMTI_ERROR_NONE;
            for (jclass c : chosen) jvmti->RetransformClasses(1, &c);
        }
        WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerRetransform, false);
    }
    for (jclass c : chosen) jni->DeleteGlobalRef(c);
    return error;
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
    OsLockEnter(&g_entries.switchLock);
    jvmtiError error = ReserveProfilerEntryMethods() ? JVMTI_ERROR_NONE : JVMTI_ERROR_OUT_OF_MEMORY;
    if (error == JVMTI_ERROR_NONE && on != ProfilerEntriesOn()) {
        SetProfilerEntriesOn(on);
        // Classes that load from now on are instrumented as they load, their methods resolved
        // as they are prepared.
        if (on) WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerEntries, true);
        WantEvent(JVMTI_EVENT_CLASS_PREPARE, EventClient::kProfilerEntryClasses, on);
        // Without JNI (while the VM starts) no application class is loaded yet.
        if (env != nullptr) error = RetransformApplicationClasses(env);
        if (!on) WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kProfilerEntries, false);
    }
    OsLockLeave(&g_entries.switchLock);
    return error;
}

PassResult ProfilerEntriesPass(LoadingClass* c, const uint8_t* data, size_t size) {
    PassResult result;
    JNIEnv* jni = c->jni;
    jobject loader = c->loader;
    const char* name = c->name;
    if (!ProfilerEntriesOn() || name == nullptr) return result;
    if (loader == nullptr && std::strcmp(name, kEndMarkClass) != 0) return result;
    // The class file hook may run inside a native's JNI DefineClass, on a handle block linked to
    // the native's: room declared above the fresh block's 32 keeps -Xcheck:jni from counting
    // the native's references against this hook's few.
    if (jni->EnsureLocalCapacity(kHookLocalRefs) != JNI_OK) jni->ExceptionClear();
    if (loader != nullptr && !ApplicationLoader(jni, loader)) return result;
    if (!HookReady(jni)) return result;
    std::vector<DeclaredMethod> methods;
    if (!ListInstrumentableMethods(data, size, &methods)) return result;
    std::vector<EntryProbe> probes;
    OsLockEnter(&g_entries.lock);
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
        if (InNamedModule(jni, klass, &module) && g_entries.hookModule != nullptr) {
            // The hook lives in the boot loader's unnamed module, which named modules do not read.
            g_entries.jvmti->AddModuleReads(module, g_entries.hookModule);
        }
        if (module != nullptr) jni->DeleteLocalRef(module);
        Resolve(klass, p.methods, p.ids);
        if (p.loader != nullptr) jni->DeleteWeakGlobalRef(p.loader);
        g_entries.pending.erase(g_entries.pending.begin() + static_cast<long>(i));
        break;
    }
    OsLockLeave(&g_entries.lock);
    if (loader != nullptr) jni->DeleteLocalRef(loader);
}
