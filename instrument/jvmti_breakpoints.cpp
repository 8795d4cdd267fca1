#include "instrument/jvmti_breakpoints.h"

// Lock order: the breakpoints' lock is a leaf; it is taken under the field arming and the entry
// instrumentation locks (see instrument/entry_instrumentation.cpp).

#include <vector>

#include "bridge/jvmti_env.h"
#include "platform/os.h"

namespace {
struct JvmtiBreakpoint {
    jmethodID method;
    jlocation location;
};

struct JvmtiBreakpoints {
    jvmtiEnv* jvmti = nullptr;
    OsLock lock;
    std::vector<JvmtiBreakpoint> set;
};

JvmtiBreakpoints g_breakpoints;
}  // namespace

void JvmtiBreakpointsInit(jvmtiEnv* jvmti) {
    OsLockInit(&g_breakpoints.lock);
    g_breakpoints.jvmti = jvmti;
}

jvmtiError SetJvmtiBreakpoint(jmethodID method, jlocation location) {
    const jvmtiError error = g_breakpoints.jvmti->SetBreakpoint(method, location);
    if (error == JVMTI_ERROR_NONE) {
        OsLockGuard held(&g_breakpoints.lock);
        g_breakpoints.set.push_back({method, location});
    }
    return error;
}

jvmtiError ClearJvmtiBreakpoint(jmethodID method, jlocation location) {
    {
        OsLockGuard held(&g_breakpoints.lock);
        std::vector<JvmtiBreakpoint>& set = g_breakpoints.set;
        for (size_t i = 0; i < set.size(); ++i) {
            if (set[i].method == method && set[i].location == location) {
                set.erase(set.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
    }
    return g_breakpoints.jvmti->ClearBreakpoint(method, location);
}

void RestoreBreakpointsOf(jclass clazz) {
    JNIEnv* env = BridgeJni();
    jvmtiEnv* jvmti = g_breakpoints.jvmti;
    if (env == nullptr || jvmti == nullptr) return;
    OsLockGuard held(&g_breakpoints.lock);
    for (const JvmtiBreakpoint& b : g_breakpoints.set) {
        jclass declaring = nullptr;
        if (jvmti->GetMethodDeclaringClass(b.method, &declaring) != JVMTI_ERROR_NONE) continue;
        if (env->IsSameObject(declaring, clazz)) jvmti->SetBreakpoint(b.method, b.location);
        env->DeleteLocalRef(declaring);
    }
}
