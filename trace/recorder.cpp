#include "trace/recorder.h"

#include <cstring>

#include "core/agent_state.h"
#include "core/error_out.h"
#include "core/sync.h"
#include "registry/class_descriptor.h"
#include "registry/object_table.h"
#include "platform/os.h"
#include "trace/call_details.h"
#include "trace/drop_counts.h"
#include "trace/event_bank.h"
#include "trace/method_entry_offer.h"
#include "trace/own_work.h"
#include "trace/stack_frames.h"
#include "trace/table_readers.h"
#include "trace/thread_tags.h"
#include "trace/trace_flags.h"
#include "trace/trace_points.h"

namespace {
struct Subject {
    uintptr_t value;
    int32_t kind;
    bool shared;  // a weak reference an earlier record owns
};

// The last weak references this thread's records made, of subjects and of arguments. A program
// mostly hands the same objects over and over (a loop's receiver, its collaborators), so a record
// of the same bank filling for the same object shares the reference instead of making one (a
// JVM-wide allocation under a lock). The record that made it owns it, and delivery deletes a
// bank's references only after its last record, so no sharer outlives it.
struct RecentReference {
    jweak ref = nullptr;
    const EventBank* bank = nullptr;
    uint32_t filling = 0;
};
struct RecentReferences {
    RecentReference subject;
    RecentReference argument;
};
thread_local RecentReferences t_recent;

// A weak reference to `object` (not null) for a record of `bank`: the recent one when it is of
// this filling and refers to the same object (`*shared`), else a new one. Under the recording
// lock, so the filling cannot change before the record is placed.
jweak ReferenceFor(JNIEnv* env, const RecentReference& recent, const EventBank& bank, jobject object,
                   bool* shared) {
    *shared = recent.ref != nullptr && recent.bank == &bank && recent.filling == bank.filling &&
              env->IsSameObject(recent.ref, object);
    return *shared ? recent.ref : env->NewWeakGlobalRef(object);
}

// A reference made for a record just placed in `bank` becomes the one to share.
void Remember(RecentReference* recent, const EventBank& bank, jweak ref) {
    if (ref != nullptr) *recent = {ref, &bank, bank.filling};
}

Subject WeakSubject(JNIEnv* env, const EventBank& bank, const RecentReference& recent, jobject object) {
    Subject subject = {0, kWeakRefSubject, false};
    if (object != nullptr) {
        subject.value = reinterpret_cast<uintptr_t>(ReferenceFor(env, recent, bank, object, &subject.shared));
    }
    return subject;
}

void RequestProfilerEvent(jint type, jobjectID id) {
    g_agent.jvmpi->RequestEvent(type, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

// The descriptor of the class in `slot`, requesting the class load when it is missing.
const ClassDescriptor* DescriptorOf(ObjectSlot* slot) {
    const ClassDescriptor* d = slot->descriptor.load(std::memory_order_acquire);
    if (d != nullptr) return d;
    RequestProfilerEvent(JVMPI_EVENT_CLASS_LOAD,
                         static_cast<jobjectID>(slot->objectId.load(std::memory_order_relaxed)));
    return slot->descriptor.load(std::memory_order_acquire);
}

// The super class handle of the class in `slot`, requesting an object dump while unknown.
int32_t SuperOf(ObjectSlot* slot, const ClassDescriptor* d) {
    int32_t super = d->superHandle.load(std::memory_order_acquire);
    if (super >= 0) return super;
    RequestProfilerEvent(JVMPI_EVENT_OBJECT_DUMP,
                         static_cast<jobjectID>(slot->objectId.load(std::memory_order_relaxed)));
    d = slot->descriptor.load(std::memory_order_acquire);
    return d == nullptr ? kSuperNotKnown : d->superHandle.load(std::memory_order_acquire);
}

// Whether the class `k` is `wanted` or one of its subclasses, walking the super class handles.
bool ClassChainReaches(SlotHandle k, SlotHandle wanted) {
    const char* const kNoSuperClass = "ERROR: VexoDll failed to find super class description\n";
    while (k != wanted) {
        ObjectSlot* slot = SlotOf(k);
        const ClassDescriptor* d = slot == nullptr ? nullptr : DescriptorOf(slot);
        const int32_t super = d == nullptr ? kSuperNotKnown : SuperOf(slot, d);
        if (super < 0) {
            ErrorOut("%s", kNoSuperClass);
            return false;
        }
        if (super == k || super == 0) return false;  // a loop, or the top passed without a match
        k = super;
    }
    return true;
}

// Profiler mode: the receiver's slot, if it is an instance of the entry's class.
bool ProfilerSubject(const TracePointEntry& entry, jobjectID receiverId, Subject* subject) {
    SlotHandle h = LookupObject(receiverId);
    if (h == 0) {
        RequestProfilerEvent(JVMPI_EVENT_OBJECT_ALLOC, receiverId);
        h = LookupObject(receiverId);
    }
    ObjectSlot* slot = SlotOf(h);
    if (slot == nullptr) return false;
    const SlotHandle k = slot->classHandle.load(std::memory_order_relaxed);
    if (k == 0) return false;
    if (!ClassChainReaches(k, static_cast<SlotHandle>(entry.classRef))) return false;
    *subject = {static_cast<uintptr_t>(static_cast<uint32_t>(h)), kSlotSubject, false};
    return true;
}

// The object the event concerns, if it belongs to the entry's class (`instance`: the object it
// names is known to, as is every receiver of a method its class declares).
bool TakeSubject(JNIEnv* env, const EventBank& bank, const RecentReference& recent, const TracePointEntry& entry,
                 jobject object, jobjectID receiverId, jframeID frame, const MethodEntryOffer* entryOffer,
                 bool instance, Subject* subject) {
    auto clazz = reinterpret_cast<jclass>(entry.classRef);
    instance = instance || entry.ownClass;
    if (entry.flags & kStaticTracePoint) {
        *subject = {0, kNoSubject, false};
        return true;
    }
    if (entryOffer != nullptr) {  // the receiver as its frame holds it; null passes, as there
        jobject receiver = entryOffer->receiver;
        if (receiver != nullptr && !instance && !env->IsInstanceOf(receiver, clazz)) return false;
        *subject = WeakSubject(env, bank, recent, receiver);
        return true;
    }
    if (frame != nullptr) {
        jobject receiver = nullptr;  // a global reference from the debugger
        g_agent.jvmdi->GetLocalObject(frame, 0, &receiver);
        const bool taken = instance || env->IsInstanceOf(receiver, clazz);
        if (taken) *subject = WeakSubject(env, bank, recent, receiver);
        if (receiver != nullptr) env->DeleteGlobalRef(receiver);
        return taken;
    }
    if (object != nullptr) {
        if (!instance && !env->IsInstanceOf(object, clazz)) return false;
        *subject = WeakSubject(env, bank, recent, object);
        return true;
    }
    if (receiverId != 0 && g_agent.jvmpi != nullptr) {
        return ProfilerSubject(entry, receiverId, subject);
    }
    return false;
}

// Reads the field's current value into `value`, in its natural width. A static field is read
// on the entry's class; nothing is read without an environment, an object or a field.
void ReadFieldValue(JNIEnv* env, const TracePointEntry& entry, jobject object, int32_t kind,
                    jvalue* value) {
    if (env == nullptr || !(entry.flags & kFieldTracePoint)) return;
    auto field = static_cast<jfieldID>(entry.memberId);
    if (entry.flags & kStaticTracePoint) {
        if (g_agent.profilerMode) return;  // the class is a SlotHandle there
        auto clazz = reinterpret_cast<jclass>(entry.classRef);
        switch (kind) {
            case kIntValue: value->i = env->GetStaticIntField(clazz, field); break;
            case kLongValue: value->j = env->GetStaticLongField(clazz, field); break;
            case kFloatValue: value->f = env->GetStaticFloatField(clazz, field); break;
            case kDoubleValue: value->d = env->GetStaticDoubleField(clazz, field); break;
            case kObjectValue: value->l = env->GetStaticObjectField(clazz, field); break;
            case kShortValue: value->s = env->GetStaticShortField(clazz, field); break;
            case kByteValue: value->b = env->GetStaticByteField(clazz, field); break;
            case kBooleanValue: value->z = env->GetStaticBooleanField(clazz, field); break;
            case kCharValue: value->c = env->GetStaticCharField(clazz, field); break;
            default: break;
        }
        return;
    }
    if (object == nullptr) return;
    switch (kind) {
        case kIntValue: value->i = env->GetIntField(object, field); break;
        case kLongValue: value->j = env->GetLongField(object, field); break;
        case kFloatValue: value->f = env->GetFloatField(object, field); break;
        case kDoubleValue: value->d = env->GetDoubleField(object, field); break;
        case kObjectValue: value->l = env->GetObjectField(object, field); break;
        case kShortValue: value->s = env->GetShortField(object, field); break;
        case kByteValue: value->b = env->GetByteField(object, field); break;
        case kBooleanValue: value->z = env->GetBooleanField(object, field); break;
        case kCharValue: value->c = env->GetCharField(object, field); break;
        default: break;
    }
}

// The value of a field trace point, and the assigned bit.
void FillValue(JNIEnv* env, const TracePointEntry& entry, jobject object,
               const jvalue* newValue, bool assigned, TraceEventRecord* record) {
    const int32_t kind = record->flags & kValueKindMask;
    if (kind == kNoValue) return;
    if (assigned) record->flags |= kAssignedEvent;
    if (newValue != nullptr) {
        std::memcpy(&record->value, newValue, sizeof(jvalue));
    } else {
        ReadFieldValue(env, entry, object, kind, &record->value);
    }
    if (kind == kObjectValue && record->value.l != nullptr) {
        jobject local = record->value.l;
        record->value.l = env == nullptr ? nullptr : env->NewWeakGlobalRef(local);
        // A value read here is a local reference; one handed in by the debugger is its own.
        if (newValue == nullptr && env != nullptr) env->DeleteLocalRef(local);
    }
}

void ReleaseSubject(JNIEnv* env, const Subject& subject) {
    if (subject.kind == kWeakRefSubject && subject.value != 0 && !subject.shared) {
        env->DeleteWeakGlobalRef(reinterpret_cast<jweak>(subject.value));
    }
}

// Whether the recording limit admits one more record (else the bank shows overflow).
bool LimitAdmits(EventBank& bank) {
    if (LoadRelaxed(g_recording.totalRecorded) < LoadRelaxed(g_recording.recordingLimit)) return true;
    bank.overflow = 1;
    return false;
}

// An instrumented entry's arguments (and the stack captured), placed beside its record. Objects
// handed over as the caller's references get weak references of the record's (or shared with a
// recent record); weak references handed over pass to the record.
CallDetails* PlaceOfferedArguments(JNIEnv* env, EventBank& bank, RecentReference* recent, MethodEntryOffer* offer,
                                   const StackFrame* frames, int32_t frameCount, int32_t framesShown) {
    CallDetails* details =
        PlaceArguments(&bank, offer->arguments, offer->argumentCount, frames, frameCount, framesShown);
    if (details == nullptr || !offer->argumentsBorrowed) {
        offer->argumentsTaken = details != nullptr;
        return details;
    }
    for (int32_t i = 0; i < details->argumentCount; ++i) {
        CallValue& v = details->arguments[i];
        if (v.kind != 'L' || v.value.l == nullptr) continue;
        v.value.l = ReferenceFor(env, *recent, bank, v.value.l, &v.shared);
        if (!v.shared) Remember(recent, bank, v.value.l);  // the record is placed: it owns it
    }
    return details;
}

// The frames of `entry`'s event: those captured before the lock, or, when its trace point asks
// and none were, captured now; -1 for none.
int32_t StackOf(const TracePointEntry& entry, CapturedStack* stack) {
    if (!(entry.flags & kStackTracePoint)) return -1;
    const int32_t wanted = entry.stackDepth + kExtraFrames;
    if (stack->count < 0) stack->count = CaptureStack(stack->frames, wanted);
    return stack->count < wanted ? stack->count : wanted;  // a stale table may have asked for more
}

// For `entry`'s event on `subject`: a place in the bank with its common fields
// filled (value zero, no details, `time`), or null when no chunk can be had (the event is dropped and
// shows as an overflow). `*announce` says whether it is the first of its bank's filling.
TraceEventRecord* PlaceEvent(EventBank& bank, const TracePointEntry& entry, uintptr_t subject,
                             int32_t flags, ThreadTag* thread, int64_t time, bool* announce) {
    TraceEventRecord* record = PlaceRecord(&bank);
    if (record == nullptr) {
        bank.overflow = 1;
        return nullptr;
    }
    record->subject = subject;
    record->flags = flags;
    record->site = 0;
    *announce = bank.announced == 0;
    bank.announced = 1;
    record->tracePointRef = entry.tracePointRef;
    ++bank.eventCount;
    std::memset(&record->value, 0, sizeof record->value);
    record->thread = thread;
    record->time = time;
    record->details = nullptr;
    const int32_t total = LoadRelaxed(g_recording.totalRecorded) + 1;
    StoreRelaxed(g_recording.totalRecorded, total);
    if (total >= LoadRelaxed(g_recording.recordingLimit)) TellRoomLocked();
    return record;
}

// Places `hit` of `entry` on `subject` (taken), with its value, its arguments (those an
// instrumented entry hands over, or the `frameArguments` read from a breakpoint's frame into
// `frameValues`, -1: none) and, when the trace point asks, the thread's stack. A bank the bounds
// leave no room in drops it, counted.
bool PlaceHit(JNIEnv* env, EventBank& bank, const TracePointEntry& entry, const Subject& subject, const TraceHit& hit,
              ThreadTag* thread, CallValue* frameValues, int32_t frameArguments, CapturedStack* stack) {
    MethodEntryOffer* entryOffer = hit.entryOffer;
    const bool arguments = (entry.flags & kArgumentsTracePoint) != 0;
    const int32_t argumentCount = !arguments ? -1 : entryOffer != nullptr ? entryOffer->argumentCount : frameArguments;
    const StackFrame* frames = stack->frames;
    const int32_t frameCount = StackOf(entry, stack);
    TraceEventRecord* record = nullptr;
    bool announce = false;
    if ((entry.flags & kUnlimitedTracePoint) || BankAdmits(bank, argumentCount, frameCount)) {
        record = PlaceEvent(bank, entry, subject.value,
                            subject.kind | (subject.shared ? kSharedSubject : 0) | (entry.flags & kValueKindMask),
                            thread, entryOffer != nullptr && entryOffer->entryTime != 0 ? entryOffer->entryTime
                                                                                         : OsMonotonicNanos(),
                            &announce);
    }
    if (record == nullptr) {
        ReleaseSubject(env, subject);
        if (frameArguments > 0) ReleaseCallValues(env, frameValues, frameArguments);
        CountDropLocked(entry.tracePointRef);
        if (entryOffer != nullptr) entryOffer->dropped = true;
        return false;
    }
    if (subject.kind == kWeakRefSubject && !subject.shared) {
        Remember(&t_recent.subject, bank, reinterpret_cast<jweak>(subject.value));
    }
    FillValue(env, entry, hit.object, hit.newValue, hit.assigned, record);
    record->site = hit.site;
    if (entryOffer != nullptr) {
        entryOffer->recorded = true;
        entryOffer->time = record->time;
    }
    // An instrumented entry hands its arguments over; a breakpoint's are in its frame.
    if (arguments && entryOffer != nullptr && entryOffer->argumentCount >= 0) {
        record->details = PlaceOfferedArguments(env, bank, &t_recent.argument, entryOffer, frames, frameCount,
                                                entry.stackDepth);
    } else if (arguments && entryOffer == nullptr && frameArguments >= 0) {
        record->details = PlaceArguments(&bank, frameValues, frameArguments, frames, frameCount, entry.stackDepth);
        if (record->details == nullptr) ReleaseCallValues(env, frameValues, frameArguments);
    } else if (frameCount >= 0) {
        record->details = PlaceArguments(&bank, nullptr, -1, frames, frameCount, entry.stackDepth);
    }
    return announce;
}

// A hit's entry as the published table held it before the lock (trace/table_readers), and
// whether its object was found an instance of the entry's class there.
struct FoundEntry {
    const void* table = nullptr;
    const TracePointEntry* entry = nullptr;
    bool instance = false;
};

// The entry of `hit` under the lock: the one found before it while its table is still the
// installed one (`*instance` as found then), else looked up now.
const TracePointEntry* EntryLocked(JNIEnv* env, const TraceHit& hit, const FoundEntry& found, bool* instance) {
    if (found.entry != nullptr && PublishedTableCurrentLocked(found.table)) {
        *instance = found.instance;
        return found.entry;
    }
    *instance = false;
    return FindTracePoint(env, hit.member, hit.fieldClass);
}

// Records one hit, with the recording lock held. Returns whether the record is the first of its
// bank's filling, which announces the bank to the consumer.
bool RecordLocked(JNIEnv* env, const TraceHit& hit, ThreadTag* thread, CapturedStack* stack,
                  const FoundEntry& found) {
    bool instance = false;
    EventBank& bank = g_recording.banks[g_recording.currentBank];
    const TracePointEntry* entry = nullptr;
    if (!LimitAdmits(bank)) {
        // Past the limit only a mark that asked for it is recorded (with one such mark, as the
        // tracer arms, a hit of another member costs one comparison, and from now on no lock).
        const int32_t marks = g_tracePoints.unlimited;
        if (marks <= 1) StartRefusingLocked(marks == 1 ? g_tracePoints.unlimitedMember : nullptr);
        if (marks == 0 || (marks == 1 && hit.member != g_tracePoints.unlimitedMember)) return false;
        entry = EntryLocked(env, hit, found, &instance);
        if (entry == nullptr || !(entry->flags & kUnlimitedTracePoint)) return false;
    } else {
        entry = EntryLocked(env, hit, found, &instance);
    }
    if (entry == nullptr) return false;
    Subject subject = {0, kNoSubject, false};
    if (!TakeSubject(env, bank, t_recent.subject, *entry, hit.object, hit.receiverId, hit.frame, hit.entryOffer,
                     instance, &subject)) {
        return false;
    }
    if ((entry->flags & kArgumentsTracePoint) && hit.entryOffer == nullptr && hit.frame != nullptr && env != nullptr) {
        CallValue values[kMaxParameters];
        const int32_t count = ArgumentsFromFrame(env, static_cast<jmethodID>(hit.member), hit.frame, values);
        return PlaceHit(env, bank, *entry, subject, hit, thread, values, count, stack);
    }
    return PlaceHit(env, bank, *entry, subject, hit, thread, nullptr, -1, stack);
}

// A method's exit, with the lock held; `*placed` says whether the subject and the result went
// into a record.
bool RecordExitLocked(jmethodID method, jweak subject, const CallValue& result, bool thrown,
                      int64_t duration, int64_t time, ThreadTag* thread, CapturedStack* stack, bool* placed) {
    EventBank& bank = g_recording.banks[g_recording.currentBank];
    if (!LimitAdmits(bank)) return false;
    const TracePointEntry* entry = FindTracePoint(nullptr, method, nullptr);
    if (entry == nullptr) return false;
    const StackFrame* frames = stack->frames;
    const int32_t frameCount = StackOf(*entry, stack);
    if (!BankAdmits(bank, frameCount >= 0 ? 1 : -1, frameCount)) {
        CountDropLocked(entry->tracePointRef);
        return false;
    }
    bool announce = false;
    const int32_t flags = (subject != nullptr ? kWeakRefSubject : kNoSubject) | kExitEvent |
                          (thrown ? kThrownEvent : 0) | ValueKindOfCallKind(result.kind);
    TraceEventRecord* record = PlaceEvent(bank, *entry, reinterpret_cast<uintptr_t>(subject), flags,
                                          thread, time, &announce);
    if (record == nullptr) {
        CountDropLocked(entry->tracePointRef);
        return false;
    }
    record->value = result.value;
    record->duration = duration;
    if (frameCount >= 0) {
        CallValue held = WidenedCallValue('J', jvalue{});
        held.value.j = duration;
        CallDetails* details = PlaceArguments(&bank, &held, 1, frames, frameCount, entry->stackDepth);
        if (details != nullptr) {
            record->details = details;
            record->flags |= kExitWithStack;
        }
    }
    *placed = true;
    return announce;
}

// Before the lock: `hit`'s entry in the published table, into `*found`, with whether its object
// (an instrumented entry's receiver, a field event's object) is an instance of the entry's class.
// A hit it refuses is not recorded and, while the limit leaves room, changes nothing the lock
// guards: it ends here (true).
bool RefusedBeforeTheLock(JNIEnv* env, const TraceHit& hit, FoundEntry* found) {
    const TracePointEntry* entry = FindPublishedTracePoint(env, hit.member, hit.fieldClass, &found->table);
    found->entry = entry;
    if (entry == nullptr || (entry->flags & kStaticTracePoint) || entry->ownClass) return false;
    jobject object = hit.entryOffer != nullptr ? hit.entryOffer->receiver : hit.frame == nullptr ? hit.object : nullptr;
    if (object == nullptr) return false;
    found->instance = env->IsInstanceOf(object, reinterpret_cast<jclass>(entry->classRef));
    return !found->instance && LoadRelaxed(g_recording.totalRecorded) < LoadRelaxed(g_recording.recordingLimit);
}
}  // namespace

void RecordTraceEvent(JNIEnv* env, const TraceHit& hit) {
    if (RefusedWithoutTheLock(hit.member) || InOwnWork()) return;
    // With an environment (not the profiler's road) the instance test is made before the lock,
    // on the table published now, which stays readable until the read ends.
    FoundEntry found;
    const bool reading = env != nullptr && !g_agent.profilerMode && BeginTableRead() != 0;
    if (reading && RefusedBeforeTheLock(env, hit, &found)) {
        EndTableRead();
        return;
    }
    ThreadTag* thread = CurrentThreadTag(env);
    CapturedStack stack;
    CaptureWantedStack(hit.member, &stack);
    bool firstInBank = false;
    {
        OsLockGuard recording(&g_agent.recordingLock);
        firstInBank = RecordLocked(env, hit, thread, &stack, found);
    }
    if (reading) EndTableRead();
    if (firstInBank) SignalDataAvailable();
}

void RecordMethodExit(JNIEnv* env, jmethodID method, jweak subject, const CallValue& result, bool thrown,
                      int64_t duration, int64_t time) {
    bool recorded = false;
    bool firstInBank = false;
    if (!RefusedWithoutTheLock(method) && !InOwnWork()) {
        ThreadTag* thread = CurrentThreadTag(env);
        CapturedStack stack;
        CaptureWantedStack(method, &stack);
        OsLockGuard recording(&g_agent.recordingLock);
        firstInBank = RecordExitLocked(method, subject, result, thrown, duration, time, thread, &stack, &recorded);
    }
    if (!recorded) {
        if (subject != nullptr) env->DeleteWeakGlobalRef(subject);
        if (result.kind == 'L' && result.value.l != nullptr) env->DeleteWeakGlobalRef(result.value.l);
    }
    if (firstInBank) SignalDataAvailable();
}

void CountDroppedExit(jmethodID method) {
    if (RefusedWithoutTheLock(method)) return;  // past the limit: refused, not dropped
    OsLockGuard recording(&g_agent.recordingLock);
    // Past the limit the exit would not have been recorded either: it is refused, not dropped.
    if (!LimitAdmits(g_recording.banks[g_recording.currentBank])) return;
    const TracePointEntry* entry = FindTracePoint(nullptr, method, nullptr);
    if (entry != nullptr) CountDropLocked(entry->tracePointRef);
}
