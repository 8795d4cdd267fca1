#include "session/session_start.h"

#include <cstdio>
#include <string>

#include "core/error_out.h"
#include "instrument/entry_instrumentation.h"
#include "session/agent_options.h"
#include "session/class_waits.h"
#include "session/session_natives.h"
#include "bridge/jvmti_env.h"
#include "platform/os.h"
#include "trace/own_work.h"

namespace {
std::string g_options;  // the option string, for the session's Java side
bool g_waiting = false;

bool Exists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// The tracer's jar: named by the option jar=, else beside the library (as the build lays it
// out, java/vexo.jar, or next to it).
std::string TracerJar(const char* options) {
    std::string jar = OptionValue(options, "jar");
    if (!jar.empty()) return jar;
    char path[4096];
    if (OsLibraryPath(path, sizeof path) == 0) return "";
    std::string dir(path);
    const size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    for (const char* relative : {"/java/vexo.jar", "/vexo.jar"}) {
        if (Exists(dir + relative)) return dir + relative;
    }
    return "";
}

// Puts the tracer's jar on the boot class path, once per VM (after attach, on the system class
// path: appending to the boot class path of a running VM makes HotSpot warn on the program's
// standard error that class sharing is reduced). False (said) when it cannot.
bool AddTracerClasses(jvmtiEnv* jvmti, const char* options, bool running) {
    static bool added = false;
    if (added) return true;
    const std::string jar = TracerJar(options);
    if (jar.empty() || !Exists(jar)) {
        ErrorOut("Vexo: the tracer's classes (vexo.jar) were not found%s%s; name them with jar=PATH. "
                 "The program runs untraced\n", jar.empty() ? "" : " at ", jar.c_str());
        return false;
    }
    const jvmtiError error = running ? jvmti->AddToSystemClassLoaderSearch(jar.c_str())
                                     : jvmti->AddToBootstrapClassLoaderSearch(jar.c_str());
    if (error != JVMTI_ERROR_NONE) {
        ErrorOut("Vexo: the VM refused %s on its boot class path. The program runs untraced\n", jar.c_str());
        return false;
    }
    added = true;
    return true;
}

// Calls the session's static `entry` (start or attach) with the option string, as the tracer's
// own work. False when the tracer's classes cannot be had.
bool CallSession(JNIEnv* env, const char* entry, const std::string& optionString) {
    BeginOwnWork();
    jclass session = env->FindClass("com/vexo/cli/AgentMain");
    jmethodID method = session == nullptr ? nullptr : env->GetStaticMethodID(session, entry, "(Ljava/lang/String;)V");
    jmethodID prepared =
        method == nullptr ? nullptr : env->GetStaticMethodID(session, "prepared", "(Ljava/lang/Class;)V");
    const bool ready = prepared != nullptr && RegisterSessionNatives(env);
    if (!ready) {
        if (env->ExceptionCheck()) env->ExceptionClear();
        ErrorOut("Vexo: the tracer's classes do not fit this agent. The program runs untraced\n");
    } else {
        // The session sums up what has no exits in its summary, in its own words.
        InstrumentationSessionTells();
        SetPreparedHandler(env, session, prepared);
        jstring options = env->NewStringUTF(optionString.c_str());
        if (options != nullptr) env->CallStaticVoidMethod(session, method, options);
        if (env->ExceptionCheck()) env->ExceptionClear();  // the session says what went wrong itself
        if (options != nullptr) env->DeleteLocalRef(options);
    }
    if (session != nullptr) env->DeleteLocalRef(session);
    EndOwnWork();
    return ready;
}
}  // namespace

void InVmSessionOnLoad(jvmtiEnv* jvmti, const char* options) {
    if (!AsksForSession(options) || !AddTracerClasses(jvmti, options, false)) return;
    g_options = options;
    SetHandlingMarks(HasOptionWord(options, "handlings"));
    g_waiting = jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_VM_INIT, nullptr) == JVMTI_ERROR_NONE;
}

void JNICALL InVmSessionOnVmInit(jvmtiEnv* jvmti, JNIEnv* env, jthread) {
    if (!g_waiting) return;
    g_waiting = false;
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_VM_INIT, nullptr);
    CallSession(env, "start", g_options);
}

bool InVmSessionOnAttach(jvmtiEnv* jvmti, const char* options) {
    JNIEnv* env = BridgeJni();
    if (env == nullptr || !AddTracerClasses(jvmti, options, true)) return false;
    return CallSession(env, "attach", options);
}
