// Probes a class gets as it loads, for the methods the session's patterns name
// (instrument/load_patterns.h): made in the class file hook of the class's first definition, found
// by arming once the class is handed over (and then armed without rewriting it), and, for those
// no trace point arms, their classes named when the session ends so that they get their own code
// back. All under the entry instrumentation lock (the pass takes it only within a millisecond).
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "instrument/class_file_passes.h"
#include "instrument/probe_table.h"

// The class file hook's part for a class loading for the first time that the patterns name: the
// probes of the methods they name, the entry hook's call put in for those that ask for nothing
// else; those that ask for arguments or exits go to `c->probesAtLoad` for the method probes' pass.
PassResult ProbesAtLoadPass(LoadingClass* c, const uint8_t* data, size_t size);

// The probe made for the described method as its class loaded, which takes over the
// description; null when there is none. Under the lock.
Probe* AdoptProbeMadeAtLoad(JNIEnv* env, Probe* described);

// The class is rewritten from the class file it loaded with: the probes made then, which arming
// has not found, are in no version of it from now on. Under the lock.
void ForgetProbesMadeAtLoad(const LoadingClass* c);

// The classes (local references) whose version calls the hook for probes made as they loaded
// that no trace point arms: those arming found, and those of the others, found among the loaded
// classes by name and loader. Takes the lock.
std::vector<jclass> ClassesKeepingUnarmedProbes(JNIEnv* env);
