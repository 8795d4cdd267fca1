#include "trace/frame_names.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/agent_state.h"
#include "core/java_fields.h"
#include "platform/os.h"

namespace {
// What a stack trace element of a method needs, read once per method.
struct MethodNames {
    std::string className;
    std::string methodName;
    std::string sourceFile;
    std::vector<JVMDI_line_number_entry> lines;  // by start location
};

// The cache is bounded: past this many methods it starts again.
constexpr size_t kMaxNamedMethods = 1 << 14;

// Read by the consumer thread; a lock as ForgetFrameNames may run on another.
struct FrameNames {
    OsLock lock;
    std::unordered_map<jmethodID, MethodNames> methods;
};

FrameNames& Names() {
    static FrameNames* names = [] {
        auto* made = new FrameNames();
        OsLockInit(&made->lock);
        return made;
    }();
    return *names;
}

KeptClass g_elementClass{"java/lang/StackTraceElement"};

void Release(void* memory) {
    if (memory != nullptr) g_agent.jvmdi->Deallocate(static_cast<jbyte*>(memory));
}

// "Lapp/Main;" as "app.Main" (a hidden class's name keeps its '/' before the address, as
// Class.getName shows it).
std::string DottedName(const char* signature) {
    std::string name = signature;
    if (name.size() >= 2 && name.front() == 'L' && name.back() == ';') name = name.substr(1, name.size() - 2);
    const size_t hidden = name.find('.');
    std::replace(name.begin(), name.end(), '/', '.');
    if (hidden != std::string::npos) name[hidden] = '/';
    return name;
}

bool ReadNames(JNIEnv* env, jmethodID method, MethodNames* out) {
    JVMDI_Interface_1* d = g_agent.jvmdi;
    if (d == nullptr || d->GetMethodName == nullptr || d->GetMethodDeclaringClass == nullptr ||
        d->GetClassSignature == nullptr || d->Deallocate == nullptr) {
        return false;
    }
    char* name = nullptr;
    char* signature = nullptr;
    jclass declaring = nullptr;
    if (d->GetMethodDeclaringClass(nullptr, method, &declaring) != JVMDI_ERROR_NONE || declaring == nullptr) return false;
    bool named = d->GetMethodName(declaring, method, &name, &signature) == JVMDI_ERROR_NONE && name != nullptr;
    if (named) out->methodName = name;
    Release(name);
    Release(signature);
    char* classSignature = nullptr;
    named = named && d->GetClassSignature(declaring, &classSignature) == JVMDI_ERROR_NONE && classSignature != nullptr;
    if (named) out->className = DottedName(classSignature);
    Release(classSignature);
    char* file = nullptr;
    if (named && d->GetSourceFileName != nullptr && d->GetSourceFileName(declaring, &file) == JVMDI_ERROR_NONE &&
        file != nullptr) {
        out->sourceFile = file;
    }
    Release(file);
    jint count = 0;
    JVMDI_line_number_entry* table = nullptr;
    if (named && d->GetLineNumberTable != nullptr &&
        d->GetLineNumberTable(declaring, method, &count, &table) == JVMDI_ERROR_NONE && table != nullptr) {
        out->lines.assign(table, table + count);
        std::sort(out->lines.begin(), out->lines.end(),
                  [](const JVMDI_line_number_entry& a, const JVMDI_line_number_entry& b) {
                      return a.start_location < b.start_location;
                  });
    }
    Release(table);
    // A class the debug interface handed over as a new reference (the bridge makes global ones).
    if (env->GetObjectRefType(declaring) == JNIGlobalRefType) env->DeleteGlobalRef(declaring);
    else env->DeleteLocalRef(declaring);
    return named;
}
}  // namespace

jint LineOfLocation(const JVMDI_line_number_entry* table, jint count, jlocation location) {
    jint line = -1;
    jlocation best = -1;
    for (jint i = 0; i < count; ++i) {
        if (table[i].start_location <= location && table[i].start_location >= best) {
            best = table[i].start_location;
            line = table[i].line_number;
        }
    }
    return line;
}

jobject MadeFrameElement(JNIEnv* env, const std::string& className, const std::string& methodName,
                         const std::string& sourceFile, jint line) {
    jclass elementClass = g_elementClass.Get(env);
    if (elementClass == nullptr) return nullptr;
    static jmethodID make = nullptr;
    if (make == nullptr) {
        make = env->GetMethodID(elementClass, "<init>",
                                "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V");
        if (make == nullptr) {
            env->ExceptionClear();
            return nullptr;
        }
    }
    jstring cls = env->NewStringUTF(className.c_str());
    jstring name = cls == nullptr ? nullptr : env->NewStringUTF(methodName.c_str());
    jstring file = name == nullptr || sourceFile.empty() ? nullptr : env->NewStringUTF(sourceFile.c_str());
    jobject element = name == nullptr ? nullptr : env->NewObject(elementClass, make, cls, name, file, line);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        element = nullptr;
    }
    for (jobject local : {static_cast<jobject>(cls), static_cast<jobject>(name), static_cast<jobject>(file)}) {
        if (local != nullptr) env->DeleteLocalRef(local);
    }
    return element;
}

jobject FrameElement(JNIEnv* env, jmethodID method, jlocation location) {
    if (method == nullptr) return nullptr;
    FrameNames& names = Names();
    MethodNames found;
    bool known = false;
    {
        OsLockGuard held(&names.lock);
        const auto at = names.methods.find(method);
        if (at != names.methods.end()) {
            found = at->second;
            known = true;
        }
    }
    if (!known) {
        if (!ReadNames(env, method, &found)) return nullptr;
        OsLockGuard held(&names.lock);
        if (names.methods.size() >= kMaxNamedMethods) names.methods.clear();
        names.methods.emplace(method, found);
    }
    const jint line = LineOfLocation(found.lines.data(), static_cast<jint>(found.lines.size()), location);
    return MadeFrameElement(env, found.className, found.methodName, found.sourceFile, line);
}

void ForgetFrameNames() {
    FrameNames& names = Names();
    OsLockGuard held(&names.lock);
    names.methods.clear();
}
