#include "bridge/jvmdi_bridge.h"

#include "bridge/debug_events.h"
#include "bridge/field_watch_gate.h"
#include "bridge/jvmti_env.h"

namespace {
DebugRoads g_roads;  // set once, before the table is handed out

jvmdiError SetWatch(FieldWatchKind kind, jclass clazz, jfieldID field) {
    return g_roads.setFieldWatch != nullptr ? g_roads.setFieldWatch(kind, clazz, field) : JVMDI_ERROR_NOT_IMPLEMENTED;
}

jvmdiError ClearWatch(FieldWatchKind kind, jclass clazz, jfieldID field) {
    return g_roads.clearFieldWatch != nullptr ? g_roads.clearFieldWatch(kind, clazz, field) : JVMDI_ERROR_NOT_IMPLEMENTED;
}
}  // namespace

void JvmdiBridgeUseRoads(const DebugRoads& roads) { g_roads = roads; }

namespace {
jvmdiError FromJvmti(jvmtiError error) {
    // The JVMTI codes the calls below can give keep the numbers the debug interface used.
    return static_cast<jvmdiError>(error);
}

jvmdiError JNICALL SetEventHook(JVMDI_EventHook hook) {
    g_bridge.debugHook.store(hook, std::memory_order_release);
    return JVMDI_ERROR_NONE;
}

// Kinds the debug interface knows but the bridge never raises: switching them off is always
// granted, switching them on is not implemented.
bool IsUnservedKind(jint kind) {
    switch (kind) {
        case JVMDI_EVENT_SINGLE_STEP: case JVMDI_EVENT_FRAME_POP: case JVMDI_EVENT_EXCEPTION:
        case JVMDI_EVENT_USER_DEFINED: case JVMDI_EVENT_THREAD_START:
        case JVMDI_EVENT_THREAD_END: case JVMDI_EVENT_CLASS_PREPARE:
        case JVMDI_EVENT_CLASS_UNLOAD: case JVMDI_EVENT_CLASS_LOAD:
        case JVMDI_EVENT_EXCEPTION_CATCH: case JVMDI_EVENT_METHOD_ENTRY:
        case JVMDI_EVENT_METHOD_EXIT: case JVMDI_EVENT_VM_INIT: case JVMDI_EVENT_VM_DEATH:
            return true;
        default:
            return false;
    }
}

jvmdiError SetEventNotificationMode(jint mode, jint kind, jthread thread, ...) {
    if (mode != JVMDI_ENABLE && mode != JVMDI_DISABLE) return JVMDI_ERROR_ILLEGAL_ARGUMENT;
    const bool enable = mode == JVMDI_ENABLE;
    switch (kind) {
        case JVMDI_EVENT_BREAKPOINT:
            return FromJvmti(g_bridge.jvmti->SetEventNotificationMode(
                enable ? JVMTI_ENABLE : JVMTI_DISABLE, JVMTI_EVENT_BREAKPOINT, thread));
        case JVMDI_EVENT_FIELD_ACCESS:
        case JVMDI_EVENT_FIELD_MODIFICATION:
            if (thread != nullptr) return JVMDI_ERROR_NOT_IMPLEMENTED;
            GateSetWanted(kind == JVMDI_EVENT_FIELD_ACCESS ? kAccessWatch : kModificationWatch,
                          enable);
            return JVMDI_ERROR_NONE;
        default:
            if (!IsUnservedKind(kind)) return JVMDI_ERROR_INVALID_EVENT_TYPE;
            return enable ? JVMDI_ERROR_NOT_IMPLEMENTED : JVMDI_ERROR_NONE;
    }
}

jvmdiError JNICALL GetCapabilities(JVMDI_capabilities* capabilities) {
    if (capabilities == nullptr) return JVMDI_ERROR_NULL_POINTER;
    *capabilities = JVMDI_capabilities{};
    // Fields are watched by instrumentation where it can serve them, also without JVMTI's
    // field events (an agent loaded late).
    const bool instrumented = (g_roads.fieldsInstrumented != nullptr && g_roads.fieldsInstrumented());
    capabilities->can_watch_field_modification =
        instrumented || g_bridge.granted.can_generate_field_modification_events;
    capabilities->can_watch_field_access = instrumented || g_bridge.granted.can_generate_field_access_events;
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL GetVersionNumber(jint* version) {
    if (version == nullptr) return JVMDI_ERROR_NULL_POINTER;
    *version = JVMDI_VERSION_1;
    return JVMDI_ERROR_NONE;
}

// A method is identified on its own; the class is not needed. Entry breakpoints are served
// by instrumentation where the method allows it, else by JVMTI breakpoints.
jvmdiError JNICALL SetBreakpoint(jclass, jmethodID method, jlocation location) {
    return g_roads.setBreakpoint != nullptr ? g_roads.setBreakpoint(method, location) : JVMDI_ERROR_NOT_IMPLEMENTED;
}

jvmdiError JNICALL ClearBreakpoint(jclass, jmethodID method, jlocation location) {
    return g_roads.clearBreakpoint != nullptr ? g_roads.clearBreakpoint(method, location) : JVMDI_ERROR_NOT_IMPLEMENTED;
}

// Field watches are served by instrumenting the field's sites where it can be done, else by
// JVMTI field watches.
jvmdiError JNICALL SetFieldAccessWatch(jclass clazz, jfieldID field) {
    return SetWatch(kAccessWatch, clazz, field);
}

jvmdiError JNICALL ClearFieldAccessWatch(jclass clazz, jfieldID field) {
    return ClearWatch(kAccessWatch, clazz, field);
}

jvmdiError JNICALL SetFieldModificationWatch(jclass clazz, jfieldID field) {
    return SetWatch(kModificationWatch, clazz, field);
}

jvmdiError JNICALL ClearFieldModificationWatch(jclass clazz, jfieldID field) {
    return ClearWatch(kModificationWatch, clazz, field);
}

jvmdiError JNICALL Allocate(jlong size, jbyte** memory) {
    return FromJvmti(g_bridge.jvmti->Allocate(size, reinterpret_cast<unsigned char**>(memory)));
}

jvmdiError JNICALL Deallocate(jbyte* memory) {
    return FromJvmti(g_bridge.jvmti->Deallocate(reinterpret_cast<unsigned char*>(memory)));
}

// The debug interface answered global references; JVMTI answers local ones. They are turned
// into global references in place, in the array the caller releases with Deallocate.
jvmdiError JNICALL GetLoadedClasses(jint* countPtr, jclass** classesPtr) {
    if (countPtr == nullptr || classesPtr == nullptr) return JVMDI_ERROR_NULL_POINTER;
    JNIEnv* env = BridgeJni();
    if (env == nullptr) return JVMDI_ERROR_UNATTACHED_THREAD;
    jint count = 0;
    jclass* classes = nullptr;
    const jvmtiError error = g_bridge.jvmti->GetLoadedClasses(&count, &classes);
    if (error != JVMTI_ERROR_NONE) return FromJvmti(error);
    // JVMTI made one local reference per class in the caller's frame; say that they are
    // expected (checked JNI warns of a frame beyond its capacity). They are gone by the return.
    if (env->EnsureLocalCapacity(count) != JNI_OK) env->ExceptionClear();
    for (jint i = 0; i < count; ++i) {
        jclass local = classes[i];
        classes[i] = static_cast<jclass>(env->NewGlobalRef(local));
        env->DeleteLocalRef(local);
    }
    *countPtr = count;
    *classesPtr = classes;
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL GetClassMethods(jclass clazz, jint* countPtr, jmethodID** methodsPtr) {
    return FromJvmti(g_bridge.jvmti->GetClassMethods(clazz, countPtr, methodsPtr));
}

jvmdiError JNICALL GetClassFields(jclass clazz, jint* countPtr, jfieldID** fieldsPtr) {
    return FromJvmti(g_bridge.jvmti->GetClassFields(clazz, countPtr, fieldsPtr));
}

// As the debug interface did: the interfaces come as global references.
jvmdiError JNICALL GetImplementedInterfaces(jclass clazz, jint* countPtr, jclass** interfacesPtr) {
    if (countPtr == nullptr || interfacesPtr == nullptr) return JVMDI_ERROR_NULL_POINTER;
    JNIEnv* env = BridgeJni();
    if (env == nullptr) return JVMDI_ERROR_UNATTACHED_THREAD;
    jint count = 0;
    jclass* interfaces = nullptr;
    const jvmtiError error = g_bridge.jvmti->GetImplementedInterfaces(clazz, &count, &interfaces);
    if (error != JVMTI_ERROR_NONE) return FromJvmti(error);
    for (jint i = 0; i < count; ++i) {
        jclass local = interfaces[i];
        interfaces[i] = static_cast<jclass>(env->NewGlobalRef(local));
        env->DeleteLocalRef(local);
    }
    *countPtr = count;
    *interfacesPtr = interfaces;
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL GetFieldName(jclass clazz, jfieldID field, char** namePtr, char** signaturePtr) {
    return FromJvmti(g_bridge.jvmti->GetFieldName(clazz, field, namePtr, signaturePtr, nullptr));
}

jvmdiError JNICALL GetFieldModifiers(jclass clazz, jfieldID field, jint* modifiersPtr) {
    return FromJvmti(g_bridge.jvmti->GetFieldModifiers(clazz, field, modifiersPtr));
}

jvmdiError JNICALL GetMethodName(jclass, jmethodID method, char** namePtr, char** signaturePtr) {
    return FromJvmti(g_bridge.jvmti->GetMethodName(method, namePtr, signaturePtr, nullptr));
}

// As the debug interface did: the class comes as a global reference.
jvmdiError JNICALL GetMethodDeclaringClass(jclass, jmethodID method, jclass* declaringClassPtr) {
    if (declaringClassPtr == nullptr) return JVMDI_ERROR_NULL_POINTER;
    JNIEnv* env = BridgeJni();
    if (env == nullptr) return JVMDI_ERROR_UNATTACHED_THREAD;
    jclass local = nullptr;
    const jvmtiError error = g_bridge.jvmti->GetMethodDeclaringClass(method, &local);
    if (error != JVMTI_ERROR_NONE) return FromJvmti(error);
    *declaringClassPtr = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return JVMDI_ERROR_NONE;
}

jvmdiError JNICALL GetMethodModifiers(jclass, jmethodID method, jint* modifiersPtr) {
    return FromJvmti(g_bridge.jvmti->GetMethodModifiers(method, modifiersPtr));
}

JVMDI_Interface_1 MakeTable() {
    JVMDI_Interface_1 table = {};
    table.SetEventHook = SetEventHook;
    table.SetEventNotificationMode = SetEventNotificationMode;
    table.GetCurrentFrame = BridgeGetCurrentFrame;
    table.GetLocalObject = BridgeGetLocalObject;
    table.GetLocalInt = BridgeGetLocalInt;
    table.GetLocalLong = BridgeGetLocalLong;
    table.GetLocalFloat = BridgeGetLocalFloat;
    table.GetLocalDouble = BridgeGetLocalDouble;
    table.GetMethodName = GetMethodName;
    table.GetClassMethods = GetClassMethods;
    table.GetClassFields = GetClassFields;
    table.GetImplementedInterfaces = GetImplementedInterfaces;
    table.GetFieldName = GetFieldName;
    table.GetFieldModifiers = GetFieldModifiers;
    table.GetMethodModifiers = GetMethodModifiers;
    table.GetMethodDeclaringClass = GetMethodDeclaringClass;
    table.SetBreakpoint = SetBreakpoint;
    table.ClearBreakpoint = ClearBreakpoint;
    table.SetFieldAccessWatch = SetFieldAccessWatch;
    table.ClearFieldAccessWatch = ClearFieldAccessWatch;
    table.SetFieldModificationWatch = SetFieldModificationWatch;
    table.ClearFieldModificationWatch = ClearFieldModificationWatch;
    table.Allocate = Allocate;
    table.Deallocate = Deallocate;
    table.GetLoadedClasses = GetLoadedClasses;
    table.GetVersionNumber = GetVersionNumber;
    table.GetCapabilities = GetCapabilities;
    return table;
}
}  // namespace

// Entries the agent never calls stay null.
JVMDI_Interface_1* BridgeJvmdi() {
    static JVMDI_Interface_1 table = MakeTable();
    return &table;
}
