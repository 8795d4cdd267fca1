// What the hooks read on every call without a lock: the method of each armed entry probe, the
// field of each armed field site id, and the methods of profiler mode's entry probes. Arming
// writes them, release; the hooks read them, acquire.
#pragma once

#include <jni.h>

#include <cstdint>

constexpr jint kMaxProbes = 1 << 16;
constexpr jint kMaxFields = 4096;  // site ids stay within sipush
// A rewritten site passes its field's id, and above it the number of the site
// (trace/access_sites), within an int's positive range.
constexpr int kFieldSiteShift = 12;
static_assert(kMaxFields <= (1 << kFieldSiteShift), "a field id fits below the site's number");
constexpr jint FieldOfSiteId(jint id) { return id & ((1 << kFieldSiteShift) - 1); }
constexpr jint SiteOfSiteId(jint id) { return static_cast<jint>(static_cast<uint32_t>(id) >> kFieldSiteShift); }

// The method of an armed probe, or null (an unknown or disarmed probe). Safe on any thread.
jmethodID ArmedProbeMethod(jint id);
// Arms probe `id` for `method`, or disarms it (null).
void SetArmedProbe(jint id, jmethodID method);
// How many armed probes are of `method`; `*first` learns the lowest id. A scan of every id.
jint ArmedProbesOf(jmethodID method, jint* first);

// What the hook needs of an armed site id.
struct ArmedFieldSite {
    jfieldID field = nullptr;
    jclass declaringClass = nullptr;  // global reference
    char signature = 0;               // the field descriptor's first character
};

// The field of `id` while its access (or, `write`, modification) watch is armed by
// instrumentation. Safe on any thread.
bool ArmedFieldOf(jint id, bool write, ArmedFieldSite* out);
// The site of `id`, written once before its first armed bit.
void SetArmedFieldSite(jint id, const ArmedFieldSite& site);
// Which of the field's watches are armed: bit 0 access, bit 1 modification.
void SetArmedFieldBits(jint id, uint8_t bits);

// Profiler mode's method entries by instrumentation (instrument/profiler_entries): their probes
// take the ids from kProfilerEntryIdBase up; ids below belong to trace point probes.
constexpr jint kProfilerEntryIdBase = 0x40000000;
constexpr jint kMaxProfilerEntries = 1 << 20;

// Makes the table of profiler entry methods (zeroed pages the system provides only when
// touched), once. False when there was no memory for it.
bool ReserveProfilerEntryMethods();
// The method of a profiler entry probe, or null while its class is not prepared.
jmethodID ProfilerEntryMethod(jint id);
void SetProfilerEntryMethod(jint id, jmethodID method);

// Whether profiler mode's method entries are on: then the trace point probes' hooks post the
// profiler's method entry too.
bool ProfilerEntriesOn();
void SetProfilerEntriesOn(bool on);
