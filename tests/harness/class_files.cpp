#include "tests/harness/class_files.h"

std::vector<uint8_t> ClassBytes(JNIEnv* env, const char* resource) {
    std::vector<uint8_t> bytes;
    if (env->PushLocalFrame(16) != JNI_OK) return bytes;
    jclass loaderClass = env->FindClass("java/lang/ClassLoader");
    jmethodID get = env->GetStaticMethodID(loaderClass, "getSystemResourceAsStream",
                                           "(Ljava/lang/String;)Ljava/io/InputStream;");
    jobject in = env->CallStaticObjectMethod(loaderClass, get, env->NewStringUTF(resource));
    jbyteArray array = nullptr;
    if (in != nullptr && !env->ExceptionCheck()) {
        jmethodID readAll = env->GetMethodID(env->FindClass("java/io/InputStream"), "readAllBytes", "()[B");
        array = static_cast<jbyteArray>(env->CallObjectMethod(in, readAll));
    }
    if (array != nullptr && !env->ExceptionCheck()) {
        bytes.resize(static_cast<size_t>(env->GetArrayLength(array)));
        env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(bytes.data()));
    }
    env->ExceptionClear();
    env->PopLocalFrame(nullptr);
    return bytes;
}

jclass DefineInFreshLoader(JNIEnv* env, const char* name, const std::vector<uint8_t>& bytes) {
    jclass loaderClass = env->FindClass("java/net/URLClassLoader");
    jmethodID make = env->GetMethodID(loaderClass, "<init>", "([Ljava/net/URL;)V");
    jobject loader = env->NewObject(loaderClass, make, env->NewObjectArray(0, env->FindClass("java/net/URL"), nullptr));
    jclass c = env->DefineClass(name, loader, reinterpret_cast<const jbyte*>(bytes.data()),
                                static_cast<jsize>(bytes.size()));
    if (c == nullptr || env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
        return nullptr;
    }
    return c;
}
