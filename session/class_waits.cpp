#include "session/class_waits.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "bridge/event_switches.h"
#include "bridge/jvmti_env.h"
#include "platform/os.h"
#include "trace/own_work.h"

namespace {
struct Waits {
    OsLock lock;
    std::vector<std::string> prefixes;  // internal names: "demo/Account", "org/h2/"
    std::vector<jclass> supertypes;     // global references
    jclass sessionClass = nullptr;
    jmethodID handler = nullptr;
};

Waits& TheWaits() {
    static Waits waits;
    static const bool ready = OsLockInit(&waits.lock);
    (void)ready;
    return waits;
}

std::atomic<bool> g_active{false};
bool g_marks = false;

// With the option "handlings": a line on standard output before and after each handing over,
// with the thread's number as the VM's logs show it (tests read it beside -Xlog's class loads).
void Mark(const char* what, jclass klass) {
    if (!g_marks) return;
    char* signature = nullptr;
    if (klass != nullptr) g_bridge.jvmti->GetClassSignature(klass, &signature, nullptr);
    std::printf("[%llu][vexo] %s %s\n", static_cast<unsigned long long>(OsThreadId()), what,
                signature != nullptr ? signature : "");
    std::fflush(stdout);
    if (signature != nullptr) g_bridge.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
}

// Set while this thread runs the session's handler; classes that prepare meanwhile wait in
// line and are handed over when it returns.
thread_local bool t_handling = false;
thread_local std::vector<jclass> t_queued;

void UpdateActive(const Waits& w) {
    g_active.store(w.handler != nullptr && (!w.prefixes.empty() || !w.supertypes.empty()),
                   std::memory_order_release);
    WantEvent(JVMTI_EVENT_CLASS_PREPARE, EventClient::kClassWaits, g_active.load(std::memory_order_acquire));
}

bool IsWaitedFor(JNIEnv* env, jclass klass) {
    char* signature = nullptr;
    if (g_bridge.jvmti->GetClassSignature(klass, &signature, nullptr) != JVMTI_ERROR_NONE) return false;
    // "Lorg/h2/Driver;" names the class org/h2/Driver; the tracer's own classes never pass.
    const char* name = signature + 1;
    bool passes = false;
    if (signature[0] == 'L' && std::strncmp(name, "com/vexo/", 9) != 0) {
        Waits& w = TheWaits();
        OsLockGuard held(&w.lock);
        for (const std::string& p : w.prefixes) {
            if (std::strncmp(name, p.c_str(), p.size()) == 0) {
                passes = true;
                break;
            }
        }
        for (size_t i = 0; !passes && i < w.supertypes.size(); ++i) {
            passes = env->IsAssignableFrom(klass, w.supertypes[i]) == JNI_TRUE;
        }
    }
    g_bridge.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    return passes;
}

void HandToSession(JNIEnv* env, jclass klass) {
    const Waits& w = TheWaits();
    env->CallStaticVoidMethod(w.sessionClass, w.handler, klass);
    if (env->ExceptionCheck()) env->ExceptionClear();  // the session reports its own failures
}
}  // namespace

void SetHandlingMarks(bool on) { g_marks = on; }

void SetPreparedHandler(JNIEnv* env, jclass sessionClass, jmethodID handler) {
    Waits& w = TheWaits();
    OsLockGuard held(&w.lock);
    if (w.sessionClass != nullptr) env->DeleteGlobalRef(w.sessionClass);
    w.sessionClass = static_cast<jclass>(env->NewGlobalRef(sessionClass));
    w.handler = handler;
}

void SetWaitedPrefixes(const std::vector<std::string>& prefixes) {
    Waits& w = TheWaits();
    OsLockGuard held(&w.lock);
    w.prefixes.clear();
    for (std::string p : prefixes) {
        for (char& c : p) {
            if (c == '.') c = '/';
        }
        w.prefixes.push_back(p);
    }
    UpdateActive(w);
}

void AddWaitedSupertype(JNIEnv* env, jclass type) {
    Waits& w = TheWaits();
    OsLockGuard held(&w.lock);
    bool known = false;
    for (jclass t : w.supertypes) known = known || env->IsSameObject(t, type);
    if (!known) w.supertypes.push_back(static_cast<jclass>(env->NewGlobalRef(type)));
    UpdateActive(w);
}

void ClearClassWaits() {
    JNIEnv* env = BridgeJni();
    Waits& w = TheWaits();
    OsLockGuard held(&w.lock);
    w.prefixes.clear();
    for (jclass t : w.supertypes) {
        if (env != nullptr) env->DeleteGlobalRef(t);
    }
    w.supertypes.clear();
    UpdateActive(w);
}

bool ClassWaitsActive() { return g_active.load(std::memory_order_acquire); }

void ClassWaitsOnClassPrepare(JNIEnv* env, jclass klass) {
    if (!ClassWaitsActive() || env == nullptr || !IsWaitedFor(env, klass)) return;
    if (t_handling) {
        t_queued.push_back(static_cast<jclass>(env->NewGlobalRef(klass)));
        return;
    }
    // The program's pending exception, if any, waits until the session is done.
    jthrowable pending = env->ExceptionOccurred();
    if (pending != nullptr) env->ExceptionClear();
    t_handling = true;
    BeginOwnWork();
    Mark("handling", klass);
    HandToSession(env, klass);
    while (!t_queued.empty()) {
        jclass next = t_queued.back();
        t_queued.pop_back();
        HandToSession(env, next);
        env->DeleteGlobalRef(next);
    }
    Mark("handled", nullptr);
    EndOwnWork();
    t_handling = false;
    if (pending != nullptr) {
        env->Throw(pending);
        env->DeleteLocalRef(pending);
    }
}
