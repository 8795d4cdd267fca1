// Profiler heap dumps at level 2, built from JVMTI's heap walks: GC roots, a class dump per
// loaded class, an instance dump per object, object and primitive arrays. IDs are 4 bytes in
// the machine's order, counts big-endian. Field, element and static values are written as
// zero bytes of their true sizes (only the layout is meaningful).
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

#include "bridge/class_facts.h"

// The whole heap. Runs on a thread with JNI (the classes are examined before the walks).
void BuildHeapDump(JNIEnv* env, std::vector<uint8_t>* out);

// The one record of `object`: a class dump for a class, else an instance or array dump.
void BuildObjectDump(JNIEnv* env, jobject object, std::vector<uint8_t>* out);

// Appends the class dump record of `facts`.
void AppendClassDump(const ClassFacts& facts, uint32_t instanceSize, std::vector<uint8_t>* out);
