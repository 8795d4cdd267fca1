#include "trace/event_classes.h"

#include <atomic>

#include "core/error_out.h"

namespace {
const char* const kEventClassNames[kEventClassCount] = {
    "com/vexo/TraceMethodEvent",      "com/vexo/TraceFieldEvent",
    "com/vexo/TraceFieldIntEvent",    "com/vexo/TraceFieldDoubleEvent",
    "com/vexo/TraceFieldFloatEvent",  "com/vexo/TraceFieldObjectEvent",
};

// Written by registration, read by the debug hook and delivery on other threads.
std::atomic<jobject> g_panel{nullptr};
std::atomic<jclass> g_eventClasses[kEventClassCount];

// Looks the six classes up in order, stopping at the first missing one (its exception stays
// pending). Returns whether all were found; `found` holds local references.
bool FindEventClasses(JNIEnv* env, jclass* found) {
    for (int i = 0; i < kEventClassCount; ++i) {
        found[i] = env->FindClass(kEventClassNames[i]);
        if (found[i] == nullptr) {
            for (int j = 0; j < i; ++j) env->DeleteLocalRef(found[j]);
            return false;
        }
    }
    return true;
}

// Holds `found` as the registered classes. A class that is already held stays as it is, so a
// repeated registration neither churns nor drops references that delivery may be using.
void HoldEventClasses(JNIEnv* env, jclass* found) {
    for (int i = 0; i < kEventClassCount; ++i) {
        jclass held = g_eventClasses[i].load(std::memory_order_acquire);
        if (held == nullptr || !env->IsSameObject(held, found[i])) {
            g_eventClasses[i].store(static_cast<jclass>(env->NewGlobalRef(found[i])),
                                    std::memory_order_release);
            if (held != nullptr) env->DeleteGlobalRef(held);
        }
        env->DeleteLocalRef(found[i]);
    }
}

void DropEventClasses(JNIEnv* env) {
    for (auto& cell : g_eventClasses) {
        jclass held = cell.exchange(nullptr, std::memory_order_acq_rel);
        if (held != nullptr) env->DeleteGlobalRef(held);
    }
}
}  // namespace

void SetEventTreePanel(JNIEnv* env, jobject panel) {
    jobject old = g_panel.exchange(panel == nullptr ? nullptr : env->NewGlobalRef(panel),
                                   std::memory_order_acq_rel);
    if (old != nullptr) env->DeleteGlobalRef(old);

    jclass panelClass = panel == nullptr ? nullptr : env->GetObjectClass(panel);
    const bool hasDisplay =
        panelClass != nullptr &&
        env->GetMethodID(panelClass, "displayEvent", "(Ljava/lang/Object;)V") != nullptr;
    if (panelClass != nullptr) env->DeleteLocalRef(panelClass);
    if (!hasDisplay) {
        ErrorOut("ERROR: Vexo failed to find displayEvent method");
        return;
    }
    jclass found[kEventClassCount];
    if (!FindEventClasses(env, found)) {
        DropEventClasses(env);
        ErrorOut("ERROR: Vexo failed to find TraceMethodEvent class");
        return;
    }
    HoldEventClasses(env, found);
}

jclass EventClassRef(EventClass which) {
    return g_eventClasses[which].load(std::memory_order_acquire);
}

bool EventClassesRegistered() {
    return g_panel.load(std::memory_order_acquire) != nullptr &&
           EventClassRef(kMethodEventClass) != nullptr;
}
