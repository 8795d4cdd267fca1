// Field watches by instrumentation: the debug interface's field access and modification watches
// served by rewriting every site that accesses the field (bytecode/field_sites.h) so that it
// calls the field hook, which raises the same events with the value at hand, at JIT speed.
// Loaded classes that can access the field and name it in their constant pool are
// retransformed, classes that load later are rewritten as they load, and clearing the last
// watch of a field retransforms them back. Fields declared in a named module (the JDK's own),
// in classes JVMTI may not change, or whose sites the engine refuses keep JVMTI watches, and
// so does every field with the option "watches".
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bridge/field_watch_gate.h"
#include "instrument/class_file_passes.h"
#include "platform/jvmdi.h"

// The option "watches" (read before the session starts): every field keeps JVMTI watches.
void FieldForceWatches(bool force);
bool FieldWatchesForced();

void FieldInstrumentationInit(jvmtiEnv* jvmti, bool forceWatches);

// Whether fields can be watched by instrumentation (retransformation granted, no "watches").
bool FieldInstrumentationAvailable();

// The debug interface's Set/ClearFieldAccessWatch and Set/ClearFieldModificationWatch, either
// road.
jvmdiError FieldSetWatch(FieldWatchKind kind, jclass clazz, jfieldID field);
jvmdiError FieldClearWatch(FieldWatchKind kind, jclass clazz, jfieldID field);

// A batch of arming on this thread (bracketed by the entry instrumentation's): fields armed in
// it have their sites rewritten in the batch's one retransformation, together with its methods,
// and are published at its end. FieldBatchClasses gives the classes to retransform (and holds
// the arming lock until FieldBatchEnd, which says whether the VM took them all).
void FieldBatchBegin();
std::vector<jclass> FieldBatchClasses(JNIEnv* env);
void FieldBatchEnd(JNIEnv* env, bool retransformed);
// Publishes the batch's fields when every class was rewritten as asked, at the moment the
// batch's methods are published; FieldBatchEnd then only looks for old frames.
void FieldBatchPublish(bool retransformed);

// Whether the class file hook must look at the class being loaded or retransformed now.
bool FieldSitesWanted();

// The class file hook's pass of field sites (instrument/class_file_passes.h): rewrites the sites
// of the armed fields in the class file, which earlier passes may have rewritten.
PassResult FieldSitesPass(LoadingClass* c, const uint8_t* data, size_t size);

// At ClassPrepare: the classes that name a field through an owner found late (instrument/
// field_owners), loaded before it, are rewritten again.
void FieldInstrumentationOnClassPrepare(JNIEnv* env, jclass klass);
