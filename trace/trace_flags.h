// Bits of a trace point's m_iFlags and of a recorded event's flags.
#pragma once

#include <cstdint>

// A trace point's m_iFlags (and a TracePointEntry's flags).
constexpr int32_t kFieldTracePoint = 0x001;   // clear: a method trace point
constexpr int32_t kArmedTracePoint = 0x004;   // written back: entered in the table
constexpr int32_t kValueKindMask = 0x0F0;     // value kind of a field trace point
constexpr int32_t kStaticTracePoint = 0x100;  // the member is static
// Bits the Java side may set on a method trace point to ask for more than its entries.
constexpr int32_t kArgumentsTracePoint = 0x200;  // the arguments at entry
constexpr int32_t kExitTracePoint = 0x400;       // every exit: the return value or exception
// A method or field trace point: the recording thread's stack with every event (written back
// clear where no stack can be recorded).
constexpr int32_t kStackTracePoint = 0x800;
// A mark the Java side records past the recording limit (the tracer's end of a session), so that
// the limit need not be lifted, which would let the program's other hits in. The tracer's own bit,
// far from those a Java side asks with.
constexpr int32_t kUnlimitedTracePoint = 0x8000;
// A method trace point whose calls are counted and timed (trace/call_timing.h), not recorded.
constexpr int32_t kTimingTracePoint = 0x1000;

// A TraceEventRecord's flags: subject kind in bits 0-3, the value kind, and the assigned bit.
constexpr int32_t kSubjectKindMask = 0x00F;
constexpr int32_t kAssignedEvent = 0x100;  // a field modification
constexpr int32_t kExitEvent = 0x200;      // a method's exit, its result in the value
constexpr int32_t kThrownEvent = 0x400;    // an exit by an exception (the value is it)
// The subject's weak reference is shared with an earlier record of the same bank filling, which
// owns it: delivery deletes it once, after the bank's last record.
constexpr int32_t kSharedSubject = 0x800;
// An exit with its stack: the record's details hold its duration and frames (trace/call_details.h).
constexpr int32_t kExitWithStack = 0x4000;

enum SubjectKind : int32_t {
    kNoSubject = 0,        // static trace points
    kWeakRefSubject = 1,   // a JNI weak global reference (may be null)
    kSlotSubject = 4,      // a SlotHandle of the object table (profiler mode)
};

enum ValueKind : int32_t {
    kNoValue = 0x00,
    kIntValue = 0x10,
    kLongValue = 0x20,
    kFloatValue = 0x30,
    kDoubleValue = 0x40,
    kObjectValue = 0x50,
    kShortValue = 0x60,
    kByteValue = 0x70,
    kBooleanValue = 0x80,
    kCharValue = 0x90,
};
