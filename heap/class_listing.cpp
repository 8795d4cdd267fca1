#include "heap/class_listing.h"

#include "core/agent_state.h"
#include "core/profiler_events.h"
#include "core/java_fields.h"
#include "heap/heap_dump_walker.h"
#include "registry/class_names.h"
#include "registry/object_directory.h"
#include "registry/object_table.h"
#include "registry/reference_recovery.h"

namespace {
enum ResultField { kObjects, kActualCount, kFiltered, kResultFieldCount };

const JavaFieldName kResultFields[kResultFieldCount] = {
    {"m_Objects", "Ljava/lang/Object;"},
    {"m_iActualCount", "I"},
    {"m_bFiltered", "Z"},
};

// The three required fields of the result's class; reports and returns false when one is
// missing (its exception stays pending).
bool ResultFields(JNIEnv* env, jobject result, jfieldID* ids) {
    return LookUpObjectFields(env, result, kResultFields, kResultFieldCount, ids,
                              "ERROR: VexoDll failed to access fields in ReturnObjectArray\n");
}

void WriteResult(JNIEnv* env, jobject result, const jfieldID* ids, jobject objects, jint count,
                 bool filtered) {
    env->SetIntField(result, ids[kActualCount], count);
    env->SetObjectField(result, ids[kObjects], objects);
    env->SetBooleanField(result, ids[kFiltered], filtered ? JNI_TRUE : JNI_FALSE);
}

// The class names of a level-2 heap dump as one byte array of NUL-terminated names, or null.
jbyteArray ListFromHeapDump(JNIEnv* env, jint* count, jint* modificationCount) {
    g_heapWalk.progressTotal.store(0, std::memory_order_relaxed);
    g_heapWalk.progressDone.store(0, std::memory_order_relaxed);
    *count = 0;
    *modificationCount = 0;
    JVMPI_Interface* jvmpi = g_agent.jvmpi;
    if (jvmpi == nullptr) return nullptr;
    // Outside profiler mode the dispatcher acts on no event, so a dump would collect no name and
    // the answer is null whatever the profiler does. Neither the events (which, once enabled,
    // stay on and cost the program every allocation and method entry for the rest of the run)
    // nor the dump (a walk of the whole heap) would change that.
    if (!g_agent.profilerMode) return nullptr;
    if (!g_agent.profilerEventsEnabled.load(std::memory_order_relaxed)) EnableProfilerEvents();
    g_heapWalk.classDumpCount = 0;
    JVMPI_HeapDumpArg level2 = {JVMPI_DUMP_LEVEL_2};
    jvmpi->RequestEvent(JVMPI_EVENT_HEAP_DUMP, &level2);  // walked before it returns

    size_t length = 0;
    const char* names = CollectedClassNames(&length);
    if (names == nullptr) return nullptr;
    jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
    if (array != nullptr) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(length),
                                reinterpret_cast<const jbyte*>(names));
        *count = g_heapWalk.classDumpCount;
        *modificationCount = g_heapWalk.classCountAtDump;
    } else {
        env->ExceptionClear();  // the result fields are still written: no result, not an error
    }
    DiscardClassNames();
    return array;
}

// The debug interface's loaded classes in an Object array, or null. The debugger hands each
// class out as a global reference: each is deleted once stored (or when no array is made).
jobjectArray ListFromDebugger(JNIEnv* env, jclass objectClass, jint* count) {
    jint classCount = 0;
    jclass* classes = nullptr;
    const jvmdiError status = g_agent.jvmdi->GetLoadedClasses(&classCount, &classes);
    if (status != JVMDI_ERROR_NONE) return nullptr;
    jobjectArray array = env->NewObjectArray(classCount, objectClass, nullptr);
    if (array == nullptr) env->ExceptionClear();  // the heap-dump listing is tried instead
    for (jint i = 0; i < classCount; ++i) {
        if (array != nullptr) env->SetObjectArrayElement(array, i, classes[i]);
        env->DeleteGlobalRef(classes[i]);
    }
    g_agent.jvmdi->Deallocate(reinterpret_cast<jbyte*>(classes));
    if (array != nullptr) *count = classCount;
    return array;
}
}  // namespace

void GetClasses(JNIEnv* env, jobject result) {
    jfieldID ids[kResultFieldCount];
    if (!ResultFields(env, result, ids)) return;
    jclass resultClass = env->GetObjectClass(result);
    jfieldID modificationField = env->GetFieldID(resultClass, "m_iModificationCount", "I");
    if (modificationField == nullptr) env->ExceptionClear();  // optional: not written then
    env->DeleteLocalRef(resultClass);

    g_heapWalk.cancelRequested.store(false, std::memory_order_relaxed);
    jclass objectClass = env->FindClass("java/lang/Object");
    jint count = 0;
    jint modificationCount = 0;
    jobject listing = nullptr;
    if (g_agent.jvmdi != nullptr) {
        listing = ListFromDebugger(env, objectClass, &count);
        modificationCount = g_classModificationCount.load(std::memory_order_relaxed);
    }
    if (listing == nullptr && g_agent.jvmpi != nullptr) {
        listing = ListFromHeapDump(env, &count, &modificationCount);
    }
    WriteResult(env, result, ids, listing, count, false);
    if (modificationField != nullptr) env->SetIntField(result, modificationField, modificationCount);
}

void GetObjects(JNIEnv* env, jobject, jobject result) {
    jfieldID ids[kResultFieldCount];
    if (!ResultFields(env, result, ids)) return;
    if (g_agent.jvmpi != nullptr) {
        jint count = 0;
        jint ignored = 0;
        jobject listing = ListFromHeapDump(env, &count, &ignored);
        WriteResult(env, result, ids, listing, count, false);
        return;
    }
    // Objects are not listed without the profiler: one null element, marked filtered.
    jclass objectClass = env->FindClass("java/lang/Object");
    WriteResult(env, result, ids, env->NewObjectArray(1, objectClass, nullptr), 0, true);
}

jboolean ConvertObjectIds(JNIEnv* env, jintArray ids, jint first, jint count,
                          jobjectArray destination, jint firstDestination) {
    g_heapWalk.cancelRequested.store(false, std::memory_order_relaxed);
    if (g_agent.jvmpi == nullptr || ids == nullptr) return JNI_FALSE;
    const int64_t length = env->GetArrayLength(ids);
    if (first < 0 || int64_t{first} + count > length) return JNI_FALSE;
    // The destination range is checked too: a store outside it would throw mid-way.
    if (count > 0 && (destination == nullptr || firstDestination < 0 ||
                      int64_t{firstDestination} + count > env->GetArrayLength(destination))) {
        return JNI_FALSE;
    }
    jint* handles = env->GetIntArrayElements(ids, nullptr);
    if (handles == nullptr) return JNI_FALSE;
    for (jint i = 0; i < count; ++i) {
        if (g_heapWalk.cancelRequested.load(std::memory_order_relaxed)) break;
        const ObjectSlot* slot = SlotOf(handles[first + i]);
        const jsize at = firstDestination + i;
        if (slot == nullptr) {
            env->SetObjectArrayElement(destination, at, nullptr);
            continue;
        }
        const auto id = static_cast<jobjectID>(slot->objectId.load(std::memory_order_relaxed));
        // A free slot's word links the free list: it names no object. Only a slot the
        // directory leads to is in use.
        if (id == 0 || LookupObject(id) != handles[first + i]) {
            env->SetObjectArrayElement(destination, at, nullptr);
            continue;
        }
        if (g_agent.jvmpiVersion == 11) {
            jobject object = g_agent.jvmpi->jobjectID2jobject(id);
            env->SetObjectArrayElement(destination, at, object);
            if (object != nullptr) env->DeleteLocalRef(object);
        } else if (sizeof(void*) == sizeof(jint)) {
            // JVMPI 1: the recovered cell address, stored raw into the element as that
            // profiler's 32-bit VMs read it. On 64-bit targets the element stays as it is.
            const jint raw = static_cast<jint>(RecoverObjectRef(id));
            env->SetIntArrayRegion(reinterpret_cast<jintArray>(destination), at, 1, &raw);
        }
    }
    env->ReleaseIntArrayElements(ids, handles, JNI_ABORT);
    return JNI_TRUE;
}

jint GetProgress(jboolean cancel, jint scale) {
    g_heapWalk.cancelRequested.store(cancel == JNI_TRUE, std::memory_order_relaxed);
    const jint total = g_heapWalk.progressTotal.load(std::memory_order_relaxed);
    if (total <= 0) return 0;
    // The product wraps in 32 bits, as the platform's arithmetic did, without overflow.
    const auto product = static_cast<int32_t>(
        static_cast<uint32_t>(g_heapWalk.progressDone.load(std::memory_order_relaxed)) *
        static_cast<uint32_t>(scale));
    return product / total;
}
