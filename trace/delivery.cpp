#include "trace/delivery.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <initializer_list>
#include <unordered_map>
#include <vector>

#include "core/agent_state.h"
#include "core/error_out.h"
#include "core/java_fields.h"
#include "core/sync.h"
#include "platform/os.h"
#include "registry/object_table.h"
#include "registry/reference_recovery.h"
#include "trace/access_sites.h"
#include "trace/boxing.h"
#include "trace/event_filler.h"
#include "trace/bank_deliveries.h"
#include "trace/call_details.h"
#include "trace/drop_counts.h"
#include "trace/event_bank.h"
#include "trace/event_classes.h"
#include "trace/stack_frames.h"
#include "trace/thread_tags.h"
#include "trace/trace_flags.h"
#include "trace/trace_points.h"

namespace {
enum MethodEventField { kSubject, kObjectIndex, kTracePoint, kMethodEventFieldCount };

const JavaFieldName kMethodEventFields[kMethodEventFieldCount] = {
    {"m_Subject", "Ljava/lang/Object;"},
    {"m_iObjectIndex", "I"},
    {"m_TracePoint", "Lcom/vexo/TracePoints$TracePoint;"},
};

const JavaFieldName kRecordedDataFields[] = {
    {"m_Events", "[Lcom/vexo/TraceMethodEvent;"},
    {"m_bOverflow", "Z"},
};

// A field of an event subclass, looked up on its class the first time a delivery needs it.
// A missing field is never written; its lookup's exception is cleared so delivery goes on.
struct LazyField {
    EventClass owner;
    const char* name;
    const char* signature;
    bool tried;
    jfieldID id;

    jfieldID Get(JNIEnv* env) { return GetIn(env, EventClassRef(owner)); }

    jfieldID GetIn(JNIEnv* env, jclass clazz) {
        if (!tried) {
            tried = true;
            id = clazz == nullptr ? nullptr : env->GetFieldID(clazz, name, signature);
            if (id == nullptr) env->ExceptionClear();
        }
        return id;
    }
};

// The exit event class, found the first time an exit is delivered (a Java side without it never
// asks for exits), and the class of argument arrays.
KeptClass g_exitEventClass{"com/vexo/TraceMethodExitEvent"};
KeptClass g_objectClass{"java/lang/Object"};

// The Java fields delivery stores, looked up for each delivery: those of every event (the method
// event's, then those the Java side may lack), ...
struct EventFieldIds {
    jfieldID method[kMethodEventFieldCount];
    LazyField thread{kMethodEventClass, "m_Thread", "Ljava/lang/Thread;", false, nullptr};
    LazyField time{kMethodEventClass, "m_lTime", "J", false, nullptr};
    LazyField arguments{kMethodEventClass, "m_Arguments", "[Ljava/lang/Object;", false, nullptr};
    LazyField stack{kMethodEventClass, "m_Stack", "[Ljava/lang/StackTraceElement;", false, nullptr};
};

// ... a field event's value, on the class of its kind, and its assigned bit ...
struct ValueFieldIds {
    LazyField assigned{kFieldEventClass, "m_bAssigned", "Z", false, nullptr};
    LazyField longValue{kIntEventClass, "m_lValue", "J", false, nullptr};
    LazyField floatValue{kFloatEventClass, "m_fValue", "F", false, nullptr};
    LazyField doubleValue{kDoubleEventClass, "m_dValue", "D", false, nullptr};
    LazyField objectValue{kObjectEventClass, "m_Value", "Ljava/lang/Object;", false, nullptr};
    LazyField site{kFieldEventClass, "m_Site", "Ljava/lang/StackTraceElement;", false, nullptr};
    SiteElementCache sites;
};

// ... and those of the exit event class.
struct ExitFieldIds {
    LazyField returnValue{kMethodEventClass, "m_ReturnValue", "Ljava/lang/Object;", false, nullptr};
    LazyField exception{kMethodEventClass, "m_Exception", "Ljava/lang/Throwable;", false, nullptr};
    LazyField thrown{kMethodEventClass, "m_bThrown", "Z", false, nullptr};
    LazyField duration{kMethodEventClass, "m_lDuration", "J", false, nullptr};
};

// The fields every event carries (its trace point, thread, subject reference and time, an exit's
// duration), taken from each record converted and stored after the last: by the filler in one
// call, or one by one. A run of records mostly shares its trace point, thread and subject, so
// each is placed among the common references once, and the last one's place is kept.
struct CommonSink {
    CommonFields fields;
    std::unordered_map<const void*, jint> placeOf;  // of trace points' and threads' references
    jobject lastPoint = nullptr;
    jint lastPointAt = 0;
    const ThreadTag* lastTag = nullptr;
    jint lastThreadAt = 0;
    uintptr_t lastSubject = 0;
    jint lastSubjectAt = 0;
    // The events from the first on whose common fields were stored as they were made, while no
    // filler was there to take them: StoreCommonFields begins after them.
    size_t storedHere = 0;
};

// The arguments and primitive return values of the events converted, boxed after the last; the
// return values are kept here until then.
struct BoxingQueue {
    std::vector<BoxedValues> groups;
    std::deque<CallValue> results;
};

// Whether the filler takes what is queued, and makes events too. It is there from the start when
// an earlier delivery brought it; else the first record with arguments or an exit brings it.
struct FillerUse {
    bool ready = false;
    bool makes = false;
};

// One delivery's sink (a bank, or a slice of one), through which every field of its events has one
// way in, whether or not the filler is there yet: the common fields, the arguments and the primitive
// return values are queued and stored after the last record; a field event's value, a profiler
// slot's subject, an exit's object result, exception and thrown bit are stored as its event is made.
// The stacks of the events converted (their places and frames), stored after the last.
struct QueuedStack {
    jsize place;
    const CallDetails* details;
};

struct EventSink {
    EventFieldIds event;
    ValueFieldIds value;
    ExitFieldIds exit;
    CommonSink common;
    BoxingQueue boxing;
    FillerUse filler;
    std::vector<QueuedStack> stacks;
    // The thread's and time's field ids, looked up for the sink's first event that stores them.
    bool commonIdsKnown = false;
    jfieldID threadId = nullptr;
    jfieldID timeId = nullptr;
};

// `ref` is deleted after the bank's last record (records of one filling may share it).
void DeleteAfterBank(std::vector<jweak>* spent, jweak ref) {
    if (ref != nullptr) spent->push_back(ref);
}

void DeleteValuesAfterBank(std::vector<jweak>* spent, const CallValue* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (values[i].kind == 'L' && !values[i].shared) DeleteAfterBank(spent, values[i].value.l);
    }
}

// The class a record's value kind selects; kinds without a value class give a method event.
EventClass ClassForKind(int32_t kind) {
    switch (kind) {
        case kIntValue: case kLongValue: case kShortValue: case kByteValue: case kBooleanValue:
        case kCharValue: return kIntEventClass;
        case kFloatValue: return kFloatEventClass;
        case kDoubleValue: return kDoubleEventClass;
        case kObjectValue: return kObjectEventClass;
        default: return kMethodEventClass;
    }
}

// A profiler slot's object as the subject of `event` (a reference subject goes with the common
// fields).
void SetSlotSubject(JNIEnv* env, jobject event, const TraceEventRecord& r, jfieldID field) {
    const ObjectSlot* slot = SlotOf(static_cast<SlotHandle>(r.subject));
    if (slot == nullptr) return;
    const auto id = static_cast<jobjectID>(slot->objectId.load(std::memory_order_relaxed));
    if (g_agent.jvmpiVersion != 11) {
        // JVMPI 1 gives the address of a cell holding the identifier, which a 32-bit VM of that
        // profiler reads as a reference; stored raw into the reference field. On a 64-bit target
        // such a store would corrupt the field, so m_Subject stays null there.
        if (sizeof(void*) == sizeof(jint)) {
            env->SetIntField(event, field, static_cast<jint>(RecoverObjectRef(id)));
        }
        return;
    }
    jobject subject = g_agent.jvmpi->jobjectID2jobject(id);
    env->SetObjectField(event, field, subject);
    if (subject != nullptr) env->DeleteLocalRef(subject);
}

void SetValue(JNIEnv* env, jobject event, const TraceEventRecord& r, ValueFieldIds* ids) {
    if (r.flags & kExitEvent) return;  // its value is the call's result
    const int32_t kind = r.flags & kValueKindMask;
    const EventClass eventClass = ClassForKind(kind);
    jfieldID id = nullptr;
    switch (eventClass) {
        case kIntEventClass:
            if ((id = ids->longValue.Get(env)) != nullptr) env->SetLongField(event, id, r.value.j);
            break;
        case kFloatEventClass:
            if ((id = ids->floatValue.Get(env)) != nullptr) env->SetFloatField(event, id, r.value.f);
            break;
        case kDoubleEventClass:
            if ((id = ids->doubleValue.Get(env)) != nullptr) env->SetDoubleField(event, id, r.value.d);
            break;
        case kObjectEventClass:
            if ((id = ids->objectValue.Get(env)) != nullptr) env->SetObjectField(event, id, r.value.l);
            break;
        default:
            return;  // a method event: no value and no assigned bit
    }
    if ((id = ids->assigned.Get(env)) != nullptr) {
        env->SetBooleanField(event, id, (r.flags & kAssignedEvent) ? JNI_TRUE : JNI_FALSE);
    }
    // Where it happened, for a Java side whose field events have the field.
    if (r.site != 0 && (id = ids->site.Get(env)) != nullptr) {
        jobject site = ids->sites.Get(env, r.site);
        if (site != nullptr) env->SetObjectField(event, id, site);
    }
}

// The weak references a record owns are done with (converted or dropped): its subject, its
// field value or exit result, its arguments.
void ReleaseRecord(std::vector<jweak>* spent, const TraceEventRecord& r) {
    if ((r.flags & kSubjectKindMask) == kWeakRefSubject && !(r.flags & kSharedSubject)) {
        DeleteAfterBank(spent, reinterpret_cast<jweak>(r.subject));
    }
    if ((r.flags & kValueKindMask) == kObjectValue) DeleteAfterBank(spent, r.value.l);
    if (!(r.flags & kExitEvent) && r.details != nullptr) DeleteValuesAfterBank(spent, r.details->arguments, r.details->argumentCount);
}

// An Object[] of the arguments boxed here, one value at a time (when the bank's could not be
// boxed in one call); null without memory.
jobject ArgumentArray(JNIEnv* env, const CallValue* arguments, int32_t count) {
    jclass objectClass = g_objectClass.Get(env);
    jobjectArray array = objectClass == nullptr ? nullptr : env->NewObjectArray(count, objectClass, nullptr);
    for (int32_t i = 0; array != nullptr && i < count; ++i) {
        bool local = false;
        jobject boxed = BoxCallValue(env, arguments[i], &local);
        if (boxed != nullptr) env->SetObjectArrayElement(array, i, boxed);
        if (local) env->DeleteLocalRef(boxed);
    }
    return array;
}

// The place among the common references of a trace point's or a thread's reference.
jint CommonPlace(CommonSink* sink, const void* key, jobject ref) {
    const auto placed = sink->placeOf.emplace(key, static_cast<jint>(sink->fields.common.size()));
    if (placed.second) sink->fields.common.push_back(ref);
    return placed.first->second;
}

// Takes the common fields of record `r`, converted at `index`, whose event the filler is to make
// unless it was `made` here.
void TakeCommonFields(const TraceEventRecord& r, jsize index, MadeEvent made, CommonSink* sink) {
    CommonFields& q = sink->fields;
    q.made.push_back(made);
    if (r.tracePointRef != sink->lastPoint || q.points.empty()) {
        sink->lastPoint = r.tracePointRef;
        sink->lastPointAt = CommonPlace(sink, r.tracePointRef, r.tracePointRef);
    }
    q.points.push_back(sink->lastPointAt);
    jint thread = -1;
    if (r.thread != nullptr && r.thread->thread != nullptr) {
        if (r.thread != sink->lastTag) {
            sink->lastTag = r.thread;
            sink->lastThreadAt = CommonPlace(sink, r.thread, r.thread->thread);
        }
        thread = sink->lastThreadAt;
    }
    q.threads.push_back(thread);
    // A subject's reference (a slot's is stored apart); a run of records sharing one shares its place.
    jint subject = -1;
    if ((r.flags & kSubjectKindMask) != kSlotSubject && r.subject != 0) {
        if (r.subject != sink->lastSubject || q.subjects.empty()) {
            sink->lastSubject = r.subject;
            sink->lastSubjectAt = static_cast<jint>(q.common.size());
            q.common.push_back(reinterpret_cast<jobject>(r.subject));
        }
        subject = sink->lastSubjectAt;
    }
    q.subjects.push_back(subject);
    q.times.push_back(r.time);
    if (r.flags & kExitEvent) {
        q.exits.push_back(index);
        q.durations.push_back((r.flags & kExitWithStack) ? r.details->arguments[0].value.j : r.duration);
    }
}

// The common fields of the event at `i` (not null), one by one: the trace point, the thread and
// the subject where there is one, the time, and an exit's duration (`exit`: its place in q.exits,
// or -1).
void StoreCommonFieldsOf(JNIEnv* env, jobject event, EventSink* sink, size_t i, ptrdiff_t exit) {
    const CommonFields& q = sink->common.fields;
    auto common = [&q](jint place) { return place < 0 ? nullptr : q.common[static_cast<size_t>(place)]; };
    if (!sink->commonIdsKnown) {
        sink->threadId = sink->event.thread.Get(env);
        sink->timeId = sink->event.time.Get(env);
        sink->commonIdsKnown = true;
    }
    const jfieldID thread = sink->threadId;
    const jfieldID time = sink->timeId;
    env->SetObjectField(event, sink->event.method[kTracePoint], common(q.points[i]));
    if (thread != nullptr && q.threads[i] >= 0) env->SetObjectField(event, thread, common(q.threads[i]));
    if (q.subjects[i] >= 0) env->SetObjectField(event, sink->event.method[kSubject], common(q.subjects[i]));
    if (time != nullptr) env->SetLongField(event, time, q.times[i]);
    if (exit >= 0) {
        const jfieldID duration = sink->exit.duration.GetIn(env, g_exitEventClass.Get(env));
        if (duration != nullptr) env->SetLongField(event, duration, q.durations[static_cast<size_t>(exit)]);
    }
}

// Stores the common fields one by one, when the filler could not, of the events not stored as
// they were made.
void StoreCommonFields(JNIEnv* env, jobjectArray array, EventSink* sink) {
    const CommonFields& q = sink->common.fields;
    const size_t from = sink->common.storedHere;
    // The next exit's place in q.exits.
    size_t exit = static_cast<size_t>(std::lower_bound(q.exits.begin(), q.exits.end(), static_cast<jint>(from)) - q.exits.begin());
    for (size_t i = from; i < q.points.size(); ++i) {
        const auto index = static_cast<jsize>(i);
        const bool exits = exit < q.exits.size() && q.exits[exit] == index;
        jobject event = env->GetObjectArrayElement(array, index);
        if (event != nullptr) {
            StoreCommonFieldsOf(env, event, sink, i, exits ? static_cast<ptrdiff_t>(exit) : -1);
            env->DeleteLocalRef(event);
        }
        if (exits) ++exit;
    }
}

// An entry's arguments and an exit's primitive return value are queued for boxing (the event's
// place in the delivered array is `index`); an exit's object or exception is stored here.
void SetCallValues(JNIEnv* env, jobject event, const TraceEventRecord& r, jsize index, EventSink* sink) {
    if (!(r.flags & kExitEvent)) {
        if (r.details == nullptr) return;
        if (r.details->argumentCount >= 0 && sink->event.arguments.Get(env) != nullptr) {
            sink->boxing.groups.push_back({index, r.details->argumentCount, r.details->arguments});
        }
        if (r.details->frameCount >= 0 && sink->event.stack.Get(env) != nullptr) sink->stacks.push_back({index, r.details});
        return;
    }
    if ((r.flags & kExitWithStack) && sink->event.stack.Get(env) != nullptr) sink->stacks.push_back({index, r.details});
    // A new event's fields are null, false and 0: only what differs is written.
    jclass exitClass = g_exitEventClass.Get(env);
    const bool thrown = (r.flags & kThrownEvent) != 0;
    const CallValue result{CallKindOfValueKind(r.flags & kValueKindMask), false, r.value};
    jfieldID id = nullptr;
    if (result.kind != 'V' && result.kind != 'L' && sink->exit.returnValue.GetIn(env, exitClass) != nullptr) {
        sink->boxing.results.push_back(result);
        sink->boxing.groups.push_back({index, -1, &sink->boxing.results.back()});
    } else if (result.kind != 'V' &&
               (id = (thrown ? sink->exit.exception : sink->exit.returnValue).GetIn(env, exitClass)) != nullptr) {
        bool local = false;
        jobject boxed = BoxCallValue(env, result, &local);
        if (boxed != nullptr) env->SetObjectField(event, id, boxed);
        if (local) env->DeleteLocalRef(boxed);
    }
    if (thrown && (id = sink->exit.thrown.GetIn(env, exitClass)) != nullptr) env->SetBooleanField(event, id, JNI_TRUE);
}

// The sink of a delivery of `count` records: the filler takes it whole if an earlier delivery
// brought it.
void StartSink(JNIEnv* env, jsize count, EventSink* sink) {
    CommonFields& q = sink->common.fields;
    q.made.reserve(static_cast<size_t>(count));
    for (std::vector<jint>* v : {&q.points, &q.threads, &q.subjects}) v->reserve(static_cast<size_t>(count));
    q.times.reserve(static_cast<size_t>(count));
    sink->filler.ready = EventFillerReady(env, EventClassRef(kMethodEventClass), false);
    sink->filler.makes = sink->filler.ready && EventFillerMakesEvents(env);
}

// A record with arguments or an exit brings the filler, defined now if it was not yet; any record
// does when the Java side asked for the filler.
std::atomic<bool> g_fillEveryDelivery{false};

void BringFiller(JNIEnv* env, FillerUse* filler) {
    if (filler->ready) return;
    filler->ready = EventFillerReady(env, EventClassRef(kMethodEventClass), true);
    filler->makes = filler->ready && EventFillerMakesEvents(env);
}

// Which event the filler can make for record `r` itself: one that gets nothing but what the filler
// stores (a method entry, or an exit that returned a primitive or nothing, whose subject is not a
// profiler slot).
MadeEvent FillerMakes(const TraceEventRecord& r) {
    if ((r.flags & kSubjectKindMask) == kSlotSubject) return kMadeHere;
    if (!(r.flags & kExitEvent)) return ClassForKind(r.flags & kValueKindMask) == kMethodEventClass ? kMakeEntry : kMadeHere;
    return (r.flags & kThrownEvent) || (r.flags & kValueKindMask) == kObjectValue ? kMadeHere : kMakeExit;
}

// Converts one record into a new event object stored at `index` (or left to the filler to make),
// its common fields, arguments and primitive return value into the sink. Returns false when the
// event object cannot be allocated.
bool ConvertRecord(JNIEnv* env, const TraceEventRecord& r, jobjectArray array, jsize index, EventSink* sink) {
    jclass eventClass = EventClassRef(ClassForKind(r.flags & kValueKindMask));
    if (r.flags & kExitEvent) eventClass = g_exitEventClass.Get(env);
    if (eventClass == nullptr) return false;
    if ((r.flags & kExitEvent) || (r.details != nullptr && r.details->argumentCount >= 0) ||
        g_fillEveryDelivery.load(std::memory_order_relaxed)) {
        BringFiller(env, &sink->filler);
    }
    const MadeEvent made = sink->filler.makes ? FillerMakes(r) : kMadeHere;
    jobject event = nullptr;
    if (made == kMadeHere && (event = env->AllocObject(eventClass)) == nullptr) return false;
    TakeCommonFields(r, index, made, &sink->common);
    if ((r.flags & kSubjectKindMask) == kSlotSubject) SetSlotSubject(env, event, r, sink->event.method[kSubject]);
    SetCallValues(env, event, r, index, sink);
    if (event == nullptr) return true;
    // Without the filler so far, the common fields go in now, while the event is at hand (the
    // filler, should a later record bring it, stores them again, alike).
    CommonSink& common = sink->common;
    if (!sink->filler.ready && common.storedHere == static_cast<size_t>(index) &&
        common.fields.points.size() == common.storedHere + 1) {
        const bool exit = (r.flags & kExitEvent) != 0;
        StoreCommonFieldsOf(env, event, sink, common.storedHere,
                            exit ? static_cast<ptrdiff_t>(common.fields.exits.size() - 1) : -1);
        ++common.storedHere;
    }
    SetValue(env, event, r, &sink->value);
    env->SetObjectArrayElement(array, index, event);
    env->DeleteLocalRef(event);
    return true;
}

const char kEventNotAllocated[] = "ERROR: VexoDll failed to allocate a trace event";

// Makes the events the filler was to make, when it could not; where memory runs out, that event
// and those after it stay null.
void MakeMissingEvents(JNIEnv* env, jobjectArray array, const CommonFields& q) {
    for (size_t i = 0; i < q.made.size(); ++i) {
        if (q.made[i] == kMadeHere) continue;
        const auto index = static_cast<jsize>(i);
        jobject event = env->GetObjectArrayElement(array, index);
        if (event == nullptr) {
            jclass eventClass = q.made[i] == kMakeEntry ? EventClassRef(kMethodEventClass) : g_exitEventClass.Get(env);
            event = eventClass == nullptr ? nullptr : env->AllocObject(eventClass);
            if (event == nullptr) {
                env->ExceptionClear();
                ErrorOut(kEventNotAllocated);
                return;
            }
            env->SetObjectArrayElement(array, index, event);
        }
        env->DeleteLocalRef(event);
    }
}

// Stores what the sink took from the converted records: all in one call of the filler, or one by
// one when it is not there or its call failed.
void StoreSink(JNIEnv* env, jobjectArray array, EventSink* sink) {
    const std::vector<BoxedValues>& groups = sink->boxing.groups;
    if (sink->filler.ready &&
        FillEvents(env, EventClassRef(kMethodEventClass), g_exitEventClass.Get(env), array, sink->common.fields, groups)) {
        return;
    }
    if (sink->filler.makes) MakeMissingEvents(env, array, sink->common.fields);
    StoreCommonFields(env, array, sink);
    for (const BoxedValues& g : groups) {
        jobject event = env->GetObjectArrayElement(array, g.place);
        bool local = true;
        jobject value = event == nullptr ? nullptr
            : g.count < 0 ? BoxCallValue(env, g.values[0], &local) : ArgumentArray(env, g.values, g.count);
        const jfieldID id = g.count < 0 ? sink->exit.returnValue.GetIn(env, g_exitEventClass.Get(env))
                                        : sink->event.arguments.Get(env);
        if (value != nullptr) env->SetObjectField(event, id, value);
        env->ExceptionClear();
        if (value != nullptr && local) env->DeleteLocalRef(value);
        if (event != nullptr) env->DeleteLocalRef(event);
    }
}

// The stacks of the events that carry one, into their m_Stack, once every event is made.
void StoreStacks(JNIEnv* env, jobjectArray array, EventSink* sink) {
    const jfieldID id = sink->event.stack.Get(env);
    for (const QueuedStack& q : sink->stacks) {
        jobject event = env->GetObjectArrayElement(array, q.place);
        jobjectArray stack = event == nullptr ? nullptr : StackElements(env, q.details->Frames(), q.details->frameCount, q.details->framesShown);
        if (stack != nullptr) {
            env->SetObjectField(event, id, stack);
            env->DeleteLocalRef(stack);
        }
        if (event != nullptr) env->DeleteLocalRef(event);
    }
    env->ExceptionClear();
}

// A record's weak references were made on the thread that recorded it, so reading them misses
// this thread's cache: the memory they refer to is asked for a few records ahead. (A reference
// is the address of its slot, with a tag in its low bits; a prefetch of any address is harmless.)
constexpr int32_t kPrefetchAhead = 8;

void PrefetchReferences(const TraceEventRecord& r) {
#if defined(__GNUC__)
    constexpr uintptr_t kTagBits = 3;
    if ((r.flags & kSubjectKindMask) == kWeakRefSubject && r.subject != 0) {
        __builtin_prefetch(reinterpret_cast<const void*>(r.subject & ~kTagBits), 1);
    }
    if ((r.flags & kValueKindMask) == kObjectValue && r.value.l != nullptr) {  // a field's or a result's
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(r.value.l) & ~kTagBits), 1);
    }
#else
    (void)r;
#endif
}

// A bank being delivered: the whole bank in one delivery, or, when the Java side asked for
// bounded deliveries, slice by slice, each delivery taking up where the last one stopped.
struct BankInDelivery {
    EventBank* bank = nullptr;
    std::vector<EventChunk*> chunks;  // its chunks with records, in the order they were filled
    size_t chunk = 0;                 // where the next slice starts
    int32_t place = 0;
    int32_t left = 0;                 // records not yet handed over
    bool sliced = false;              // a slice of it has been handed over
    // The weak references of its records handed over, deleted after its last record: records
    // of one filling may share one, which its owner's deletion must not take from the later ones.
    std::vector<jweak> spent;
    std::vector<DropCount> drops;     // taken with the bank, handed over with its first slice
};
BankInDelivery g_delivering;  // the consumer's (one consumer thread at a time)

// The bank just taken, its chunks put in the order they were filled.
void StartBank(BankInDelivery* d, EventBank* bank) {
    d->bank = bank;
    d->chunks.clear();
    for (EventChunk* chunk = bank->head; chunk != nullptr; chunk = chunk->next) {
        if (chunk->usedCount > 0) d->chunks.push_back(chunk);
    }
    std::stable_sort(d->chunks.begin(), d->chunks.end(), [](const EventChunk* a, const EventChunk* b) {
        return a->firstRecord < b->firstRecord;
    });
    d->chunk = 0;
    d->place = 0;
    d->left = bank->eventCount;
    d->sliced = false;
}

// The next record of the bank, in the order they were made.
const TraceEventRecord& NextRecord(BankInDelivery* d) {
    while (d->place >= d->chunks[d->chunk]->usedCount) {
        ++d->chunk;
        d->place = 0;
    }
    EventChunk* chunk = d->chunks[d->chunk];
    if (d->place + kPrefetchAhead < chunk->usedCount) PrefetchReferences(chunk->records[d->place + kPrefetchAhead]);
    --d->left;
    return chunk->records[d->place++];
}

// Converts the next `count` records into `array`. After a failed allocation the remaining
// records are released instead of converted, so nothing stays counted; their places stay null.
void ConvertSlice(JNIEnv* env, BankInDelivery* d, jsize count, jobjectArray array, EventSink* sink) {
    StartSink(env, count, sink);
    jsize index = 0;
    bool converting = true;
    for (jsize i = 0; i < count; ++i) {
        const TraceEventRecord& r = NextRecord(d);
        if (converting && !ConvertRecord(env, r, array, index++, sink)) {
            converting = false;
            env->ExceptionClear();  // the failure is reported; the partial result is stored
            ErrorOut(kEventNotAllocated);
        }
        ReleaseRecord(&d->spent, r);  // its references are deleted after the bank's last record
    }
    StoreSink(env, array, sink);
    StoreStacks(env, array, sink);
    sink->value.sites.Release(env);
}

// Releases the next `count` records unconverted, counted as dropped by trace point with the
// bank's counts (their references live until the bank is finished).
void DropSlice(BankInDelivery* d, jsize count) {
    for (jsize i = 0; i < count; ++i) {
        const TraceEventRecord& r = NextRecord(d);
        auto counted = std::find_if(d->drops.begin(), d->drops.end(),
                                    [&r](const DropCount& c) { return c.tracePointRef == r.tracePointRef; });
        if (counted != d->drops.end()) ++counted->count;
        else d->drops.push_back({r.tracePointRef, 1});
        ReleaseRecord(&d->spent, r);
    }
}

// The bank's last record has been handed over: its references are deleted and it is empty.
void FinishBank(JNIEnv* env, BankInDelivery* d) {
    EventBank* bank = d->bank;
    for (jweak spent : d->spent) env->DeleteWeakGlobalRef(spent);
    d->spent.clear();
    for (EventChunk* chunk : d->chunks) chunk->usedCount = 0;
    bank->fillCursor = nullptr;  // empty: filled from head again
    EmptyArguments(bank);
    bank->eventCount = 0;
    bank->overflow = 0;
    d->bank = nullptr;
    OsLockGuard recording(&g_agent.recordingLock);
    // Counts that could not be handed over wait for the next delivery, without their trace
    // points, whose references may go now.
    for (const DropCount& c : d->drops) CountDropLocked(nullptr, c.count);
    d->drops.clear();
    // What retired two deliveries ago can go: no bank holds a record that carries it.
    const uint32_t delivered = CountBankDeliveredLocked();
    ReleaseRetiredThreadTags(env, delivered);
    ReleaseRetiredTracePointsLocked(env, delivered);
}

// The counts of hits dropped, in the Java side's fields for them if it has them
// (m_DroppedTracePoints, a trace point or null for each count of m_DroppedCounts). Returns false
// when they are to be handed over later (no memory now); a Java side without the fields is not
// told.
KeptClass g_tracePointClass{"com/vexo/TracePoints$TracePoint"};

bool StoreDrops(JNIEnv* env, jobject data, const std::vector<DropCount>& drops) {
    if (drops.empty()) return true;
    jclass dataClass = env->GetObjectClass(data);
    const jfieldID pointsId = env->GetFieldID(dataClass, "m_DroppedTracePoints", "[Lcom/vexo/TracePoints$TracePoint;");
    const jfieldID countsId = pointsId == nullptr ? nullptr : env->GetFieldID(dataClass, "m_DroppedCounts", "[J");
    env->DeleteLocalRef(dataClass);
    if (countsId == nullptr) {
        env->ExceptionClear();
        return true;
    }
    jclass pointClass = g_tracePointClass.Get(env);
    const auto n = static_cast<jsize>(drops.size());
    jobjectArray points = pointClass == nullptr ? nullptr : env->NewObjectArray(n, pointClass, nullptr);
    jlongArray counts = points == nullptr ? nullptr : env->NewLongArray(n);
    if (counts == nullptr) {
        env->ExceptionClear();  // no memory: counted on
        if (points != nullptr) env->DeleteLocalRef(points);
        return false;
    }
    for (jsize i = 0; i < n; ++i) {
        if (drops[i].tracePointRef != nullptr) env->SetObjectArrayElement(points, i, drops[i].tracePointRef);
        const jlong count = drops[i].count;
        env->SetLongArrayRegion(counts, i, 1, &count);
    }
    env->SetObjectField(data, pointsId, points);
    env->SetObjectField(data, countsId, counts);
    env->DeleteLocalRef(points);
    env->DeleteLocalRef(counts);
    return true;
}

// The RecordedData fields, the array and the TraceMethodEvent fields. Returns
// null (the bank untouched) on failure.
jobjectArray PrepareDelivery(JNIEnv* env, jobject data, int32_t count, jfieldID* dataIds,
                             EventFieldIds* ids) {
    if (!LookUpObjectFields(env, data, kRecordedDataFields, 2, dataIds,
                            "ERROR: VexoDll failed to access fields in RecordedData\n")) {
        return nullptr;
    }
    jclass methodEvent = EventClassRef(kMethodEventClass);
    if (methodEvent == nullptr) {  // no registration has succeeded
        ErrorOut("ERROR: VexoDll failed to access fields in TraceMethodEvents\n");
        return nullptr;
    }
    jobjectArray array = env->NewObjectArray(count, methodEvent, nullptr);
    if (array == nullptr) {
        ErrorOut("ERROR: VexoDll failed to allocate array of %d traces\n", count);
        return nullptr;
    }
    if (!LookUpFields(env, methodEvent, kMethodEventFields, kMethodEventFieldCount,
                      ids->method)) {
        env->DeleteLocalRef(array);
        ErrorOut("ERROR: VexoDll failed to access fields in TraceMethodEvents\n");
        return nullptr;
    }
    return array;
}
// A busy program records far faster than one wake-up of the consumer per record: the first
// record of an empty bank wakes the consumer, which lets a short stretch of records gather
// before it takes the bank, so one wake-up (and one switch on the recording thread) carries
// many records. A full enough bank, or a limit that admits nothing more, is taken at once.
constexpr int32_t kGatheredEnough = 1024;
constexpr unsigned kGatherMicros = 200;

// Whether the current bank may gather more records before it is taken.
bool WorthGathering() {
    OsLockGuard recording(&g_agent.recordingLock);
    return g_recording.banks[g_recording.currentBank].eventCount < kGatheredEnough &&
           LoadRelaxed(g_recording.totalRecorded) < LoadRelaxed(g_recording.recordingLimit);
}

void GatherRecords() {
    if (WorthGathering()) OsSleepMicros(kGatherMicros);
}

// Switches the banks and returns the one that was current, taking its drop counts into `d`.
EventBank* TakeCurrentBank(BankInDelivery* d) {
    OsLockGuard recording(&g_agent.recordingLock);
    EventBank* bank = &g_recording.banks[g_recording.currentBank];
    g_recording.currentBank ^= 1;
    StopRefusingLocked();  // the new bank has no overflow yet: the next hit past the limit sets it
    ++bank->filling;  // its records from now on share no reference with those delivered now
    TakeDropsLocked(&d->drops);
    return bank;
}

// The drop counts taken with a bank that could not be handed over go back.
void GiveDropsBack(BankInDelivery* d) {
    OsLockGuard recording(&g_agent.recordingLock);
    for (const DropCount& c : d->drops) CountDropLocked(c.tracePointRef, c.count);
    d->drops.clear();
}
}  // namespace

void DeliverRecordedData(JNIEnv* env, jobject data) {
    BankInDelivery& d = g_delivering;
    if (d.bank == nullptr) {
        WaitDataAvailable();
        GatherRecords();
        EventBank* bank = TakeCurrentBank(&d);
        // From here the bank is read without the lock: capture appends only to the current bank.
        // This call took the bank's signal. A bank left untouched keeps its records; its next
        // record, once it is current again, must announce them anew or they would never be
        // waited for.
        bank->announced = 0;
        StartBank(&d, bank);
    }
    const int32_t slice = LoadRelaxed(g_recording.sliceEvents);
    const jsize count = slice > 0 && d.left > slice ? slice : d.left;

    jfieldID dataIds[2];
    EventSink sink;
    d.spent.reserve(d.spent.size() + static_cast<size_t>(count));
    jobjectArray array = PrepareDelivery(env, data, count, dataIds, &sink.event);
    if (array == nullptr && !d.sliced) {
        // Nothing handed over: the bank stays as it is, and the counts go back.
        d.bank = nullptr;
        GiveDropsBack(&d);
        return;
    }
    if (array != nullptr) {
        ConvertSlice(env, &d, count, array, &sink);
        env->SetObjectField(data, dataIds[0], array);
        env->DeleteLocalRef(array);
    } else {
        DropSlice(&d, count);
    }
    d.sliced = true;
    if (StoreDrops(env, data, d.drops)) d.drops.clear();
    // A bank's overflow comes with its last slice: a Java side may take nothing after it.
    if (array != nullptr) env->SetBooleanField(data, dataIds[1], d.left == 0 && d.bank->overflow ? JNI_TRUE : JNI_FALSE);
    if (d.left == 0) FinishBank(env, &d);
}

void ResetEventList() {
    StoreRelaxed(g_recording.totalRecorded, 0);
    OsLockGuard recording(&g_agent.recordingLock);  // after the store: no hit refuses on the old count
    StopRefusingLocked();
}

void SetFillEveryDelivery(bool on) { g_fillEveryDelivery.store(on, std::memory_order_relaxed); }
