#include "trace/trace_points.h"

#include <cstring>
#include <initializer_list>

#include "agent/agent_state.h"
#include "agent/connect.h"
#include "agent/error_out.h"
#include "agent/java_fields.h"
#include "agent/sync.h"
#include "platform/heap.h"
#include "registry/object_table.h"
#include "registry/reference_recovery.h"
#include "trace/event_bank.h"
#include "trace/thread_tags.h"
#include "trace/trace_point_index.h"
#include "trace/trace_flags.h"
#include "trace/method_options.h"

TracePointTable g_tracePoints;
TracePointIndex g_tracePointIndex;  // of g_tracePoints, guarded by the recording lock

namespace {
// The trace point references of a replaced table. Records still waiting in a bank may carry
// them, so they are deleted only after both banks have been delivered since the replacement.
struct RetiredTable {
    TracePointEntry* entries;
    int32_t count;
    uint32_t banksDeliveredAtRetirement;
    RetiredTable* next;
};

RetiredTable* g_retired = nullptr;  // guarded by the recording lock
uint32_t g_banksDelivered = 0;      // guarded by the recording lock

enum TracePointField { kFlags, kObject, kClass, kReflectionItem, kName, kSignature, kFieldCount };

const FieldSpec kTracePointFields[kFieldCount] = {
    {"m_iFlags", "I"},
    {"m_Object", "Ljava/lang/Object;"},
    {"m_strClass", "Ljava/lang/String;"},
    {"m_ReflectionItem", "Ljava/lang/Object;"},
    {"m_strMethodOrFieldName", "Ljava/lang/String;"},
    {"m_strMethodOrFieldSignature", "Ljava/lang/String;"},
};

const FieldSpec kListFields[] = {
    {"m_TracePoints", "[Lcom/vexo/TracePoints$TracePoint;"},
    {"m_iMaxNumTraces", "I"},
};

bool ArmsThroughDebugger() {
    // In profiler mode an entry's class is a SlotHandle, which the debugger must never get.
    return g_agent.jvmdi != nullptr && !g_agent.profilerMode;
}

void Disarm(const TracePointEntry& entry) {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    auto clazz = reinterpret_cast<jclass>(entry.classRef);
    if (entry.flags & kFieldTracePoint) {
        auto field = static_cast<jfieldID>(entry.memberId);
        jvmdi->ClearFieldAccessWatch(clazz, field);
        jvmdi->ClearFieldModificationWatch(clazz, field);
    } else {
        jvmdi->ClearBreakpoint(clazz, static_cast<jmethodID>(entry.memberId), 0);
        ClearMethodOptions(static_cast<jmethodID>(entry.memberId));
    }
}

void Arm(jclass clazz, void* memberId, int32_t flags) {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    if (flags & kFieldTracePoint) {
        auto field = static_cast<jfieldID>(memberId);
        jvmdi->SetFieldAccessWatch(clazz, field);
        jvmdi->SetFieldModificationWatch(clazz, field);
    } else {
        // The roads read what else the trace point asks for as they arm the method.
        AddMethodOptions(static_cast<jmethodID>(memberId), flags & (kArgumentsTracePoint | kExitTracePoint));
        jvmdi->SetBreakpoint(clazz, static_cast<jmethodID>(memberId), 0);
    }
}

void DeleteTracePointRefs(JNIEnv* env, const RetiredTable& table) {
    for (int32_t i = 0; i < table.count; ++i) env->DeleteGlobalRef(table.entries[i].tracePointRef);
}

// Step 3 of an activation: disarms every entry, releases the class references and retires the
// trace point references. Leaves the table empty.
void DisarmTable(JNIEnv* env) {
    EnterLock(&g_agent.recordingLock);
    for (int32_t i = 0; i < g_tracePoints.count; ++i) {
        const TracePointEntry& entry = g_tracePoints.entries[i];
        if (ArmsThroughDebugger()) Disarm(entry);
        if (!g_agent.profilerMode) env->DeleteGlobalRef(reinterpret_cast<jobject>(entry.classRef));
        if (entry.fieldClass != nullptr) env->DeleteGlobalRef(entry.fieldClass);
    }
    if (g_tracePoints.entries != nullptr) {
        auto* retired = static_cast<RetiredTable*>(MemAlloc(sizeof(RetiredTable)));
        if (retired != nullptr) {
            *retired = {g_tracePoints.entries, g_tracePoints.count, g_banksDelivered, g_retired};
            g_retired = retired;
        }
        // Without a node the references stay alive for good: a small leak, never a dangling
        // reference in an undelivered record.
    }
    g_tracePoints.entries = nullptr;
    g_tracePoints.count = 0;
    FreeTracePointIndex(&g_tracePointIndex);
    LeaveLock(&g_agent.recordingLock);
}

// The class a trace point names: the run-time class of m_Object, else m_strClass with dots
// turned into slashes. Returns a local reference, or null.
jclass ResolveClass(JNIEnv* env, jobject object, jstring className) {
    if (object != nullptr) return env->GetObjectClass(object);
    if (className == nullptr) return nullptr;
    const char* chars = env->GetStringUTFChars(className, nullptr);
    if (chars == nullptr) return nullptr;
    jclass clazz = nullptr;
    const size_t length = std::strlen(chars);
    auto* slashed = static_cast<char*>(MemAlloc(length + 1));
    if (slashed != nullptr) {
        for (size_t i = 0; i <= length; ++i) slashed[i] = chars[i] == '.' ? '/' : chars[i];
    }
    env->ReleaseStringUTFChars(className, chars);
    if (slashed == nullptr) return nullptr;
    clazz = env->FindClass(slashed);
    MemFree(slashed);
    if (clazz == nullptr) env->ExceptionClear();
    return clazz;
}

// Whether a field trace point's value kind can be read from a field of this signature. Kind 0
// and the kinds above char read nothing, so they fit every field.
bool ValueKindFits(int32_t flags, const char* signature) {
    const int32_t kind = flags & kValueKindMask;
    if (!(flags & kFieldTracePoint) || kind == kNoValue || kind > kCharValue) return true;
    switch (signature[0]) {
        case 'I': return kind == kIntValue;
        case 'J': return kind == kLongValue;
        case 'F': return kind == kFloatValue;
        case 'D': return kind == kDoubleValue;
        case 'L': case '[': return kind == kObjectValue;
        case 'S': return kind == kShortValue;
        case 'B': return kind == kByteValue;
        case 'Z': return kind == kBooleanValue;
        case 'C': return kind == kCharValue;
        default: return false;
    }
}

// The member a trace point names in `clazz`, or null. A failed lookup's NoSuchFieldError or
// NoSuchMethodError is cleared, so the rest of the list is still processed.
void* ResolveMember(JNIEnv* env, jclass clazz, jstring name, jstring signature, int32_t flags) {
    if (name == nullptr || signature == nullptr) return nullptr;
    const char* n = env->GetStringUTFChars(name, nullptr);
    const char* s = n == nullptr ? nullptr : env->GetStringUTFChars(signature, nullptr);
    void* member = nullptr;
    if (s != nullptr) {
        const bool isStatic = (flags & kStaticTracePoint) != 0;
        if (flags & kFieldTracePoint) {
            member = isStatic ? static_cast<void*>(env->GetStaticFieldID(clazz, n, s))
                              : static_cast<void*>(env->GetFieldID(clazz, n, s));
        } else {
            member = isStatic ? static_cast<void*>(env->GetStaticMethodID(clazz, n, s))
                              : static_cast<void*>(env->GetMethodID(clazz, n, s));
        }
        if (member == nullptr) env->ExceptionClear();
        // A value kind that does not match the field would be read with the wrong accessor.
        if (!ValueKindFits(flags, s)) member = nullptr;
        env->ReleaseStringUTFChars(signature, s);
    }
    if (n != nullptr) env->ReleaseStringUTFChars(name, n);
    return member;
}

// The class that declares the field `field` resolved in `clazz` (a global reference), or null.
jclass DeclaringClassOf(JNIEnv* env, jclass clazz, jfieldID field, bool isStatic) {
    jobject reflected = env->ToReflectedField(clazz, field, isStatic ? JNI_TRUE : JNI_FALSE);
    jclass declaring = nullptr;
    if (reflected != nullptr) {
        jclass fieldType = env->GetObjectClass(reflected);
        jmethodID getter = env->GetMethodID(fieldType, "getDeclaringClass", "()Ljava/lang/Class;");
        if (getter != nullptr) {
            declaring = static_cast<jclass>(env->CallObjectMethod(reflected, getter));
        }
        env->DeleteLocalRef(fieldType);
        env->DeleteLocalRef(reflected);
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
    jclass global = nullptr;
    if (declaring != nullptr) {
        global = static_cast<jclass>(env->NewGlobalRef(declaring));
        env->DeleteLocalRef(declaring);
    }
    return global;
}

// In profiler mode an entry names its class by the class object's SlotHandle.
uintptr_t ClassSlotOf(jclass clazz) {
    if (!LoadRelaxed(g_agent.profilerEventsEnabled)) EnableProfilerEvents();
    const jobjectID id = ObjectIdOfRef(clazz);
    SlotHandle h = LookupObject(id);
    if (h == 0 && g_agent.jvmpi != nullptr) {
        g_agent.jvmpi->RequestEvent(JVMPI_EVENT_OBJECT_ALLOC,
                                    reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
        h = LookupObject(id);
    }
    return static_cast<uintptr_t>(static_cast<uint32_t>(h));
}

// Steps 3 to 10 for one element: resolves, arms and enters it; writes its flags back.
void EnterTracePoint(JNIEnv* env, jobject element, const jfieldID* ids, TracePointEntry* entries,
                     int32_t* count) {
    int32_t flags = env->GetIntField(element, ids[kFlags]);
    jobject object = env->GetObjectField(element, ids[kObject]);
    auto className = static_cast<jstring>(env->GetObjectField(element, ids[kClass]));
    auto name = static_cast<jstring>(env->GetObjectField(element, ids[kName]));
    auto signature = static_cast<jstring>(env->GetObjectField(element, ids[kSignature]));

    jclass clazz = ResolveClass(env, object, className);
    flags &= ~kArmedTracePoint;
    void* member = clazz == nullptr ? nullptr : ResolveMember(env, clazz, name, signature, flags);
    if (member != nullptr) {
        const int32_t asked = (flags & kFieldTracePoint) ? 0 : flags & (kArgumentsTracePoint | kExitTracePoint);
        if (ArmsThroughDebugger()) Arm(clazz, member, flags);
        // What the method's road records of what was asked is written back; profiler mode
        // records entries only.
        if (asked != 0) {
            const int32_t honoured = ArmsThroughDebugger() ? HonouredMethodOptions(static_cast<jmethodID>(member)) : 0;
            flags &= ~(asked & ~honoured);
        }
        const uintptr_t classRef = g_agent.profilerMode
                                       ? ClassSlotOf(clazz)
                                       : reinterpret_cast<uintptr_t>(env->NewGlobalRef(clazz));
        jclass fieldClass = nullptr;
        if ((flags & kFieldTracePoint) && !g_agent.profilerMode) {
            fieldClass = DeclaringClassOf(env, clazz, static_cast<jfieldID>(member),
                                          (flags & kStaticTracePoint) != 0);
        }
        entries[*count] = {flags, member, classRef, env->NewGlobalRef(element), fieldClass};
        ++*count;
        flags |= kArmedTracePoint;
    }
    env->SetIntField(element, ids[kFlags], flags);

    for (jobject local : {static_cast<jobject>(clazz), object, static_cast<jobject>(className),
                          static_cast<jobject>(name), static_cast<jobject>(signature)}) {
        if (local != nullptr) env->DeleteLocalRef(local);
    }
}

// Steps 4 to 6: builds the new table from the list array and installs it.
void BuildTable(JNIEnv* env, jobjectArray list) {
    const jsize n = list == nullptr ? 0 : env->GetArrayLength(list);
    if (n == 0) return;  // an empty list leaves the table empty: tracing is off
    const size_t bytes = sizeof(TracePointEntry) * static_cast<size_t>(n);
    auto* entries = static_cast<TracePointEntry*>(MemAlloc(bytes));
    if (entries == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes\n", static_cast<int>(bytes));
        return;
    }
    std::memset(static_cast<void*>(entries), 0, bytes);

    jfieldID ids[kFieldCount];
    bool haveIds = false;
    int32_t count = 0;
    for (jsize i = 0; i < n; ++i) {
        jobject element = env->GetObjectArrayElement(list, i);
        if (element == nullptr) continue;
        if (!haveIds) {
            haveIds = LookUpObjectFields(env, element, kTracePointFields, kFieldCount, ids,
                                         "ERROR: VexoDll failed to access fields in TracePoint\n");
            if (!haveIds) {
                env->DeleteLocalRef(element);
                MemFree(entries);
                return;
            }
        }
        EnterTracePoint(env, element, ids, entries, &count);
        env->DeleteLocalRef(element);
    }

    TracePointIndex index;
    BuildTracePointIndex(entries, count, &index);  // without memory, lookups scan the table
    EnterLock(&g_agent.recordingLock);
    g_tracePoints.count = count;
    g_tracePoints.entries = entries;
    g_tracePointIndex = index;
    LeaveLock(&g_agent.recordingLock);
}
}  // namespace

void ActivateTracePoints(JNIEnv* env, jobject list) {
    jfieldID ids[2];
    if (!LookUpObjectFields(env, list, kListFields, 2, ids,
                            "ERROR: cannot find fields in ActivateTracePoints\n")) {
        return;
    }
    auto array = static_cast<jobjectArray>(env->GetObjectField(list, ids[0]));
    StoreRelaxed(g_recording.recordingLimit, static_cast<int32_t>(env->GetIntField(list, ids[1])));
    DisarmTable(env);
    BuildTable(env, array);
    if (array != nullptr) env->DeleteLocalRef(array);
}

namespace {
// Another class's field at the same offset is not this entry's field.
bool SameField(JNIEnv* env, const TracePointEntry& entry, jclass fieldClass) {
    return fieldClass == nullptr || entry.fieldClass == nullptr || env == nullptr ||
           env->IsSameObject(entry.fieldClass, fieldClass);
}
}  // namespace

const TracePointEntry* FindTracePoint(JNIEnv* env, const void* memberId, jclass fieldClass) {
    const TracePointEntry* entries = g_tracePoints.entries;
    if (g_tracePointIndex.slots != nullptr) {
        for (int32_t i = FirstEntryOf(g_tracePointIndex, entries, memberId); i >= 0;
             i = NextEntryOf(g_tracePointIndex, i)) {
            if (SameField(env, entries[i], fieldClass)) return &entries[i];
        }
        return nullptr;
    }
    for (int32_t i = 0; i < g_tracePoints.count; ++i) {
        if (entries[i].memberId == memberId && SameField(env, entries[i], fieldClass)) return &entries[i];
    }
    return nullptr;
}

uint32_t BanksDeliveredLocked() { return g_banksDelivered; }

void ReleaseRetiredTracePoints(JNIEnv* env) {
    EnterLock(&g_agent.recordingLock);
    ++g_banksDelivered;
    ReleaseRetiredThreadTags(env, g_banksDelivered);
    // Retired before the last two deliveries: neither bank can hold their records any more.
    RetiredTable** link = &g_retired;
    while (*link != nullptr) {
        RetiredTable* table = *link;
        if (g_banksDelivered - table->banksDeliveredAtRetirement >= 2) {
            *link = table->next;
            DeleteTracePointRefs(env, *table);
            MemFree(table->entries);
            MemFree(table);
        } else {
            link = &table->next;
        }
    }
    LeaveLock(&g_agent.recordingLock);
}
