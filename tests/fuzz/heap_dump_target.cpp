// Arbitrary bytes as a profiler's level-2 heap dump, with class descriptors for the classes the
// input chooses. An in-process profiler table stands in for the VM: it answers the walker's
// class load requests (and the allocation requests they cause) for those classes only, as the
// VM answers for loaded classes; nothing else is known to it.
//
// Expectations: no read outside the dump (it lies in a buffer of exactly its size), every
// record the parser steps over lies inside the dump, and the walk of the heap dump event finds
// the same class records as a walk record by record.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/agent_state.h"
#include "core/sync.h"
#include "heap/heap_dump_walker.h"
#include "registry/class_descriptor.h"
#include "registry/class_names.h"
#include "agent/dispatcher.h"
#include "registry/object_table.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/heap_dump_input.h"

namespace {
constexpr jobjectID kClassClass = 0x7ffffff0;  // java.lang.Class, the class of every class

struct KnownClass {
    std::string name;
    std::vector<std::string> signatures;
    std::vector<JVMPI_Field> statics;
    bool nameless;
    jint interfaces;
};

struct Profiler {
    std::map<jobjectID, KnownClass> classes;
    std::vector<jobjectID> entered;  // identifiers the agent's table holds because of us
    int classLoadsAnswered = 0;
    int cancelAfter = 0;
};
Profiler g_profiler;

void Deliver(JVMPI_Event* e) {
    e->event_type |= JVMPI_REQUESTED_EVENT;
    DispatchProfilerEvent(e);
}

void SendClassLoad(jobjectID id, const KnownClass& c) {
    JVMPI_Event e = {};
    e.event_type = JVMPI_EVENT_CLASS_LOAD;
    e.u.class_load.class_name = c.nameless ? nullptr : c.name.c_str();
    e.u.class_load.num_interfaces = c.interfaces;
    e.u.class_load.num_static_fields = static_cast<jint>(c.statics.size());
    e.u.class_load.statics = c.statics.empty() ? nullptr : const_cast<JVMPI_Field*>(c.statics.data());
    e.u.class_load.class_id = id;
    DispatchProfilerEvent(&e);
}

jint RequestEvent(jint type, void* arg) {
    const auto id = static_cast<jobjectID>(reinterpret_cast<uintptr_t>(arg));
    const bool isClass = g_profiler.classes.count(id) != 0;
    if (type == JVMPI_EVENT_OBJECT_ALLOC && (isClass || id == kClassClass)) {
        JVMPI_Event e = {};
        e.event_type = JVMPI_EVENT_OBJECT_ALLOC;
        e.u.obj_alloc.obj_id = id;
        e.u.obj_alloc.class_id = kClassClass;
        g_profiler.entered.push_back(id);
        Deliver(&e);
        return JVMPI_SUCCESS;
    }
    if (type == JVMPI_EVENT_CLASS_LOAD && isClass) {
        SendClassLoad(id, g_profiler.classes[id]);
        // Stands for another thread cancelling the listing while the walk runs.
        if (++g_profiler.classLoadsAnswered == g_profiler.cancelAfter) {
            g_heapWalk.cancelRequested.store(true);
        }
        return JVMPI_SUCCESS;
    }
    return JVMPI_NOT_AVAILABLE;
}

JVMPI_Interface g_jvmpi;

void ConnectOnce() {
    static bool connected = false;
    if (connected) return;
    connected = true;
    InitSyncObjects();
    g_jvmpi.RequestEvent = RequestEvent;
    g_jvmpi.NotifyEvent = DispatchProfilerEvent;
    g_agent.jvmpi = &g_jvmpi;
    g_agent.jvmpiVersion = 11;
    g_agent.profilerMode = true;
}

// Forgets every class of the last input, so each input starts from an empty table.
void Reset() {
    for (jobjectID id : g_profiler.entered) ReleaseObject(id);
    g_profiler = Profiler();
    g_heapWalk.cancelRequested.store(false);
    DiscardClassNames();
}

// Walks record by record; every record must end inside the dump. Returns the class records.
int32_t WalkRecordByRecord(const char* begin, const char* end) {
    int32_t classes = 0;
    for (const char* at = begin; at < end;) {
        const char* next = ParseDumpRecord(at, end, &classes);
        if (next == nullptr) break;
        FUZZ_CHECK(next > at && next <= end, "record at offset %td steps to offset %td of %td",
                   at - begin, next - begin, end - begin);
        at = next;
    }
    return classes;
}
}  // namespace

int FuzzHeapDump(const uint8_t* data, size_t size) {
    HeapDumpInput input;
    if (!DecodeHeapDumpInput(data, size, &input)) return 0;
    ConnectOnce();
    Reset();
    g_profiler.cancelAfter = input.cancelAfter;
    for (size_t i = 0; i < input.classes.size(); ++i) {
        const FuzzClass& c = input.classes[i];
        KnownClass& k = g_profiler.classes[c.id];
        if (!k.name.empty()) continue;  // the first of two classes with one identifier stands
        k.name = "fuzz.C" + std::to_string(i);
        k.nameless = c.nameless;
        k.interfaces = c.interfaces;
        for (char s : c.staticSignatures) k.signatures.push_back(std::string(1, s));
        for (std::string& s : k.signatures) {
            k.statics.push_back({const_cast<char*>("f"), const_cast<char*>(s.c_str())});
        }
    }
    // The agent saw each class load before the dump, as it does in profiler mode.
    for (const auto& [id, c] : g_profiler.classes) SendClassLoad(id, c);

    // The dump in a buffer of exactly its size; an empty dump has no buffer at all.
    std::vector<char> dump(input.dump, input.dump + input.dumpSize);
    const char* begin = dump.empty() ? nullptr : dump.data();
    const char* end = begin == nullptr ? nullptr : begin + dump.size();

    g_heapWalk.progressDone.store(0);  // as the listing does before it requests a dump
    JVMPI_Event e = {};
    e.event_type = JVMPI_EVENT_HEAP_DUMP;
    e.u.heap_dump.dump_level = 2;
    e.u.heap_dump.begin = const_cast<char*>(begin);
    e.u.heap_dump.end = const_cast<char*>(end);
    Deliver(&e);
    const bool cancelled = g_heapWalk.cancelRequested.load();
    FUZZ_CHECK(g_heapWalk.progressDone.load() >= 0 &&
                   static_cast<size_t>(g_heapWalk.progressDone.load()) <= dump.size(),
               "progress %d of %zu", g_heapWalk.progressDone.load(), dump.size());

    // Every collected name is one the profiler told.
    size_t length = 0;
    const char* names = CollectedClassNames(&length);
    for (size_t at = 0; at < length;) {
        const size_t n = std::strlen(names + at);
        FUZZ_CHECK(at + n < length, "a collected name runs past the %zu collected bytes", length);
        bool told = false;
        for (const auto& [id, c] : g_profiler.classes) told = told || (!c.nameless && c.name == names + at);
        FUZZ_CHECK(told, "collected a name never told: %s", names + at);
        at += n + 1;
    }

    g_heapWalk.cancelRequested.store(false);
    g_profiler.cancelAfter = 0;
    const int32_t classes = begin == nullptr ? 0 : WalkRecordByRecord(begin, end);
    if (!cancelled) {
        FUZZ_CHECK(classes == g_heapWalk.classDumpCount, "the walk counted %d class records, "
                   "record by record %d", g_heapWalk.classDumpCount, classes);
    }

    // The dump as one object's dump: its first record.
    if (begin != nullptr) {
        JVMPI_Event objectDump = {};
        objectDump.event_type = JVMPI_EVENT_OBJECT_DUMP;
        objectDump.u.object_dump.data_len = static_cast<jint>(dump.size());
        objectDump.u.object_dump.data = const_cast<char*>(begin);
        Deliver(&objectDump);
    }
    Reset();
    return 0;
}
