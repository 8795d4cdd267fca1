// Frames that were running when a field's sites were rewritten. Retransformation replaces a
// method for its next call only: a frame already running goes on in the old (obsolete) code,
// which does not call the field hook. While such a frame is left, the field is also watched
// through JVMTI, with the field events enabled only on the threads that run one (HotSpot
// interprets just those threads), and only the accesses the old methods make are raised; the
// others come through the hook. A checker thread looks again every few milliseconds and ends
// the watch once the old frames have returned. Where the VM grants no field watches (an agent
// loaded late or attached), the old frames are named instead, never passed over silently.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <string>
#include <vector>

#include "bridge/field_watch_gate.h"

// Once, with the session's environment. `watchesGranted`: JVMTI field events are there;
// `sayUnseen`: old frames that cannot be watched are also said on standard error (no in-VM
// session of an attach tells of them).
void OldFramesInit(jvmtiEnv* jvmti, bool watchesGranted, bool sayUnseen);

// Starts the checker thread now (it waits until a field has old frames to watch), rather than
// when one first does, which may be while a class prepares: making a thread runs Java code.
void OldFramesStartChecker(JNIEnv* env);

// The field of site id `id` (declared by `declaringClass`, shown as `shownName`, e.g.
// "lo.Work.acc") had its sites rewritten in `siteClasses`: finds the frames still running an
// old version of a method of those classes. Old versions that already call the hook (running
// since an earlier arming of the field) are left to the hook.
void OldFramesAfterRewrite(JNIEnv* env, int id, jclass declaringClass, jfieldID field,
                           const std::string& shownName, const std::vector<jclass>& siteClasses);

// The field's access or modification is armed (or disarmed): its watch of that kind follows
// while old frames are left.
void OldFramesWatch(JNIEnv* env, int id, FieldWatchKind kind, bool on);

// Before the field's sites are restored: its old frames are no longer watched. After they were
// restored in `siteClasses`: the versions that call the hook and still run are remembered, so
// that a later arming leaves them to the hook.
void OldFramesBeforeRestore(int id);
void OldFramesAfterRestore(JNIEnv* env, int id, const std::vector<jclass>& siteClasses);

// From the JVMTI field event callbacks: whether the event is to be raised. Events of fields no
// old frame concerns are; of a field being watched for its old frames, only those `method`
// makes when it is one of them.
bool OldFramesRaise(JNIEnv* env, jmethodID method, jclass fieldClass, jfieldID field);

// One line per old method that still runs with its field watched ("... still runs code from
// before lo.Work.acc was armed: its accesses come through a field watch"), and per old method
// found since the last call whose accesses are not seen because the VM grants no watch.
std::vector<std::string> OldFramesTakeNotes();

// Looks at every thread with old frames again now (the checker does so on its own too).
void OldFramesRecheck(JNIEnv* env);
