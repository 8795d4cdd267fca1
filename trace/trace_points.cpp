#include "trace/trace_points.h"

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/agent_state.h"
#include "core/profiler_events.h"
#include "core/error_out.h"
#include "core/java_fields.h"
#include "bytecode/access_flags.h"
#include "platform/heap.h"
#include "platform/os.h"
#include "registry/object_table.h"
#include "registry/reference_recovery.h"
#include "trace/call_details.h"
#include "trace/event_bank.h"
#include "trace/bank_deliveries.h"
#include "trace/trace_point_index.h"
#include "trace/call_timing.h"
#include "trace/trace_flags.h"
#include "trace/method_options.h"
#include "trace/stack_frames.h"
#include "trace/table_readers.h"

TracePointTable g_tracePoints;
void (*g_firstEntriesListener)(JNIEnv* env, const FirstMethodEntry* entries, size_t count, bool reset) = nullptr;

namespace {
// What a hit reads without the lock (trace/table_readers): the installed table and its index,
// published as a whole and replaced, never changed. The lock's own lookups read it too.
struct PublishedTable {
    const TracePointEntry* entries;
    int32_t count;
    TracePointIndex index;
};
std::atomic<PublishedTable*> g_published{nullptr};  // written under the recording lock

// The trace point references of a replaced table. Records still waiting in a bank may carry
// them, so they are deleted only after both banks have been delivered since the replacement;
// its class references go once no reader without the lock can still use them.
struct RetiredTable {
    TracePointEntry* entries;
    int32_t count;
    uint32_t banksDeliveredAtRetirement;
    RetiredTable* next;
    uint64_t generation;  // the table generation that ended with it
    bool classesHeld;     // its class references are still to be deleted
};

RetiredTable* g_retired = nullptr;  // guarded by the recording lock

// A replaced published table (and an entries array no record points into) that a reader without
// the lock may still hold: freed once its generation is unread.
struct Buried {
    uint64_t generation;
    PublishedTable* table;
    TracePointEntry* entries;
    Buried* next;
};
Buried* g_buried = nullptr;  // guarded by the recording lock

void FreeBuried(PublishedTable* table, TracePointEntry* entries) {
    if (table != nullptr) {
        FreeTracePointIndex(&table->index);
        MemFree(table);
    }
    MemFree(entries);
}

// Frees `table` and `entries` once the generation `ended` is unread: now, or at a later sweep.
// Without a node for the sweep they stay: a small leak, never memory a reader still uses.
void BuryLocked(uint64_t ended, PublishedTable* table, TracePointEntry* entries) {
    if (table == nullptr && entries == nullptr) return;
    if (TableGenerationUnread(ended)) {
        FreeBuried(table, entries);
        return;
    }
    auto* node = static_cast<Buried*>(MemAlloc(sizeof(Buried)));
    if (node == nullptr) return;
    *node = {ended, table, entries, g_buried};
    g_buried = node;
}

void SweepBuriedLocked() {
    for (Buried** link = &g_buried; *link != nullptr;) {
        Buried* node = *link;
        if (TableGenerationUnread(node->generation)) {
            *link = node->next;
            FreeBuried(node->table, node->entries);
            MemFree(node);
        } else {
            link = &node->next;
        }
    }
}

void DeleteClassRefs(JNIEnv* env, const TracePointEntry* entries, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (!g_agent.profilerMode) env->DeleteGlobalRef(reinterpret_cast<jobject>(entries[i].classRef));
        if (entries[i].fieldClass != nullptr) env->DeleteGlobalRef(entries[i].fieldClass);
    }
}

// The class references of retired tables that no reader without the lock can still use.
void ReleaseRetiredClassesLocked(JNIEnv* env) {
    for (RetiredTable* table = g_retired; table != nullptr; table = table->next) {
        if (table->classesHeld && TableGenerationUnread(table->generation)) {
            DeleteClassRefs(env, table->entries, table->count);
            table->classesHeld = false;
        }
    }
}

// Publishes `next` (null: none) in place of the table readers see; returns the generation that
// ended with the old one, which is buried.
uint64_t PublishLocked(PublishedTable* next) {
    PublishedTable* old = g_published.load(std::memory_order_relaxed);
    g_published.store(next, std::memory_order_release);
    const uint64_t ended = EndTableGenerationLocked();
    BuryLocked(ended, old, nullptr);
    return ended;
}

enum TracePointField { kFlags, kObject, kClass, kReflectionItem, kName, kSignature, kFieldCount };

const JavaFieldName kTracePointFields[kFieldCount] = {
    {"m_iFlags", "I"},
    {"m_Object", "Ljava/lang/Object;"},
    {"m_strClass", "Ljava/lang/String;"},
    {"m_ReflectionItem", "Ljava/lang/Object;"},
    {"m_strMethodOrFieldName", "Ljava/lang/String;"},
    {"m_strMethodOrFieldSignature", "Ljava/lang/String;"},
};

const JavaFieldName kListFields[] = {
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

bool Armed(jvmdiError error) { return error == JVMDI_ERROR_NONE || error == JVMDI_ERROR_DUPLICATE; }

// Returns whether the debug interface took the member (or had it already).
bool Arm(jclass clazz, void* memberId, int32_t flags) {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    if (flags & kFieldTracePoint) {
        auto field = static_cast<jfieldID>(memberId);
        const bool access = Armed(jvmdi->SetFieldAccessWatch(clazz, field));
        const bool modification = Armed(jvmdi->SetFieldModificationWatch(clazz, field));
        return access && modification;
    }
    // The roads read what else the trace point asks for as they arm the method.
    AddMethodOptions(static_cast<jmethodID>(memberId), flags & (kArgumentsTracePoint | kExitTracePoint | kTimingTracePoint));
    return Armed(jvmdi->SetBreakpoint(clazz, static_cast<jmethodID>(memberId), 0));
}

void DeleteTracePointRefs(JNIEnv* env, const RetiredTable& table) {
    for (int32_t i = 0; i < table.count; ++i) env->DeleteGlobalRef(table.entries[i].tracePointRef);
}

// The first half of an activation: disarms every entry, releases the class references and retires the
// trace point references. Leaves the table empty.
void DisarmTable(JNIEnv* env) {
    OsLockGuard recording(&g_agent.recordingLock);
    if (ArmsThroughDebugger()) {
        for (int32_t i = 0; i < g_tracePoints.count; ++i) Disarm(g_tracePoints.entries[i]);
    }
    const uint64_t ended = PublishLocked(nullptr);
    const bool unread = TableGenerationUnread(ended);
    if (unread) DeleteClassRefs(env, g_tracePoints.entries, g_tracePoints.count);
    if (g_tracePoints.entries != nullptr) {
        auto* retired = static_cast<RetiredTable*>(MemAlloc(sizeof(RetiredTable)));
        if (retired != nullptr) {
            *retired = {g_tracePoints.entries, g_tracePoints.count, BanksDeliveredLocked(), g_retired, ended, !unread};
            g_retired = retired;
        }
        // Without a node the references stay alive for good: a small leak, never a dangling
        // reference in an undelivered record.
    }
    g_tracePoints.entries = nullptr;
    g_tracePoints.count = 0;
    g_tracePoints.unlimited = 0;
    g_tracePoints.unlimitedMember = nullptr;
    SweepBuriedLocked();
    ReleaseRetiredClassesLocked(env);
    StopRefusingLocked();
}

// The class a trace point names: the run-time class of m_Object; else a java.lang.Class held
// in m_ReflectionItem (`*reflected` is then set: the class is taken as it is, from whichever
// loader defined it, and never initialised); else m_strClass with dots turned into slashes.
// Returns a local reference, or null.
jclass ResolveClass(JNIEnv* env, jobject object, jobject reflectionItem, jclass classClass, jstring className,
                    bool* reflected) {
    *reflected = false;
    if (object != nullptr) return env->GetObjectClass(object);
    if (reflectionItem != nullptr && classClass != nullptr) {
        if (env->IsInstanceOf(reflectionItem, classClass)) {
            *reflected = true;
            return static_cast<jclass>(env->NewLocalRef(reflectionItem));
        }
    }
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
    return kind == ValueKindOfCallKind(signature[0] == '[' ? 'L' : signature[0]);
}

using bytecode::kAccStatic;

// The members one class declares, as the debug interface lists them. A list of trace points
// often names many members of one class: its members are listed once.
struct DeclaredMembers {
    struct Member {
        std::string name;
        std::string signature;
        void* id;
        bool isStatic;
    };
    jclass clazz = nullptr;  // global reference, or null
    bool fields = false;
    std::vector<Member> members;
};
DeclaredMembers g_lastListed;  // the last class listed; used and cleared under the replacing lock

void ForgetListedMembers(JNIEnv* env) {
    if (g_lastListed.clazz != nullptr) env->DeleteGlobalRef(g_lastListed.clazz);
    g_lastListed.clazz = nullptr;
    g_lastListed.members.clear();
}

const DeclaredMembers& ListDeclared(JNIEnv* env, JVMDI_Interface_1* jvmdi, jclass clazz, bool field) {
    if (g_lastListed.clazz != nullptr && g_lastListed.fields == field && env->IsSameObject(g_lastListed.clazz, clazz)) {
        return g_lastListed;
    }
    ForgetListedMembers(env);
    g_lastListed.clazz = static_cast<jclass>(env->NewGlobalRef(clazz));
    g_lastListed.fields = field;
    jint count = 0;
    void** members = nullptr;
    const jvmdiError listed =
        field ? jvmdi->GetClassFields(clazz, &count, reinterpret_cast<jfieldID**>(&members))
              : jvmdi->GetClassMethods(clazz, &count, reinterpret_cast<jmethodID**>(&members));
    if (listed != JVMDI_ERROR_NONE || members == nullptr) return g_lastListed;
    for (jint i = 0; i < count; ++i) {
        char* n = nullptr;
        char* s = nullptr;
        jint modifiers = 0;
        const jvmdiError named =
            field ? jvmdi->GetFieldName(clazz, static_cast<jfieldID>(members[i]), &n, &s)
                  : jvmdi->GetMethodName(clazz, static_cast<jmethodID>(members[i]), &n, &s);
        if (named != JVMDI_ERROR_NONE) continue;
        if (field) jvmdi->GetFieldModifiers(clazz, static_cast<jfieldID>(members[i]), &modifiers);
        else jvmdi->GetMethodModifiers(clazz, static_cast<jmethodID>(members[i]), &modifiers);
        g_lastListed.members.push_back({n, s, members[i], (modifiers & kAccStatic) != 0});
        jvmdi->Deallocate(reinterpret_cast<jbyte*>(n));
        jvmdi->Deallocate(reinterpret_cast<jbyte*>(s));
    }
    jvmdi->Deallocate(reinterpret_cast<jbyte*>(members));
    return g_lastListed;
}

// The member `clazz` itself declares with that name, signature and staticness, or null. Asks the
// debug interface, which neither loads nor initialises anything.
void* DeclaredMember(JNIEnv* env, JVMDI_Interface_1* jvmdi, jclass clazz, const char* name, const char* signature,
                     bool field, bool isStatic) {
    for (const DeclaredMembers::Member& m : ListDeclared(env, jvmdi, clazz, field).members) {
        if (m.isStatic == isStatic && m.name == name && m.signature == signature) return m.id;
    }
    return nullptr;
}

// The member as JNI's lookup finds it (the class, its super classes, then the interfaces of each),
// without initialising any of them; `*declaring` becomes the class that declares it (a global
// reference). Only where the debug interface can list members.
void* MemberWithoutInitialising(JNIEnv* env, jclass clazz, const char* name, const char* signature,
                                bool field, bool isStatic, jclass* declaring) {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    void* found = nullptr;
    auto* k = static_cast<jclass>(env->NewLocalRef(clazz));
    while (k != nullptr && found == nullptr) {
        found = DeclaredMember(env, jvmdi, k, name, signature, field, isStatic);
        if (found != nullptr) *declaring = static_cast<jclass>(env->NewGlobalRef(k));
        jint count = 0;
        jclass* interfaces = nullptr;
        if (found == nullptr && jvmdi->GetImplementedInterfaces(k, &count, &interfaces) == JVMDI_ERROR_NONE &&
            interfaces != nullptr) {
            for (jint i = 0; i < count; ++i) {
                if (found == nullptr) {
                    found = DeclaredMember(env, jvmdi, interfaces[i], name, signature, field, isStatic);
                    if (found != nullptr) *declaring = static_cast<jclass>(env->NewGlobalRef(interfaces[i]));
                }
                env->DeleteGlobalRef(interfaces[i]);
            }
            jvmdi->Deallocate(reinterpret_cast<jbyte*>(interfaces));
        }
        jclass super = env->GetSuperclass(k);
        env->DeleteLocalRef(k);
        k = super;
    }
    if (k != nullptr) env->DeleteLocalRef(k);
    return found;
}

// Whether `clazz` itself declares `method` (not a super class it inherits it from).
bool DeclaresMethod(JNIEnv* env, jclass clazz, jmethodID method) {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    jclass declaring = nullptr;
    if (jvmdi == nullptr || jvmdi->GetMethodDeclaringClass == nullptr ||
        jvmdi->GetMethodDeclaringClass(clazz, method, &declaring) != JVMDI_ERROR_NONE || declaring == nullptr) {
        return false;
    }
    const bool same = env->IsSameObject(declaring, clazz);
    env->DeleteGlobalRef(declaring);
    return same;
}

bool CanListMembers() {
    JVMDI_Interface_1* jvmdi = g_agent.jvmdi;
    return jvmdi != nullptr && jvmdi->GetClassMethods != nullptr && jvmdi->GetClassFields != nullptr &&
           jvmdi->GetFieldName != nullptr && jvmdi->GetImplementedInterfaces != nullptr &&
           jvmdi->GetFieldModifiers != nullptr;
}

// The member a trace point names in `clazz`, or null. A failed lookup's NoSuchFieldError or
// NoSuchMethodError is cleared, so the rest of the list is still processed. A class taken from
// m_ReflectionItem is searched without being initialised where the debug interface allows; the
// search then tells the declaring class (`*declaring`, a global reference; else it stays null).
void* ResolveMember(JNIEnv* env, jclass clazz, jstring name, jstring signature, int32_t flags, bool reflected,
                    jclass* declaring) {
    if (name == nullptr || signature == nullptr) return nullptr;
    const char* n = env->GetStringUTFChars(name, nullptr);
    const char* s = n == nullptr ? nullptr : env->GetStringUTFChars(signature, nullptr);
    void* member = nullptr;
    if (s != nullptr) {
        const bool isStatic = (flags & kStaticTracePoint) != 0;
        const bool field = (flags & kFieldTracePoint) != 0;
        if (reflected && CanListMembers()) {
            member = MemberWithoutInitialising(env, clazz, n, s, field, isStatic, declaring);
        } else if (field) {
            member = isStatic ? static_cast<void*>(env->GetStaticFieldID(clazz, n, s))
                              : static_cast<void*>(env->GetFieldID(clazz, n, s));
        } else {
            member = isStatic ? static_cast<void*>(env->GetStaticMethodID(clazz, n, s))
                              : static_cast<void*>(env->GetMethodID(clazz, n, s));
        }
        if (member == nullptr) env->ExceptionClear();
        // A value kind that does not match the field would be read with the wrong accessor.
        if (!ValueKindFits(flags, s)) member = nullptr;
        if (member == nullptr && *declaring != nullptr) {
            env->DeleteGlobalRef(*declaring);
            *declaring = nullptr;
        }
        env->ReleaseStringUTFChars(signature, s);
    }
    if (n != nullptr) env->ReleaseStringUTFChars(name, n);
    return member;
}

// The class that declares the field `field` resolved in `clazz` (a global reference), or null.
// Reflects the field, which loads the field's type.
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

// The frames an event of a trace point that asks for its stack records at most: its optional
// m_iStackDepth (0 or missing: the default), within the maximum. The stack bit is cleared where no
// stack can be recorded (no JVMTI service to capture one).
int32_t StackDepthOf(JNIEnv* env, jobject element, int32_t* flags) {
    if (!(*flags & kStackTracePoint)) return 0;
    if (!StacksRecordable()) {
        *flags &= ~kStackTracePoint;
        return 0;
    }
    jint depth = 0;
    jclass pointClass = env->GetObjectClass(element);
    const jfieldID id = pointClass == nullptr ? nullptr : env->GetFieldID(pointClass, "m_iStackDepth", "I");
    if (id != nullptr) depth = env->GetIntField(element, id);
    env->ExceptionClear();
    if (pointClass != nullptr) env->DeleteLocalRef(pointClass);
    return depth <= 0 ? kDefaultStackDepth : depth > kMaxStackDepth ? kMaxStackDepth : depth;
}

// One element of a list: resolves, arms and enters it; writes its flags back. `classClass` is
// java.lang.Class. Returns false when it was entered but the debug interface refused to arm its
// member.
bool EnterTracePoint(JNIEnv* env, jobject element, const jfieldID* ids, jfieldID minNanosId, jclass classClass,
                     TracePointEntry* entries, int32_t* count) {
    bool taken = true;
    int32_t flags = env->GetIntField(element, ids[kFlags]);
    jobject object = env->GetObjectField(element, ids[kObject]);
    jobject reflectionItem = env->GetObjectField(element, ids[kReflectionItem]);
    auto className = static_cast<jstring>(env->GetObjectField(element, ids[kClass]));
    auto name = static_cast<jstring>(env->GetObjectField(element, ids[kName]));
    auto signature = static_cast<jstring>(env->GetObjectField(element, ids[kSignature]));

    bool reflected = false;
    jclass clazz = ResolveClass(env, object, reflectionItem, classClass, className, &reflected);
    flags &= ~kArmedTracePoint;
    jclass declaring = nullptr;
    void* member = clazz == nullptr ? nullptr : ResolveMember(env, clazz, name, signature, flags, reflected, &declaring);
    if (member != nullptr) {
        const int32_t asked =
            (flags & kFieldTracePoint) ? 0 : flags & (kArgumentsTracePoint | kExitTracePoint | kTimingTracePoint);
        // A slow-calls threshold (the optional m_lMinNanos) on a trace point with exits.
        const jlong minNanos = minNanosId != nullptr && (asked & kExitTracePoint) && ArmsThroughDebugger()
                                   ? env->GetLongField(element, minNanosId) : 0;
        if (minNanos > 0) SetMethodMinNanos(static_cast<jmethodID>(member), minNanos);
        if (ArmsThroughDebugger()) taken = Arm(clazz, member, flags);
        // What the method's road records of what was asked is written back; profiler mode
        // records entries only.
        if (asked != 0) {
            const int32_t honoured = ArmsThroughDebugger() ? HonouredMethodOptions(static_cast<jmethodID>(member)) : 0;
            flags &= ~(asked & ~honoured);
            if ((flags & kTimingTracePoint) || (minNanos > 0 && (flags & kExitTracePoint))) {
                NoteTimedTracePoint(env, static_cast<jmethodID>(member), element);
            }
        }
        const uintptr_t classRef = g_agent.profilerMode
                                       ? ClassSlotOf(clazz)
                                       : reinterpret_cast<uintptr_t>(env->NewGlobalRef(clazz));
        jclass fieldClass = nullptr;
        if ((flags & kFieldTracePoint) && !g_agent.profilerMode) {
            fieldClass = declaring != nullptr ? declaring
                                              : DeclaringClassOf(env, clazz, static_cast<jfieldID>(member),
                                                                 (flags & kStaticTracePoint) != 0);
            declaring = nullptr;
        }
        const int32_t depth = StackDepthOf(env, element, &flags);
        const bool own = !(flags & kFieldTracePoint) && !g_agent.profilerMode &&
                         DeclaresMethod(env, clazz, static_cast<jmethodID>(member));
        entries[*count] = {flags, depth, member, classRef, env->NewGlobalRef(element), fieldClass, own};
        ++*count;
        flags |= kArmedTracePoint;
    }
    if (declaring != nullptr) env->DeleteGlobalRef(declaring);
    env->SetIntField(element, ids[kFlags], flags);

    for (jobject local : {static_cast<jobject>(clazz), object, reflectionItem, static_cast<jobject>(className),
                          static_cast<jobject>(name), static_cast<jobject>(signature)}) {
        if (local != nullptr) env->DeleteLocalRef(local);
    }
    return taken;
}

// Resolves, arms and enters the elements of `list` into `entries` from `*count` on (room for
// every element); `refused`, when given, learns the elements whose members were refused. False
// when the trace point class's fields cannot be found.
bool EnterList(JNIEnv* env, jobjectArray list, jsize n, TracePointEntry* entries, int32_t* count,
               std::vector<jsize>* refused = nullptr) {
    jfieldID ids[kFieldCount];
    jfieldID minNanosId = nullptr;  // an optional field: a Java side may not have it
    bool haveIds = false;
    bool failed = false;
    jclass classClass = env->FindClass("java/lang/Class");
    if (classClass == nullptr) env->ExceptionClear();
    for (jsize i = 0; i < n && !failed; ++i) {
        jobject element = env->GetObjectArrayElement(list, i);
        if (element == nullptr) continue;
        if (!haveIds) {
            haveIds = LookUpObjectFields(env, element, kTracePointFields, kFieldCount, ids,
                                         "ERROR: VexoDll failed to access fields in TracePoint\n");
            failed = !haveIds;
            if (haveIds) {
                jclass pointClass = env->GetObjectClass(element);
                minNanosId = env->GetFieldID(pointClass, "m_lMinNanos", "J");
                if (minNanosId == nullptr) env->ExceptionClear();
                env->DeleteLocalRef(pointClass);
            }
        }
        if (haveIds && !EnterTracePoint(env, element, ids, minNanosId, classClass, entries, count) && refused != nullptr) {
            refused->push_back(i);
        }
        env->DeleteLocalRef(element);
    }
    ForgetListedMembers(env);
    if (classClass != nullptr) env->DeleteLocalRef(classClass);
    return !failed;
}

TracePointEntry* AllocateEntries(size_t n) {
    const size_t bytes = sizeof(TracePointEntry) * n;
    auto* entries = static_cast<TracePointEntry*>(MemAlloc(bytes));
    if (entries == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate %d bytes\n", static_cast<int>(bytes));
        return nullptr;
    }
    std::memset(static_cast<void*>(entries), 0, bytes);
    return entries;
}

// Installs `entries` as the table with a fresh index and publishes it; returns the table it
// replaced, and in `*ended` the generation that ended with it, for the caller to dispose of.
TracePointTable Install(TracePointEntry* entries, int32_t count, uint64_t* ended) {
    // Without memory for the index lookups scan the table; without memory for the publication
    // every hit looks its entry up under the lock.
    auto* published = static_cast<PublishedTable*>(MemAlloc(sizeof(PublishedTable)));
    if (published != nullptr) {
        published->entries = entries;
        published->count = count;
        BuildTracePointIndex(entries, count, &published->index);
    }
    OsLockGuard recording(&g_agent.recordingLock);
    const TracePointTable replaced = g_tracePoints;
    *ended = PublishLocked(published);
    g_tracePoints.count = count;
    g_tracePoints.entries = entries;
    g_tracePoints.unlimited = 0;
    g_tracePoints.unlimitedMember = nullptr;
    ForgetWantedStacksLocked();
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].flags & kStackTracePoint) WantStackLocked(entries[i].memberId, entries[i].stackDepth);
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!(entries[i].flags & kUnlimitedTracePoint)) continue;
        if (g_tracePoints.unlimited++ == 0) g_tracePoints.unlimitedMember = entries[i].memberId;
    }
    StopRefusingLocked();  // the limit may be new, and the marks
    return replaced;
}

// Builds the new table from the list array and installs it.
void BuildTable(JNIEnv* env, jobjectArray list) {
    const jsize n = list == nullptr ? 0 : env->GetArrayLength(list);
    if (n == 0) return;  // an empty list leaves the table empty: tracing is off
    TracePointEntry* entries = AllocateEntries(static_cast<size_t>(n));
    if (entries == nullptr) return;
    int32_t count = 0;
    if (!EnterList(env, list, n, entries, &count)) {
        MemFree(entries);
        return;
    }
    uint64_t ended = 0;
    Install(entries, count, &ended);
}

// In profiler mode, tells the profiler (where it can be told) the methods of the installed
// trace points, so that it reports entries of those alone. Under the replacing lock.
void NameTheTracedMethods(JNIEnv* env) {
    if (!g_agent.profilerMode || g_agent.jvmpiExtension == nullptr) return;
    std::vector<jmethodID> methods;
    for (int32_t i = 0; i < g_tracePoints.count; ++i) {
        const TracePointEntry& entry = g_tracePoints.entries[i];
        if (!(entry.flags & kFieldTracePoint)) methods.push_back(static_cast<jmethodID>(entry.memberId));
    }
    const jint status = g_agent.jvmpiExtension->SetMethodEntryFilter(env, static_cast<jint>(methods.size()),
                                                                     methods.data());
    if (status != JVMPI_SUCCESS) {
        ErrorOut("Vexo error:  the profiler cannot report the traced methods' entries (%x)\n",
                 static_cast<unsigned>(status));
    }
}

// Tells the listener the method entries from `from` on that are the first of their methods.
// Under the replacing lock, which keeps the table as it is.
void TellFirstEntries(JNIEnv* env, int32_t from, bool reset) {
    if (g_firstEntriesListener == nullptr || g_agent.profilerMode) return;
    std::vector<FirstMethodEntry> firsts;
    for (int32_t i = from; i < g_tracePoints.count; ++i) {
        const TracePointEntry& e = g_tracePoints.entries[i];
        if ((e.flags & (kFieldTracePoint | kStaticTracePoint)) || FindTracePoint(env, e.memberId, nullptr) != &e) continue;
        firsts.push_back({static_cast<jmethodID>(e.memberId), reinterpret_cast<jclass>(e.classRef)});
    }
    if (reset || !firsts.empty()) g_firstEntriesListener(env, firsts.data(), firsts.size(), reset);
}

// The number of entries the table holds.
int32_t TableCount() {
    OsLockGuard recording(&g_agent.recordingLock);
    return g_tracePoints.count;
}

// Activations and additions replace the table one at a time.
OsLock* ReplacingLock() {
    static OsLock lock;
    static const bool ready = OsLockInit(&lock);
    (void)ready;
    return &lock;
}
}  // namespace

void ActivateTracePoints(JNIEnv* env, jobject list) {
    jfieldID ids[2];
    if (!LookUpObjectFields(env, list, kListFields, 2, ids,
                            "ERROR: cannot find fields in ActivateTracePoints\n")) {
        return;
    }
    auto array = static_cast<jobjectArray>(env->GetObjectField(list, ids[0]));
    {
        OsLockGuard replacing(ReplacingLock());
        StoreRelaxed(g_recording.recordingLimit, static_cast<int32_t>(env->GetIntField(list, ids[1])));
        DisarmTable(env);
        TellFirstEntries(env, 0, true);  // the table is empty: every owner goes
        BuildTable(env, array);
        NameTheTracedMethods(env);
        TellFirstEntries(env, 0, false);
    }
    if (array != nullptr) env->DeleteLocalRef(array);
}

void AddTracePoints(JNIEnv* env, jobjectArray points, std::vector<jsize>* refused) {
    const jsize n = points == nullptr ? 0 : env->GetArrayLength(points);
    if (n == 0) return;
    OsLockGuard replacing(ReplacingLock());
    const int32_t kept = TableCount();
    TracePointEntry* entries = AllocateEntries(static_cast<size_t>(kept) + static_cast<size_t>(n));
    if (entries != nullptr) {
        // The table changes only under this lock, so the kept entries can be copied unlocked; the
        // new table takes over their references.
        if (kept > 0) std::memcpy(static_cast<void*>(entries), g_tracePoints.entries, sizeof(TracePointEntry) * static_cast<size_t>(kept));
        int32_t count = kept;
        if (EnterList(env, points, n, entries, &count, refused)) {
            // No record points into a table: the replaced array goes once no reader holds it.
            uint64_t ended = 0;
            TracePointEntry* replaced = Install(entries, count, &ended).entries;
            {
                OsLockGuard recording(&g_agent.recordingLock);
                BuryLocked(ended, nullptr, replaced);
            }
            NameTheTracedMethods(env);
            TellFirstEntries(env, kept, false);
        } else {
            MemFree(entries);
        }
    }
}

namespace {
// Another class's field at the same offset is not this entry's field.
bool SameField(JNIEnv* env, const TracePointEntry& entry, jclass fieldClass) {
    return fieldClass == nullptr || entry.fieldClass == nullptr || env == nullptr ||
           env->IsSameObject(entry.fieldClass, fieldClass);
}
}  // namespace

namespace {
const TracePointEntry* FindIn(JNIEnv* env, const TracePointEntry* entries, int32_t count,
                              const TracePointIndex* index, const void* memberId, jclass fieldClass) {
    if (index != nullptr && index->slots != nullptr) {
        for (int32_t i = FirstEntryOf(*index, entries, memberId); i >= 0; i = NextEntryOf(*index, i)) {
            if (SameField(env, entries[i], fieldClass)) return &entries[i];
        }
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].memberId == memberId && SameField(env, entries[i], fieldClass)) return &entries[i];
    }
    return nullptr;
}
}  // namespace

const TracePointEntry* FindTracePoint(JNIEnv* env, const void* memberId, jclass fieldClass) {
    // The installed table is the published one, but where there was no memory to publish it.
    const PublishedTable* published = g_published.load(std::memory_order_relaxed);
    return FindIn(env, g_tracePoints.entries, g_tracePoints.count, published != nullptr ? &published->index : nullptr,
                  memberId, fieldClass);
}

const TracePointEntry* FindPublishedTracePoint(JNIEnv* env, const void* memberId, jclass fieldClass,
                                               const void** table) {
    const PublishedTable* published = g_published.load(std::memory_order_acquire);
    *table = published;
    if (published == nullptr) return nullptr;
    return FindIn(env, published->entries, published->count, &published->index, memberId, fieldClass);
}

bool PublishedTableCurrentLocked(const void* table) {
    return table != nullptr && table == g_published.load(std::memory_order_relaxed);
}

void ReleaseRetiredTracePointsLocked(JNIEnv* env, uint32_t banksDelivered) {
    // Retired before the last two deliveries: neither bank can hold their records any more.
    SweepBuriedLocked();
    ReleaseRetiredClassesLocked(env);
    RetiredTable** link = &g_retired;
    while (*link != nullptr) {
        RetiredTable* table = *link;
        if (!table->classesHeld && ReleasableAfter(table->banksDeliveredAtRetirement, banksDelivered)) {
            *link = table->next;
            DeleteTracePointRefs(env, *table);
            MemFree(table->entries);
            MemFree(table);
        } else {
            link = &table->next;
        }
    }
}
