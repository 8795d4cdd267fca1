// What the profiler interface tells of a class: in its class-load event and its class dump
// record, which must agree (interface count, static value bytes).
#pragma once

#include <jni.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/jvmpi.h"

struct ClassFacts {
    jobjectID id = 0;
    jobjectID superId = 0;
    jobjectID loaderId = 0;
    std::string name;                       // dotted: java.lang.String, [I, [Ljava.lang.String;
    std::vector<jobjectID> interfaces;      // directly declared
    std::vector<std::pair<std::string, std::string>> statics;  // name, signature
    uint32_t staticBytes = 0;               // the static values in a class dump
    uint32_t ownInstanceBytes = 0;          // the class's own instance fields in an instance dump
    int primitiveElement = 0;               // JVMPI type code of a primitive array's elements
    bool objectArray = false;
    // Prepared (or an array class): its fields are known. A class that is loaded but not yet
    // prepared has no dependable static fields, so it is neither dumped nor reported.
    bool prepared = false;
};

// The bytes a value of JVM type `signature` takes in a dump (an object as one 4-byte ID), by the
// same table the agent's dump parser steps with.
uint32_t DumpValueSize(const char* signature);

// Fills `facts` for `clazz`, giving it and the classes it names identifiers.
void GatherClassFacts(JNIEnv* env, jclass clazz, ClassFacts* facts);

// Only what names the class: its identifier, whether it is prepared, its name and array kind
// (the rest of `facts` stays empty).
void GatherClassIdentity(JNIEnv* env, jclass clazz, ClassFacts* facts);
