// The class file load hook as a pipeline of passes. Each pass is handed the class file as the
// pass before left it and returns the class file it made of it, or nothing (unchanged); the
// pipeline hands the last class file made to the VM. What a pass recorded of its class file (the
// probes it found instrumented, the refused sites it counted) holds only once the VM has the
// class: when no memory can be had for it, the class stays as it was and every pass that
// changed it takes back what it recorded.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "instrument/class_rewriter.h"

// The class being loaded or retransformed, as every pass sees it.
struct LoadingClass {
    JNIEnv* jni = nullptr;
    jclass classBeingRedefined = nullptr;  // null while the class loads for the first time
    jobject loader = nullptr;              // null for the boot loader
    const char* name = nullptr;            // internal form, e.g. p/Main; null for a class without one
    // Methods whose entry a trace point's entry probe takes, which posts the profiler's method
    // entry too: the entry probes' pass names them, profiler mode's entries leave them alone.
    std::vector<DeclaredMethod> entriesTaken;
    // Probes the entry probes' pass made for a class loading for the first time whose trace
    // points ask for arguments or exits, for the method probes' pass to put in.
    std::vector<int32_t> probesAtLoad;
};

// What a pass made of the class file.
struct PassResult {
    std::vector<uint8_t> bytes;  // the new class file; empty: unchanged
    // Takes back what the pass recorded of `bytes`, when the VM cannot be handed the class.
    std::function<void()> undo;
};

using ClassFilePass = PassResult (*)(LoadingClass* c, const uint8_t* data, size_t size);

// Runs `passes` in turn over the class file in `data` and, when one of them changed it, hands the
// result to the VM (*newLength, *newData, in memory from `jvmti`). Each intermediate class file
// is released once the next pass made its own.
void RunClassFilePasses(jvmtiEnv* jvmti, LoadingClass* c, std::initializer_list<ClassFilePass> passes,
                        const unsigned char* data, jint length, jint* newLength, unsigned char** newData);
