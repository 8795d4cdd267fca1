// The session's native that reads the call timing table (com.vexo.cli.AgentNatives.timing).
#pragma once

#include <jni.h>

// {TracePoint[] points, long[] columns}: what was counted since the last call, a row of
// kTimingColumns longs per trace point (trace/call_timing.h), then one long: the calls that could
// not be given to a trace point. Null when the arrays cannot be made.
jobjectArray JNICALL TimingTableNative(JNIEnv* env, jclass);

inline constexpr const char* kTimingTableName = "timing";
inline constexpr const char* kTimingTableSignature = "()[Ljava/lang/Object;";
