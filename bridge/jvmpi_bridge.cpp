#include "bridge/jvmpi_bridge.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "bridge/class_facts.h"
#include "bridge/event_switches.h"
#include "bridge/heap_dump.h"
#include "bridge/object_ids.h"
#include "bridge/jvmti_env.h"
#include "platform/os.h"

namespace {
JVMPI_Interface g_table;
VexoJvmpiExtension g_extension;
ProfilerEntryRoad g_entryRoad;  // set once, before the table is handed out
bool g_available = false;

// The methods whose entries are posted, once the profiler names them (for JVMTI's method entry
// events, which come for every method; the instrumented road probes the named ones alone).
struct EntryFilter {
    std::atomic<bool> on{false};
    OsLock lock;
    std::vector<jmethodID> methods;  // sorted
};
EntryFilter g_filter;

bool EntryWanted(jmethodID method) {
    if (!g_filter.on.load(std::memory_order_acquire)) return true;
    OsLockGuard guard(&g_filter.lock);
    return std::binary_search(g_filter.methods.begin(), g_filter.methods.end(), method);
}

// The profiler events the agent enabled, by JVMPI event type.
std::atomic<bool> g_enabled[JVMPI_MAX_EVENT_TYPE_VAL + 1];

bool Enabled(jint type) { return g_enabled[type].load(std::memory_order_acquire); }

void Post(JVMPI_Event* event) {
    void (*notify)(JVMPI_Event*) = g_table.NotifyEvent;
    if (notify != nullptr) notify(event);
}

jint JvmpiFrom(jvmtiError error) { return error == JVMTI_ERROR_NONE ? JVMPI_SUCCESS : JVMPI_NOT_AVAILABLE; }

int ArrayKind(const ClassFacts& facts) {
    if (facts.primitiveElement != 0) return facts.primitiveElement;
    return facts.objectArray ? JVMPI_CLASS : JVMPI_NORMAL_OBJECT;
}

// An allocation event for `object` (its class's ID, array kind and size).
void PostAllocation(JNIEnv* env, jobject object, jobjectID id, jint typeFlags) {
    jclass clazz = env->GetObjectClass(object);
    ClassFacts facts;
    GatherClassIdentity(env, clazz, &facts);
    jlong size = 0;
    g_bridge.jvmti->GetObjectSize(object, &size);
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_OBJECT_ALLOC | typeFlags;
    event.env_id = env;
    event.u.obj_alloc.class_id = facts.id;
    event.u.obj_alloc.is_array = ArrayKind(facts);
    event.u.obj_alloc.size = static_cast<jint>(size);
    event.u.obj_alloc.obj_id = id;
    env->DeleteLocalRef(clazz);
    Post(&event);
}

// A class-load event for `clazz`. The strings live until the event has been handled. Returns
// false (no event) for a class that is not prepared yet: its fields are not known.
bool PostClassLoad(JNIEnv* env, jclass clazz, jint typeFlags) {
    ClassFacts facts;
    GatherClassFacts(env, clazz, &facts);
    if (!facts.prepared) return false;
    std::vector<JVMPI_Field> statics;
    for (auto& s : facts.statics) {
        statics.push_back({const_cast<char*>(s.first.c_str()), const_cast<char*>(s.second.c_str())});
    }
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_CLASS_LOAD | typeFlags;
    event.env_id = env;
    event.u.class_load.class_name = facts.name.c_str();
    event.u.class_load.num_interfaces = static_cast<jint>(facts.interfaces.size());
    event.u.class_load.num_static_fields = static_cast<jint>(statics.size());
    event.u.class_load.statics = statics.empty() ? nullptr : statics.data();
    event.u.class_load.class_id = facts.id;
    Post(&event);
    return true;
}

void PostObjectDump(JNIEnv* env, jobject object) {
    std::vector<uint8_t> record;
    BuildObjectDump(env, object, &record);
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_OBJECT_DUMP | JVMPI_REQUESTED_EVENT;
    event.env_id = env;
    event.u.object_dump.data_len = static_cast<jint>(record.size());
    event.u.object_dump.data = reinterpret_cast<char*>(record.data());
    Post(&event);
}

void PostHeapDump(JNIEnv* env, int level) {
    std::vector<uint8_t> dump;
    BuildHeapDump(env, &dump);
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_HEAP_DUMP | JVMPI_REQUESTED_EVENT;
    event.env_id = env;
    event.u.heap_dump.dump_level = level;
    event.u.heap_dump.begin = reinterpret_cast<char*>(dump.data());
    event.u.heap_dump.end = reinterpret_cast<char*>(dump.data() + dump.size());
    Post(&event);
}

jint SetJvmtiEvent(jvmtiEvent event, bool on) {
    return JvmpiFrom(g_bridge.jvmti->SetEventNotificationMode(on ? JVMTI_ENABLE : JVMTI_DISABLE,
                                                              event, nullptr));
}

// HotSpot reports class unloading only through its extension event
// "com.sun.hotspot.events.ClassUnload" (the JNI environment and the class's name).
void JNICALL OnClassUnload(jvmtiEnv*, JNIEnv* jni, const char*) {
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_CLASS_UNLOAD;
    event.env_id = jni;
    event.u.class_unload.class_id = 0;  // the class object is gone; only its name is told
    Post(&event);
}

void SwitchClassUnloads(bool on) {
    jvmtiEnv* jvmti = g_bridge.jvmti;
    jint count = 0;
    jvmtiExtensionEventInfo* events = nullptr;
    if (jvmti->GetExtensionEvents(&count, &events) != JVMTI_ERROR_NONE) return;
    for (jint i = 0; i < count; ++i) {
        if (std::strcmp(events[i].id, "com.sun.hotspot.events.ClassUnload") == 0) {
            jvmti->SetExtensionEventCallback(events[i].extension_event_index,
                                             on ? reinterpret_cast<jvmtiExtensionEvent>(OnClassUnload) : nullptr);
        }
        for (jint p = 0; p < events[i].param_count; ++p) {
            jvmti->Deallocate(reinterpret_cast<unsigned char*>(events[i].params[p].name));
        }
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(events[i].params));
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(events[i].id));
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(events[i].short_description));
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(events));
}

}  // namespace

namespace {

// Method entries by instrumentation where retransformation was granted; JVMTI method entry
// events (every thread interpreted, a VM operation per receiver) otherwise, or when the
// breakpoint road is forced.
bool InstrumentedEntries() {
    return g_entryRoad.available != nullptr && g_entryRoad.available() && !g_bridge.forceBreakpoints;
}

jint SwitchMethodEntries(bool on) {
    if (InstrumentedEntries()) {
        return JvmpiFrom(g_entryRoad.set(BridgeJni(), on));
    }
    return SetJvmtiEvent(JVMTI_EVENT_METHOD_ENTRY, on);
}

jint Switch(jint type, bool on) {
    if (type < 0 || type > JVMPI_MAX_EVENT_TYPE_VAL) return JVMPI_NOT_AVAILABLE;
    jint result;
    switch (type) {
        case JVMPI_EVENT_METHOD_ENTRY2:
            // Enabled first, so that the first instrumented entries are posted.
            if (on) g_enabled[type].store(true, std::memory_order_release);
            result = SwitchMethodEntries(on);
            if (result != JVMPI_SUCCESS && on) g_enabled[type].store(false, std::memory_order_release);
            break;
        case JVMPI_EVENT_OBJECT_ALLOC:
            // No allocation of the program passes through here. An object gets its identifier
            // the first time the bridge hands it out (a receiver, a heap dump's class, a
            // requested event), and the agent asks for the allocation event of every object it
            // has not met yet, so each object it can see is reported once, on request.
            result = JVMPI_SUCCESS;
            break;
        case JVMPI_EVENT_OBJECT_FREE:
            result = SetJvmtiEvent(JVMTI_EVENT_OBJECT_FREE, on);
            break;
        case JVMPI_EVENT_CLASS_LOAD:
            g_enabled[type].store(on, std::memory_order_release);
            WantEvent(JVMTI_EVENT_CLASS_PREPARE, EventClient::kClassLoads, on);
            result = JVMPI_SUCCESS;
            break;
        case JVMPI_EVENT_OBJECT_MOVE:  // identifiers never move
            result = JVMPI_SUCCESS;
            break;
        case JVMPI_EVENT_CLASS_UNLOAD:
            SwitchClassUnloads(on);  // where the VM reports them; accepted either way
            result = JVMPI_SUCCESS;
            break;
        default:
            return JVMPI_NOT_AVAILABLE;
    }
    if (result == JVMPI_SUCCESS) g_enabled[type].store(on, std::memory_order_release);
    return result;
}

jint SetMethodEntryFilter(JNIEnv* env, jint count, const jmethodID* methods) {
    if (count < 0 || (count > 0 && methods == nullptr)) return JVMPI_FAIL;
    {
        OsLockGuard guard(&g_filter.lock);
        g_filter.methods.assign(methods, methods + count);
        std::sort(g_filter.methods.begin(), g_filter.methods.end());
        g_filter.on.store(true, std::memory_order_release);
    }
    if (InstrumentedEntries()) return JvmpiFrom(g_entryRoad.filter(env, count, methods));
    return JVMPI_SUCCESS;
}

jint EnableEvent(jint type, void*) { return Switch(type, true); }
jint DisableEvent(jint type, void*) { return Switch(type, false); }

jint RequestEvent(jint type, void* arg) {
    JNIEnv* env = BridgeJni();
    if (env == nullptr) return JVMPI_NOT_AVAILABLE;
    if (type == JVMPI_EVENT_HEAP_DUMP) {
        const auto* dumpArg = static_cast<const JVMPI_HeapDumpArg*>(arg);
        PostHeapDump(env, dumpArg != nullptr ? dumpArg->heap_dump_level : JVMPI_DUMP_LEVEL_2);
        return JVMPI_SUCCESS;
    }
    const auto id = static_cast<jobjectID>(reinterpret_cast<uintptr_t>(arg));
    if (type != JVMPI_EVENT_OBJECT_ALLOC && type != JVMPI_EVENT_CLASS_LOAD &&
        type != JVMPI_EVENT_OBJECT_DUMP) {
        return JVMPI_NOT_AVAILABLE;
    }
    if (env->PushLocalFrame(kCallbackLocalRefs) != JNI_OK) {
        env->ExceptionClear();
        return JVMPI_FAIL;
    }
    jobject object = ObjectOfId(env, id);
    jint result = JVMPI_SUCCESS;
    jclass classClass = env->FindClass("java/lang/Class");
    const bool isClass = object != nullptr && env->IsInstanceOf(object, classClass);
    if (object == nullptr || (type == JVMPI_EVENT_CLASS_LOAD && !isClass)) {
        result = JVMPI_FAIL;
    } else if (type == JVMPI_EVENT_OBJECT_ALLOC) {
        PostAllocation(env, object, id, JVMPI_REQUESTED_EVENT);
    } else if (type == JVMPI_EVENT_CLASS_LOAD) {
        if (!PostClassLoad(env, static_cast<jclass>(object), JVMPI_REQUESTED_EVENT)) result = JVMPI_FAIL;
    } else {
        PostObjectDump(env, object);
    }
    env->PopLocalFrame(nullptr);
    return result;
}

jobject ToObject(jobjectID id) {
    JNIEnv* env = BridgeJni();
    return env != nullptr ? ObjectOfId(env, id) : nullptr;
}

jobjectID ToId(jobject object) {
    JNIEnv* env = BridgeJni();
    return env != nullptr ? IdOfObject(env, object) : 0;
}
}  // namespace

void JvmpiBridgeInit(jvmtiEnv* jvmti, const ProfilerEntryRoad& entries) {
    jvmtiCapabilities granted = {};
    jvmti->GetCapabilities(&granted);
    g_available = granted.can_tag_objects;
    if (!g_available) return;
    ObjectIdsInit(jvmti);
    OsLockInit(&g_filter.lock);
    g_entryRoad = entries;
    g_extension.SetMethodEntryFilter = SetMethodEntryFilter;
    g_table.version = JVMPI_VERSION_1_1;
    g_table.EnableEvent = EnableEvent;
    g_table.DisableEvent = DisableEvent;
    g_table.RequestEvent = RequestEvent;
    g_table.jobjectID2jobject = ToObject;
    g_table.jobject2jobjectID = ToId;
}

JVMPI_Interface* BridgeJvmpi() { return g_available ? &g_table : nullptr; }

VexoJvmpiExtension* BridgeJvmpiExtension() { return g_available ? &g_extension : nullptr; }

void JvmpiPostMethodEntry(JNIEnv* jni, jmethodID method, jobject receiver) {
    if (!Enabled(JVMPI_EVENT_METHOD_ENTRY2)) return;
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_METHOD_ENTRY2;
    event.env_id = jni;
    event.u.method_entry2.method_id = method;
    event.u.method_entry2.obj_id = IdOfObject(jni, receiver);
    Post(&event);
}

// A class is prepared while it links, which may be inside a JNI call of a native method.
void JvmpiPostClassPrepare(JNIEnv* jni, jclass klass) {
    if (!Enabled(JVMPI_EVENT_CLASS_LOAD)) return;
    PostClassLoad(jni, klass, 0);
}

void JNICALL JvmpiOnObjectFree(jvmtiEnv*, jlong tag) {
    const auto id = static_cast<jobjectID>(tag);
    ForgetObjectId(id);
    if (!Enabled(JVMPI_EVENT_OBJECT_FREE)) return;
    JVMPI_Event event = {};
    event.event_type = JVMPI_EVENT_OBJECT_FREE;
    event.u.obj_free.obj_id = id;
    Post(&event);
}

// The receiver comes from the frame: a VM operation per call, which makes this the slow road.
void JNICALL JvmpiOnMethodEntry(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method) {
    if (!Enabled(JVMPI_EVENT_METHOD_ENTRY2) || !EntryWanted(method)) return;
    DeclareCallbackRoom(jni);
    jint modifiers = 0;
    jvmti->GetMethodModifiers(method, &modifiers);
    jobject receiver = nullptr;
    if (!(modifiers & 0x0008)) jvmti->GetLocalInstance(thread, 0, &receiver);
    JvmpiPostMethodEntry(jni, method, receiver);
    if (receiver != nullptr) jni->DeleteLocalRef(receiver);
}
