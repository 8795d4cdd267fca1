// The classes the in-VM session waits for. A class that prepares (loaded and linked, before
// its initialiser or any of its methods runs) and may match is handed to the session's Java
// side on the thread that prepares it, which arms it then. The test here is cheap and may pass
// too much, never too little: name prefixes (internal names) and super types; the session
// decides exactly.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

// The session's class and its static handler, void prepared(Class<?>) (global reference kept).
void SetPreparedHandler(JNIEnv* env, jclass sessionClass, jmethodID handler);

// Replaces the name prefixes (with dots or slashes); an empty prefix lets every class pass.
void SetWaitedPrefixes(const std::vector<std::string>& prefixes);

// Lets every class that extends or implements `type` pass (a global reference is kept).
void AddWaitedSupertype(JNIEnv* env, jclass type);

// Waits for nothing any more (the session ends); the super types are let go.
void ClearClassWaits();

// Whether anything is waited for (the bridge then asks for class prepare events).
bool ClassWaitsActive();

// From the bridge's class prepare callback.
void ClassWaitsOnClassPrepare(JNIEnv* env, jclass klass);

// The option "handlings": each handing over is marked on standard output, with its thread.
void SetHandlingMarks(bool on);
