#include "session/value_reading.h"

#include <algorithm>
#include <string>
#include <vector>

#include "bridge/jvmti_env.h"
#include "bytecode/access_flags.h"
#include "bytecode/byte_io.h"
#include "bytecode/constant_pool.h"
#include "bytecode/invocations.h"

namespace {
void Release(void* memory) {
    if (memory != nullptr) g_bridge.jvmti->Deallocate(static_cast<unsigned char*>(memory));
}

// Boxing and unboxing the metafactory puts around the call of the lambda's code.
bool Boxing(const std::string& owner, const std::string& name) {
    static const char* const kBoxes[] = {"java/lang/Integer", "java/lang/Long",  "java/lang/Short",
                                         "java/lang/Byte",    "java/lang/Character", "java/lang/Boolean",
                                         "java/lang/Float",   "java/lang/Double"};
    const bool box = std::any_of(std::begin(kBoxes), std::end(kBoxes), [&owner](const char* b) { return owner == b; });
    return box && (name == "valueOf" || (name.size() > 5 && name.compare(name.size() - 5, 5, "Value") == 0));
}

// The class's constant pool, parsed; false when it cannot be read.
bool PoolOf(jclass clazz, bytecode::ConstantPool* out) {
    jint count = 0, byteCount = 0;
    unsigned char* bytes = nullptr;
    if (g_bridge.jvmti->GetConstantPool(clazz, &count, &byteCount, &bytes) != JVMTI_ERROR_NONE) return false;
    std::vector<uint8_t> pool = {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    pool.insert(pool.end(), bytes, bytes + byteCount);
    Release(bytes);
    bytecode::Reader r{pool.data(), pool.size()};
    return bytecode::ReadConstantPool(&r, out);
}

// The first member `method` invokes that is not boxing, as "owner.name" (dotted); "" if none.
std::string CalledBy(jmethodID method, const bytecode::ConstantPool& pool) {
    jint length = 0;
    unsigned char* code = nullptr;
    if (g_bridge.jvmti->GetBytecodes(method, &length, &code) != JVMTI_ERROR_NONE) return "";
    std::vector<uint16_t> invoked;
    const bool decoded = bytecode::InvokedPoolIndexes(code, static_cast<size_t>(length), &invoked);
    Release(code);
    if (!decoded) return "";
    for (uint16_t index : invoked) {
        if (index >= pool.entries.size()) continue;
        const bytecode::Constant& c = pool.entries[index];
        if (c.tag != bytecode::kTagMethodref && c.tag != bytecode::kTagInterfaceMethodref) continue;
        const std::string* owner = pool.ClassName(c.first);
        std::string name, descriptor;
        if (owner == nullptr || !pool.MemberNameAndType(index, &name, &descriptor) || Boxing(*owner, name)) continue;
        std::string shown = *owner + "." + name;
        std::replace(shown.begin(), shown.end(), '/', '.');
        return shown;
    }
    return "";
}
}  // namespace

jstring JNICALL ThrownMessage(JNIEnv* env, jclass, jthrowable thrown) {
    if (thrown == nullptr) return nullptr;
    jclass throwable = env->FindClass("java/lang/Throwable");
    const jfieldID message = throwable == nullptr ? nullptr : env->GetFieldID(throwable, "detailMessage", "Ljava/lang/String;");
    if (throwable != nullptr) env->DeleteLocalRef(throwable);
    if (message == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    return static_cast<jstring>(env->GetObjectField(thrown, message));
}

jstring JNICALL LambdaTarget(JNIEnv* env, jclass, jclass lambda) {
    bytecode::ConstantPool pool;
    jint count = 0;
    jmethodID* methods = nullptr;
    if (lambda == nullptr || !PoolOf(lambda, &pool) ||
        g_bridge.jvmti->GetClassMethods(lambda, &count, &methods) != JVMTI_ERROR_NONE) {
        return nullptr;
    }
    // The interface's method: the one instance method that is neither the constructor nor the
    // serialisation of a serializable lambda.
    std::string target;
    for (jint i = 0; i < count && target.empty(); ++i) {
        jint modifiers = 0;
        char* name = nullptr;
        if (g_bridge.jvmti->GetMethodModifiers(methods[i], &modifiers) != JVMTI_ERROR_NONE ||
            (modifiers & bytecode::kAccStatic) ||
            g_bridge.jvmti->GetMethodName(methods[i], &name, nullptr, nullptr) != JVMTI_ERROR_NONE) {
            continue;
        }
        const std::string methodName = name;
        Release(name);
        if (methodName == "<init>" || methodName == "writeReplace") continue;
        target = CalledBy(methods[i], pool);
    }
    Release(methods);
    jstring result = target.empty() ? nullptr : env->NewStringUTF(target.c_str());
    if (env->ExceptionCheck()) env->ExceptionClear();
    return result;
}
