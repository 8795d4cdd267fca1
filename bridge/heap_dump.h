// Profiler heap dump records at level 2: class dumps, and instance and array dumps of single
// objects. IDs are 4 bytes in the machine's order, counts big-endian. Field, element and static
// values are written as zero bytes of their true sizes (only the layout is meaningful).
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

#include "bridge/class_facts.h"

// The heap dump: a class dump per loaded, prepared class. What a dump's other records would hold
// (roots, and every object with its values zeroed) nobody reads, and writing them meant walking
// the heap and tagging each object in it. Runs on a thread with JNI.
void BuildHeapDump(JNIEnv* env, std::vector<uint8_t>* out);

// The one record of `object`: a class dump for a class, else an instance or array dump.
void BuildObjectDump(JNIEnv* env, jobject object, std::vector<uint8_t>* out);

// Appends the class dump record of `facts`.
void AppendClassDump(const ClassFacts& facts, uint32_t instanceSize, std::vector<uint8_t>* out);
