#include "bridge/entry_hook.h"

#include <cstring>
#include <vector>

#include "bridge/class_rewriter.h"
#include "bridge/debug_events.h"
#include "bridge/entry_instrumentation.h"
#include "bridge/jvmpi_bridge.h"
#include "bridge/profiler_entries.h"

namespace {
// 0: not tried; 1: defined and bound; 2: failed.
int g_hookState = 0;

void U2(std::vector<uint8_t>* b, unsigned v) {
    b->push_back(static_cast<uint8_t>(v >> 8));
    b->push_back(static_cast<uint8_t>(v));
}

void Utf8(std::vector<uint8_t>* b, const char* s) {
    b->push_back(1);
    U2(b, static_cast<unsigned>(std::strlen(s)));
    b->insert(b->end(), s, s + std::strlen(s));
}

// public final class EntryHook { public static native void enter(Object receiver, int id); }
std::vector<uint8_t> HookClassFile() {
    std::vector<uint8_t> b = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 52};
    U2(&b, 7);  // constant pool count
    Utf8(&b, kEntryHookClass);       // #1
    b.push_back(7); U2(&b, 1);       // #2 Class #1
    Utf8(&b, "java/lang/Object");    // #3
    b.push_back(7); U2(&b, 3);       // #4 Class #3
    Utf8(&b, kEntryHookMethod);      // #5
    Utf8(&b, kEntryHookDescriptor);  // #6
    U2(&b, 0x0031);                  // public final super
    U2(&b, 2); U2(&b, 4);            // this, super
    U2(&b, 0); U2(&b, 0);            // interfaces, fields
    U2(&b, 1);                       // one method
    U2(&b, 0x0109); U2(&b, 5); U2(&b, 6); U2(&b, 0);  // public static native enter
    U2(&b, 0);                       // no class attributes
    return b;
}

// Runs at the start of every instrumented method, on the thread that entered it.
void JNICALL Enter(JNIEnv* env, jclass, jobject receiver, jint id) {
    if (id >= kProfilerEntryIdBase) {
        const jmethodID method = ProfilerEntryMethod(id);
        if (method != nullptr) JvmpiPostMethodEntry(env, method, receiver);
    } else {
        const jmethodID method = ArmedProbeMethod(id);
        if (method == nullptr) return;  // disarmed while this code version was still running
        BridgeRaiseMethodEntry(env, method, receiver);
        if (ProfilerEntriesOn()) JvmpiPostMethodEntry(env, method, receiver);
    }
    // Nothing the tracing did may change the program: no exception leaves the hook.
    if (env->ExceptionCheck()) env->ExceptionClear();
}
}  // namespace

bool InNamedModule(JNIEnv* env, jclass clazz, jobject* module) {
    jobject found = env->GetModule(clazz);
    if (found == nullptr) {
        env->ExceptionClear();
        if (module != nullptr) *module = nullptr;
        return false;
    }
    jclass moduleClass = env->GetObjectClass(found);
    const jmethodID isNamed = env->GetMethodID(moduleClass, "isNamed", "()Z");
    const bool named = isNamed != nullptr && env->CallBooleanMethod(found, isNamed);
    env->ExceptionClear();
    env->DeleteLocalRef(moduleClass);
    if (module != nullptr) *module = found;
    else env->DeleteLocalRef(found);
    return named;
}

bool EnsureEntryHookClass(JNIEnv* env) {
    if (g_hookState != 0) return g_hookState == 1;
    g_hookState = 2;
    const std::vector<uint8_t> bytes = HookClassFile();
    jclass hook = env->DefineClass(kEntryHookClass, nullptr, reinterpret_cast<const jbyte*>(bytes.data()),
                                   static_cast<jsize>(bytes.size()));
    if (hook == nullptr) {
        env->ExceptionClear();
        return false;
    }
    JNINativeMethod native = {const_cast<char*>(kEntryHookMethod),
                              const_cast<char*>(kEntryHookDescriptor), reinterpret_cast<void*>(Enter)};
    const bool bound = env->RegisterNatives(hook, &native, 1) == JNI_OK;
    if (!bound) env->ExceptionClear();
    env->DeleteLocalRef(hook);
    if (bound) g_hookState = 1;
    return bound;
}
