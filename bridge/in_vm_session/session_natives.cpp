#include "bridge/in_vm_session/session_natives.h"

#include <string>
#include <vector>

#include "bridge/entry_instrumentation.h"
#include "bridge/in_vm_session/class_waits.h"
#include "bridge/session.h"
#include "trace/own_work.h"
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
    jvmtiEnv* jvmti = g_bridge.jvmti;
    jint count = 0;
    jmethodID* methods = nullptr;
    if (jvmti->GetClassMethods(clazz, &count, &methods) == JVMTI_ERROR_NONE) {
        for (jint i = 0; i < count; ++i) {
            char* name = nullptr;
            char* signature = nullptr;
            jint modifiers = 0;
            if (jvmti->GetMethodName(methods[i], &name, &signature, nullptr) != JVMTI_ERROR_NONE) continue;
            jvmti->GetMethodModifiers(methods[i], &modifiers);
            lines.push_back("M " + std::to_string(modifiers) + " " + name + " " + signature);
            Release(name);
            Release(signature);
        }
        Release(methods);
    }
    jfieldID* fields = nullptr;
    if (jvmti->GetClassFields(clazz, &count, &fields) == JVMTI_ERROR_NONE) {
        for (jint i = 0; i < count; ++i) {
            char* name = nullptr;
            char* signature = nullptr;
            jint modifiers = 0;
            if (jvmti->GetFieldName(clazz, fields[i], &name, &signature, nullptr) != JVMTI_ERROR_NONE) continue;
            jvmti->GetFieldModifiers(clazz, fields[i], &modifiers);
            lines.push_back("F " + std::to_string(modifiers) + " " + name + " " + signature);
            Release(name);
            Release(signature);
        }
        Release(fields);
    }
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

void JNICALL Add(JNIEnv* env, jclass, jobjectArray points) {
    InstrumentationBeginBatch();
    AddTracePoints(env, points);
    InstrumentationEndBatch();
}

void JNICALL WaitFor(JNIEnv* env, jclass, jobjectArray prefixes) {
    std::vector<std::string> list;
    const jsize n = prefixes == nullptr ? 0 : env->GetArrayLength(prefixes);
    for (jsize i = 0; i < n; ++i) {
        auto s = static_cast<jstring>(env->GetObjectArrayElement(prefixes, i));
        if (s == nullptr) continue;
        const char* chars = env->GetStringUTFChars(s, nullptr);
        if (chars != nullptr) {
            list.emplace_back(chars);
            env->ReleaseStringUTFChars(s, chars);
        }
        env->DeleteLocalRef(s);
    }
    SetWaitedPrefixes(list);
}

void JNICALL WaitForSubtypes(JNIEnv* env, jclass, jclass type) {
    if (type != nullptr) AddWaitedSupertype(env, type);
}

void JNICALL OwnThread(JNIEnv*, jclass, jboolean own) { SetOwnThread(own == JNI_TRUE); }

void JNICALL SetLimit(JNIEnv*, jclass, jint limit) { SetRecordingLimit(limit); }

char kLoaded[] = "loadedClasses", kLoadedSig[] = "()[Ljava/lang/Class;";
char kMembers[] = "members", kMembersSig[] = "(Ljava/lang/Class;)[Ljava/lang/String;";
char kAdd[] = "add", kAddSig[] = "([Lcom/vexo/TracePoints$TracePoint;)V";
char kWait[] = "waitFor", kWaitSig[] = "([Ljava/lang/String;)V";
char kSubtypes[] = "waitForSubtypes", kSubtypesSig[] = "(Ljava/lang/Class;)V";
char kOwn[] = "ownThread", kOwnSig[] = "(Z)V";
char kLimit[] = "setLimit", kLimitSig[] = "(I)V";
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
        {kWait, kWaitSig, reinterpret_cast<void*>(&WaitFor)},
        {kSubtypes, kSubtypesSig, reinterpret_cast<void*>(&WaitForSubtypes)},
        {kOwn, kOwnSig, reinterpret_cast<void*>(&OwnThread)},
        {kLimit, kLimitSig, reinterpret_cast<void*>(&SetLimit)},
    };
    const bool bound = env->RegisterNatives(natives, methods, sizeof methods / sizeof methods[0]) == 0;
    if (!bound) env->ExceptionClear();
    env->DeleteLocalRef(natives);
    return bound;
}
