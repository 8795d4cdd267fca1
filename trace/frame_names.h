// Stack trace elements of code locations, made on the consumer thread at delivery: a method and
// a location (through the debug interface, with the method's class name, source file and line
// number table cached per method), or names already known (a site the rewriter numbered).
#pragma once

#include <jni.h>

#include <string>

#include "platform/jvmdi.h"

// A new local StackTraceElement of `location` in `method`, or null when the method cannot be
// named (its class unloaded, the debug interface lacks the calls) or there is no memory.
jobject FrameElement(JNIEnv* env, jmethodID method, jlocation location);

// A new local StackTraceElement of a class (dotted name), a method, a source file ("" for none)
// and a line (-1 for none), or null without memory.
jobject MadeFrameElement(JNIEnv* env, const std::string& className, const std::string& methodName,
                         const std::string& sourceFile, jint line);

// The line of `location` by a line number table (the entry with the greatest start not after it;
// -1 when none covers it).
jint LineOfLocation(const JVMDI_line_number_entry* table, jint count, jlocation location);

// Forgets every method named so far (the session ended; a jmethodID may be reused later).
void ForgetFrameNames();
