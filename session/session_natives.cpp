#include "session/session_natives.h"

#include <cstdio>
#include <string>
#include <vector>

#include "bridge/declared_members.h"
#include "instrument/entry_hook.h"
#include "instrument/entry_instrumentation.h"
#include "instrument/field_hook.h"
#include "instrument/method_hook.h"
#include "session/class_waits.h"
#include "session/value_reading.h"
#include "session/timing_natives.h"
#include "instrument/old_frames.h"
#include "bridge/jvmti_env.h"
#include "core/agent_state.h"
#include "core/sync.h"
#include "platform/atomics.h"
#include "trace/access_sites.h"
#include "trace/delivery.h"
#include "trace/event_bank.h"
#include "trace/own_work.h"
#include "trace/stack_frames.h"
#include "trace/trace_flags.h"
#include "trace/trace_points.h"

namespace {
constexpr jint kUsable = JVMTI_CLASS_STATUS_PREPARED;
constexpr jint kNotUsable = JVMTI_CLASS_STATUS_ARRAY | JVMTI_CLASS_STATUS_PRIMITIVE | JVMTI_CLASS_STATUS_ERROR;

void Release(void* memory) { g_bridge.jvmti->Deallocate(static_cast<unsigned char*>(memory)); }

// Every prepared class, arrays and primitive types left out.
jobjectArray JNICALL LoadedClasses(JNIEnv* env, jclass) {
    jint count = 0;
    jclass* classes = nullptr;
    if (g_bridge.jvmti->GetLoadedClasses(&count, &classes) != JVMTI_ERROR_NONE) return nullptr;
    // JVMTI made a local reference per class in this frame: say they are expected.
    if (env->EnsureLocalCapacity(count + 4) != JNI_OK) env->ExceptionClear();
    std::vector<jclass> usable;
    for (jint i = 0; i < count; ++i) {
        jint status = 0;
        if (g_bridge.jvmti->GetClassStatus(classes[i], &status) == JVMTI_ERROR_NONE && (status & kUsable) &&
            !(status & kNotUsable)) {
            usable.push_back(classes[i]);
        } else {
            env->DeleteLocalRef(classes[i]);
        }
    }
    Release(classes);
    jclass classClass = env->FindClass("java/lang/Class");
    jobjectArray result =
        classClass == nullptr ? nullptr : env->NewObjectArray(static_cast<jsize>(usable.size()), classClass, nullptr);
    for (size_t i = 0; i < usable.size(); ++i) {
        if (result != nullptr) env->SetObjectArrayElement(result, static_cast<jsize>(i), usable[i]);
        env->DeleteLocalRef(usable[i]);
    }
    if (classClass != nullptr) env->DeleteLocalRef(classClass);
    return result;
}

// "M modifiers name descriptor" for each method the class declares, "F ..." for each field.
jobjectArray JNICALL Members(JNIEnv* env, jclass, jclass clazz) {
    std::vector<std::string> lines;
    std::vector<DeclaredMember> members;
    DeclaredMethods(g_bridge.jvmti, clazz, &members);
    for (const DeclaredMember& m : members) lines.push_back("M " + std::to_string(m.modifiers) + " " + m.name + " " + m.signature);
    DeclaredFields(g_bridge.jvmti, clazz, &members);
    for (const DeclaredMember& m : members) lines.push_back("F " + std::to_string(m.modifiers) + " " + m.name + " " + m.signature);
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jobjectArray result = env->NewObjectArray(static_cast<jsize>(lines.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    for (size_t i = 0; result != nullptr && i < lines.size(); ++i) {
        jstring line = env->NewStringUTF(lines[i].c_str());
        if (line == nullptr) return nullptr;
        env->SetObjectArrayElement(result, static_cast<jsize>(i), line);
        env->DeleteLocalRef(line);
    }
    return result;
}

// Returns, per point, whether it was entered but no road could arm its member.
jbooleanArray JNICALL Add(JNIEnv* env, jclass, jobjectArray points) {
    std::vector<jsize> refused;
    InstrumentationBeginBatch();
    AddTracePoints(env, points, &refused);
    InstrumentationEndBatch();
    const jsize n = points == nullptr ? 0 : env->GetArrayLength(points);
    jbooleanArray result = env->NewBooleanArray(n);
    const jboolean yes = JNI_TRUE;
    for (jsize i : refused) {
        if (result != nullptr) env->SetBooleanArrayRegion(result, i, 1, &yes);
    }
    return result;
}

// An activation whose classes are rewritten once each (the session's detach).
void JNICALL Activate(JNIEnv* env, jclass, jobject list) {
    InstrumentationBeginBatch();
    ActivateTracePoints(env, list);
    InstrumentationEndBatch();
}

void JNICALL FillEveryDelivery(JNIEnv*, jclass, jboolean on) { SetFillEveryDelivery(on == JNI_TRUE); }

// The session ends: no class is handed over or armed as it loads any more, and the names of the
// places events came from are forgotten (made again if asked for).
void JNICALL EndWaits(JNIEnv* env, jclass) {
    ClearClassWaits();
    StopArmingAtLoad(env);
    ForgetAccessSiteElements(env);
    ForgetStackNames();
}

// A digest (64-bit FNV-1a, in hex) of every method's name, descriptor and current bytecodes.
jstring JNICALL BytecodeDigest(JNIEnv* env, jclass, jclass clazz) {
    jvmtiEnv* jvmti = g_bridge.jvmti;
    uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](const unsigned char* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    };
    std::vector<DeclaredMember> methods;
    if (!DeclaredMethods(jvmti, clazz, &methods)) return nullptr;
    for (const DeclaredMember& m : methods) {
        mix(reinterpret_cast<const unsigned char*>(m.name.c_str()), m.name.size() + 1);
        mix(reinterpret_cast<const unsigned char*>(m.signature.c_str()), m.signature.size() + 1);
        jint length = 0;
        unsigned char* code = nullptr;
        if (jvmti->GetBytecodes(static_cast<jmethodID>(m.id), &length, &code) == JVMTI_ERROR_NONE) {
            mix(code, static_cast<size_t>(length));
            Release(code);
        }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return env->NewStringUTF(text);
}

// The strings of a Java String[], nulls left out.
std::vector<std::string> Strings(JNIEnv* env, jobjectArray array) {
    std::vector<std::string> list;
    const jsize n = array == nullptr ? 0 : env->GetArrayLength(array);
    for (jsize i = 0; i < n; ++i) {
        auto s = static_cast<jstring>(env->GetObjectArrayElement(array, i));
        if (s == nullptr) continue;
        const char* chars = env->GetStringUTFChars(s, nullptr);
        if (chars != nullptr) {
            list.emplace_back(chars);
            env->ReleaseStringUTFChars(s, chars);
        }
        env->DeleteLocalRef(s);
    }
    return list;
}

void JNICALL WaitFor(JNIEnv* env, jclass, jobjectArray prefixes) { SetWaitedPrefixes(Strings(env, prefixes)); }

// Patterns as "CLASS MEMBER DESCRIPTOR OPTIONS": "java/** get* - 0" ("-": every overload).
void JNICALL ArmAtLoadNative(JNIEnv* env, jclass, jobjectArray lines) {
    std::vector<LoadPattern> patterns;
    for (const std::string& line : Strings(env, lines)) {
        char classGlob[1024], memberGlob[1024], descriptor[1024];
        int options = 0;
        if (line.size() >= sizeof classGlob ||
            std::sscanf(line.c_str(), "%1023s %1023s %1023s %d", classGlob, memberGlob, descriptor, &options) != 4) {
            continue;
        }
        LoadPattern p;
        p.classGlob = classGlob;
        p.memberGlob = memberGlob;
        p.descriptor = std::string(descriptor) == "-" ? std::string() : std::string(descriptor);
        p.options = options & (kArgumentsTracePoint | kExitTracePoint);
        patterns.push_back(p);
    }
    ArmAtLoad(env, patterns);
}

void JNICALL WaitForSubtypes(JNIEnv* env, jclass, jclass type) {
    if (type != nullptr) AddWaitedSupertype(env, type);
}

void JNICALL OwnThread(JNIEnv*, jclass, jboolean own) { SetOwnThread(own == JNI_TRUE); }

jlong JNICALL Recorded(JNIEnv*, jclass) { return LoadRelaxed(g_recording.totalRecorded); }

void JNICALL Bound(JNIEnv*, jclass, jint bankRecords, jlong argumentBytes, jint sliceEvents) {
    OsLockGuard recording(&g_agent.recordingLock);
    BoundRecording(bankRecords, argumentBytes, sliceEvents);
}

// The running methods whose field accesses come through a watch, or are not seen, by name.
jobjectArray JNICALL OldFrames(JNIEnv* env, jclass) {
    OldFramesRecheck(env);
    const std::vector<std::string> notes = OldFramesTakeNotes();
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jobjectArray result = env->NewObjectArray(static_cast<jsize>(notes.size()), stringClass, nullptr);
    for (size_t i = 0; result != nullptr && i < notes.size(); ++i) {
        jstring s = env->NewStringUTF(notes[i].c_str());
        if (s == nullptr) break;
        env->SetObjectArrayElement(result, static_cast<jsize>(i), s);
        env->DeleteLocalRef(s);
    }
    env->DeleteLocalRef(stringClass);
    return result;
}

// The word the session reads for why a method is on the breakpoint road.
const char* ReasonWord(BreakpointReason reason) {
    switch (reason) {
        case BreakpointReason::kOption: return "option";
        case BreakpointReason::kNoRewriting: return "no-rewriting";
        case BreakpointReason::kNative: return "native";
        case BreakpointReason::kAbstract: return "abstract";
        case BreakpointReason::kJdkModule: return "jdk-module";
        case BreakpointReason::kNamedModule: return "named-module";
        case BreakpointReason::kJfrEvent: return "jfr-event";
        case BreakpointReason::kUnmodifiable: return "unmodifiable";
        case BreakpointReason::kConstructor: return "constructor";
        case BreakpointReason::kRefused: return "refused";
        case BreakpointReason::kNoHook: return "no-hook";
        case BreakpointReason::kTooMany: return "too-many";
        case BreakpointReason::kNone: break;
    }
    return nullptr;
}

// Per method trace point (its class in m_ReflectionItem), why its method records no exits on
// the breakpoint road, as a word; null where the bridge told of no such method.
jobjectArray JNICALL ExitsNotRecorded(JNIEnv* env, jclass, jobjectArray points) {
    const jsize n = points == nullptr ? 0 : env->GetArrayLength(points);
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jobjectArray result = env->NewObjectArray(n, stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    jclass classClass = env->FindClass("java/lang/Class");
    for (jsize i = 0; result != nullptr && classClass != nullptr && i < n; ++i) {
        jobject point = env->GetObjectArrayElement(points, i);
        if (point == nullptr) continue;
        jclass pointClass = env->GetObjectClass(point);
        const jfieldID classField = env->GetFieldID(pointClass, "m_ReflectionItem", "Ljava/lang/Object;");
        const jfieldID nameField = classField == nullptr ? nullptr : env->GetFieldID(pointClass, "m_strMethodOrFieldName", "Ljava/lang/String;");
        const jfieldID descriptorField =
            nameField == nullptr ? nullptr : env->GetFieldID(pointClass, "m_strMethodOrFieldSignature", "Ljava/lang/String;");
        env->DeleteLocalRef(pointClass);
        if (descriptorField == nullptr) {
            env->ExceptionClear();
            env->DeleteLocalRef(point);
            break;
        }
        auto clazz = static_cast<jclass>(env->GetObjectField(point, classField));
        auto name = static_cast<jstring>(env->GetObjectField(point, nameField));
        auto descriptor = static_cast<jstring>(env->GetObjectField(point, descriptorField));
        const char* nameChars = name == nullptr ? nullptr : env->GetStringUTFChars(name, nullptr);
        const char* descriptorChars = descriptor == nullptr ? nullptr : env->GetStringUTFChars(descriptor, nullptr);
        const char* word = nullptr;
        if (clazz != nullptr && env->IsInstanceOf(clazz, classClass) && nameChars != nullptr && descriptorChars != nullptr) {
            word = ReasonWord(UnrecordedExitsReason(env, clazz, nameChars, descriptorChars));
        }
        if (nameChars != nullptr) env->ReleaseStringUTFChars(name, nameChars);
        if (descriptorChars != nullptr) env->ReleaseStringUTFChars(descriptor, descriptorChars);
        if (word != nullptr) {
            jstring s = env->NewStringUTF(word);
            if (s != nullptr) env->SetObjectArrayElement(result, i, s);
            if (s != nullptr) env->DeleteLocalRef(s);
        }
        for (jobject local : {static_cast<jobject>(clazz), static_cast<jobject>(name), static_cast<jobject>(descriptor), point}) {
            if (local != nullptr) env->DeleteLocalRef(local);
        }
    }
    if (classClass != nullptr) env->DeleteLocalRef(classClass);
    if (env->ExceptionCheck()) env->ExceptionClear();
    return result;
}

// The hook classes arming calls into, defined now rather than while a class prepares (and
// java.base made to read them), and the thread that watches old frames, started now.
void JNICALL WarmUp(JNIEnv* env, jclass) {
    OldFramesStartChecker(env);
    if (!g_bridge.granted.can_retransform_classes) return;
    EnsureEntryHookClass(env);
    LetJavaBaseReadTheHooks(env);
    EnsureFieldHookClass(env);
    EnsureMethodHookClass(env);
    if (env->ExceptionCheck()) env->ExceptionClear();
}

char kLoaded[] = "loadedClasses", kLoadedSig[] = "()[Ljava/lang/Class;";
char kMembers[] = "members", kMembersSig[] = "(Ljava/lang/Class;)[Ljava/lang/String;";
char kAdd[] = "add", kAddSig[] = "([Lcom/vexo/TracePoints$TracePoint;)[Z";
char kActivate[] = "activate", kActivateSig[] = "(Lcom/vexo/TracePoints;)V";
char kEndWaits[] = "endWaits", kEndWaitsSig[] = "()V";
char kDigest[] = "bytecodeDigest", kDigestSig[] = "(Ljava/lang/Class;)Ljava/lang/String;";
char kWait[] = "waitFor", kWaitSig[] = "([Ljava/lang/String;)V";
char kSubtypes[] = "waitForSubtypes", kSubtypesSig[] = "(Ljava/lang/Class;)V";
char kOwn[] = "ownThread", kOwnSig[] = "(Z)V";
char kRecorded[] = "recorded", kRecordedSig[] = "()J";
char kBound[] = "bound", kBoundSig[] = "(IJI)V";
char kWarm[] = "warmUp", kWarmSig[] = "()V";
char kExits[] = "exitsNotRecorded", kExitsSig[] = "([Lcom/vexo/TracePoints$TracePoint;)[Ljava/lang/String;";
char kOld[] = "oldFrames", kOldSig[] = "()[Ljava/lang/String;";
char kAtLoad[] = "armAtLoad", kAtLoadSig[] = "([Ljava/lang/String;)V";
char kFill[] = "fillEvents", kFillSig[] = "(Z)V";
char kMessage[] = "thrownMessage", kMessageSig[] = "(Ljava/lang/Throwable;)Ljava/lang/String;";
char kLambda[] = "lambdaTarget", kLambdaSig[] = "(Ljava/lang/Class;)Ljava/lang/String;";
}  // namespace

bool RegisterSessionNatives(JNIEnv* env) {
    jclass natives = env->FindClass("com/vexo/cli/AgentNatives");
    if (natives == nullptr) {
        env->ExceptionClear();
        return false;
    }
    const JNINativeMethod methods[] = {
        {kLoaded, kLoadedSig, reinterpret_cast<void*>(&LoadedClasses)},
        {kMembers, kMembersSig, reinterpret_cast<void*>(&Members)},
        {kAdd, kAddSig, reinterpret_cast<void*>(&Add)},
        {kActivate, kActivateSig, reinterpret_cast<void*>(&Activate)},
        {kEndWaits, kEndWaitsSig, reinterpret_cast<void*>(&EndWaits)},
        {kDigest, kDigestSig, reinterpret_cast<void*>(&BytecodeDigest)},
        {kWait, kWaitSig, reinterpret_cast<void*>(&WaitFor)},
        {kSubtypes, kSubtypesSig, reinterpret_cast<void*>(&WaitForSubtypes)},
        {kOwn, kOwnSig, reinterpret_cast<void*>(&OwnThread)},
        {kOld, kOldSig, reinterpret_cast<void*>(&OldFrames)},
        {kWarm, kWarmSig, reinterpret_cast<void*>(&WarmUp)},
        {kBound, kBoundSig, reinterpret_cast<void*>(&Bound)},
        {kRecorded, kRecordedSig, reinterpret_cast<void*>(&Recorded)},
        {kExits, kExitsSig, reinterpret_cast<void*>(&ExitsNotRecorded)},
        {kAtLoad, kAtLoadSig, reinterpret_cast<void*>(&ArmAtLoadNative)},
        {kFill, kFillSig, reinterpret_cast<void*>(&FillEveryDelivery)},
        {kMessage, kMessageSig, reinterpret_cast<void*>(&ThrownMessage)},
        {kLambda, kLambdaSig, reinterpret_cast<void*>(&LambdaTarget)},
        {const_cast<char*>(kTimingTableName), const_cast<char*>(kTimingTableSignature),
         reinterpret_cast<void*>(&TimingTableNative)},
    };
    const bool bound = env->RegisterNatives(natives, methods, sizeof methods / sizeof methods[0]) == 0;
    if (!bound) env->ExceptionClear();
    env->DeleteLocalRef(natives);
    return bound;
}
