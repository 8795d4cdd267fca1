#include "instrument/probe_table.h"

#include "trace/call_details.h"

Instrumentation g_inst;

jint ProbeId(const Probe* p) { return static_cast<jint>(p - g_inst.probes.data()); }

bool SameClass(JNIEnv* env, const Probe& p, jclass clazz) {
    return p.declaringClass != nullptr && env->IsSameObject(p.declaringClass, clazz);
}

bool ShapeOf(const std::string& descriptor, int32_t options, ProbeShape* shape) {
    char kinds[kMaxParameters];
    int32_t count = 0;
    if (!ParameterKinds(descriptor.c_str(), kinds, kMaxParameters, &count, &shape->returnKind)) return false;
    shape->kinds.assign(kinds, static_cast<size_t>(count));
    shape->arguments = (options & kArgumentsTracePoint) != 0;
    shape->exits = (options & kExitTracePoint) != 0;
    return true;
}

void ProbesNotApplied(const std::vector<jint>& ids) {
    OsLockGuard held(&g_inst.lock);
    for (jint id : ids) g_inst.probes[static_cast<size_t>(id)].instrumented = false;
}

void RewriteForEntryProbes(const uint8_t* data, size_t size, std::vector<EntryProbe>* probes, PassResult* result) {
    if (!RewriteClass(data, size, probes, &result->bytes)) return;
    std::vector<jint> ids;
    for (const EntryProbe& e : *probes) {
        g_inst.probes[static_cast<size_t>(e.id)].instrumented = e.instrumented;
        ids.push_back(e.id);
    }
    result->undo = [ids] { ProbesNotApplied(ids); };
}

bool EnterWithinAMillisecond(OsLock* lock) {
    for (int tries = 0; tries < 20; ++tries) {
        if (OsLockTryEnter(lock)) return true;
        OsSleepMicros(50);
    }
    return false;
}
