// Which thread an event happened on: one tag per Java thread, holding a weak reference to its
// java.lang.Thread, made at the thread's first event. A thread that ends retires its tag, and a
// retired tag is freed only once both banks have been delivered since, so no record still
// waiting for delivery can name a freed tag.
#pragma once

#include <jni.h>

#include <cstdint>

struct ThreadTag {
    jweak thread;  // may be null (the thread object could not be had)
    uint32_t banksDeliveredAtRetirement;
    ThreadTag* next;  // on the retired list
    void* block;      // the allocation the tag sits in
};

// The calling thread's tag, made on first use. Null without an environment or memory. Call it
// without the recording lock (the first call runs Thread.currentThread).
ThreadTag* CurrentThreadTag(JNIEnv* env);

// The calling thread ends: its tag is retired.
void RetireCurrentThreadTag(JNIEnv* env);

// The weak references the tags hold now (one per thread that has recorded, until freed).
long LiveThreadTagReferences();

// Frees the tags retired before the last two deliveries. Under the recording lock.
void ReleaseRetiredThreadTags(JNIEnv* env, uint32_t banksDelivered);
