#include "instrument/hook_class.h"

#include "bytecode/class_file.h"

namespace {
std::vector<uint8_t> HookClassFile(const char* className, const std::vector<HookNative>& natives) {
    using namespace bytecode;
    ClassFile cls;
    cls.major = 52;
    cls.pool.entries.resize(1);
    cls.access = 0x0031;  // public final super
    cls.thisClass = cls.pool.ClassIndex(className);
    cls.superClass = cls.pool.ClassIndex("java/lang/Object");
    for (const HookNative& h : natives) {
        Member m;
        m.access = 0x0109;  // public static native
        m.name = cls.pool.Utf8Index(h.name);
        m.descriptor = cls.pool.Utf8Index(h.descriptor);
        cls.methods.push_back(m);
    }
    std::vector<uint8_t> bytes;
    WriteClassFile(cls, &bytes);
    return bytes;
}
}  // namespace

bool DefineHookClass(JNIEnv* env, const char* className, const std::vector<HookNative>& natives) {
    const std::vector<uint8_t> bytes = HookClassFile(className, natives);
    jclass hook = env->DefineClass(className, nullptr, reinterpret_cast<const jbyte*>(bytes.data()),
                                   static_cast<jsize>(bytes.size()));
    if (hook == nullptr) {
        env->ExceptionClear();
        return false;
    }
    std::vector<JNINativeMethod> methods;
    for (const HookNative& h : natives) {
        methods.push_back({const_cast<char*>(h.name.c_str()), const_cast<char*>(h.descriptor.c_str()), h.function});
    }
    const bool bound = env->RegisterNatives(hook, methods.data(), static_cast<jint>(methods.size())) == JNI_OK;
    if (!bound) env->ExceptionClear();
    env->DeleteLocalRef(hook);
    return bound;
}
