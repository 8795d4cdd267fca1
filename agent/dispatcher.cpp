#include "agent/dispatcher.h"

#include "core/agent_state.h"
#include "core/error_out.h"
#include "heap/heap_dump_walker.h"
#include "registry/class_descriptor.h"
#include "registry/class_names.h"
#include "registry/object_table.h"
#include "registry/reference_recovery.h"
#include "trace/recorder.h"
#include "trace/thread_tags.h"

namespace {
void RequestAllocation(jobjectID id) {
    g_agent.jvmpi->RequestEvent(JVMPI_EVENT_OBJECT_ALLOC,
                                reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

// The handle of `id`, asking the profiler for the object's allocation event when it is absent
// (the event is delivered through this dispatcher before the request returns).
SlotHandle LookupOrRequest(jobjectID id) {
    SlotHandle h = LookupObject(id);
    if (h == 0) {
        RequestAllocation(id);
        h = LookupObject(id);
    }
    return h;
}

void OnObjectAlloc(const JVMPI_Event& e) {
    const jobjectID id = e.u.obj_alloc.obj_id;
    const jobjectID classId = e.u.obj_alloc.class_id;
    if (id != 0 && id == RecoveringId()) FindRefOnStack(id, &e + 1);
    const bool ownClass = classId == id;
    const SlotHandle classHandle = classId == 0 || ownClass ? 0 : LookupOrRequest(classId);
    const SlotHandle h = InsertObject(id, classHandle, 0);
    if (ownClass && h != 0) SlotOf(h)->classHandle.store(h, std::memory_order_relaxed);
}

void OnClassLoad(const JVMPI_Event& e) {
    g_classModificationCount.fetch_add(1, std::memory_order_relaxed);
    const SlotHandle h = LookupOrRequest(e.u.class_load.class_id);
    ObjectSlot* slot = SlotOf(h);
    if (slot == nullptr) {
        ErrorOut("ERROR: VexoDll failed to find object description\n");
        return;
    }
    if (slot->descriptor.load(std::memory_order_acquire) == nullptr) {
        ClassDescriptor* d =
            NewClassDescriptor(e.u.class_load.class_name, e.u.class_load.num_interfaces,
                               e.u.class_load.num_static_fields, e.u.class_load.statics);
        if (d == nullptr) return;
        ClassDescriptor* expected = nullptr;
        if (!slot->descriptor.compare_exchange_strong(expected, d, std::memory_order_acq_rel)) {
            FreeClassDescriptor(d);  // another thread installed its descriptor first
        }
    }
    AppendClassName(e.u.class_load.class_name);
}
// One class, instance or array record, parsed for its side effects (a class's super class).
void OnObjectDump(const JVMPI_Event& e) {
    if (e.u.object_dump.data == nullptr || e.u.object_dump.data_len <= 0) return;
    int32_t ignored = 0;
    ParseDumpRecord(e.u.object_dump.data, e.u.object_dump.data + e.u.object_dump.data_len,
                    &ignored);
}
}  // namespace

void DispatchProfilerEvent(JVMPI_Event* event) {
    // Outside profiler mode every event is ignored.
    if (!g_agent.profilerMode || event == nullptr) return;
    const JVMPI_Event& e = *event;
    switch (e.event_type & ~JVMPI_REQUESTED_EVENT) {
        case JVMPI_EVENT_METHOD_ENTRY2: {
            // The recorder takes no environment here; the thread's tag is made with the event's.
            CurrentThreadTag(e.env_id);
            TraceHit hit;
            hit.member = e.u.method_entry2.method_id;
            hit.receiverId = e.u.method_entry2.obj_id;
            RecordTraceEvent(nullptr, hit);
            break;
        }
        case JVMPI_EVENT_OBJECT_ALLOC: OnObjectAlloc(e); break;
        case JVMPI_EVENT_OBJECT_FREE: ReleaseObject(e.u.obj_free.obj_id); break;
        case JVMPI_EVENT_OBJECT_MOVE: MoveObject(e.u.obj_move.obj_id, e.u.obj_move.new_obj_id); break;
        case JVMPI_EVENT_CLASS_LOAD: OnClassLoad(e); break;
        case JVMPI_EVENT_CLASS_UNLOAD:
            g_classModificationCount.fetch_add(1, std::memory_order_relaxed);
            break;
        case JVMPI_EVENT_HEAP_DUMP:
            HandleHeapDump(e.u.heap_dump.dump_level, e.u.heap_dump.begin, e.u.heap_dump.end);
            break;
        case JVMPI_EVENT_OBJECT_DUMP: OnObjectDump(e); break;
        default: break;
    }
}
