#include "tests/sweep/link_check.h"

#include "tests/sweep/jar_classes.h"

namespace {
LinkOutcome Classify(JNIEnv* env, jthrowable thrown) {
    struct Kind { const char* name; LinkOutcome outcome; };
    static const Kind kinds[] = {{"java/lang/VerifyError", LinkOutcome::kVerifyError},
                                 {"java/lang/ClassFormatError", LinkOutcome::kFormatError},
                                 {"java/lang/NoClassDefFoundError", LinkOutcome::kMissingClass}};
    for (const Kind& k : kinds) {
        jclass c = env->FindClass(k.name);
        const bool is = env->IsInstanceOf(thrown, c);
        env->DeleteLocalRef(c);
        if (is) return k.outcome;
    }
    return LinkOutcome::kOtherError;
}

// Turns the pending exception into a result.
LinkResult Failure(JNIEnv* env) {
    LinkResult result;
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) {
        result.outcome = LinkOutcome::kOtherError;
        result.message = "no exception, yet not linked";
        return result;
    }
    env->ExceptionClear();
    result.outcome = Classify(env, thrown);
    env->Throw(thrown);
    result.message = TakeExceptionMessage(env, "?");
    env->DeleteLocalRef(thrown);
    return result;
}
}  // namespace

const char* LinkOutcomeName(LinkOutcome outcome) {
    switch (outcome) {
        case LinkOutcome::kLinked: return "linked";
        case LinkOutcome::kVerifyError: return "VerifyError";
        case LinkOutcome::kFormatError: return "ClassFormatError";
        case LinkOutcome::kMissingClass: return "NoClassDefFoundError";
        case LinkOutcome::kOtherError: return "other error";
    }
    return "?";
}

JarLoader::JarLoader(JNIEnv* env, const std::vector<std::string>& jars) : env_(env) {
    if (env->PushLocalFrame(16 + static_cast<jint>(jars.size()) * 4) != JNI_OK) return;
    jclass fileClass = env->FindClass("java/io/File");
    jclass uriClass = env->FindClass("java/net/URI");
    jclass urlClass = env->FindClass("java/net/URL");
    jclass loaderClass = env->FindClass("java/net/URLClassLoader");
    const jmethodID newFile = env->GetMethodID(fileClass, "<init>", "(Ljava/lang/String;)V");
    const jmethodID toUri = env->GetMethodID(fileClass, "toURI", "()Ljava/net/URI;");
    const jmethodID toUrl = env->GetMethodID(uriClass, "toURL", "()Ljava/net/URL;");
    const jmethodID newLoader = env->GetMethodID(loaderClass, "<init>", "([Ljava/net/URL;)V");
    jobjectArray urls = env->NewObjectArray(static_cast<jsize>(jars.size()), urlClass, nullptr);
    for (size_t i = 0; i < jars.size() && !env->ExceptionCheck(); ++i) {
        jobject file = env->NewObject(fileClass, newFile, env->NewStringUTF(jars[i].c_str()));
        jobject uri = env->CallObjectMethod(file, toUri);
        jobject url = env->ExceptionCheck() ? nullptr : env->CallObjectMethod(uri, toUrl);
        if (!env->ExceptionCheck()) env->SetObjectArrayElement(urls, static_cast<jsize>(i), url);
    }
    jobject loader = env->ExceptionCheck() ? nullptr : env->NewObject(loaderClass, newLoader, urls);
    if (loader != nullptr) loader_ = env->NewGlobalRef(loader);
    env->ExceptionClear();
    env->PopLocalFrame(nullptr);
}

JarLoader::~JarLoader() {
    if (loader_ == nullptr) return;
    // Closing lets the jar files go with the loader; its classes go when nothing holds them.
    jclass loaderClass = env_->GetObjectClass(loader_);
    env_->CallVoidMethod(loader_, env_->GetMethodID(loaderClass, "close", "()V"));
    env_->ExceptionClear();
    env_->DeleteLocalRef(loaderClass);
    env_->DeleteGlobalRef(loader_);
}

jclass JarLoader::Define(const std::string& name, const std::vector<uint8_t>& bytes,
                         LinkResult* failure) {
    jclass local = env_->DefineClass(name.c_str(), loader_, reinterpret_cast<const jbyte*>(bytes.data()),
                                     static_cast<jsize>(bytes.size()));
    if (local == nullptr) {
        *failure = Failure(env_);
        return nullptr;
    }
    auto global = static_cast<jclass>(env_->NewGlobalRef(local));
    env_->DeleteLocalRef(local);
    return global;
}

jclass JarLoader::Find(const char* name) {
    jclass classClass = env_->FindClass("java/lang/Class");
    const jmethodID forName = env_->GetStaticMethodID(
        classClass, "forName", "(Ljava/lang/String;ZLjava/lang/ClassLoader;)Ljava/lang/Class;");
    jstring text = env_->NewStringUTF(name);
    auto local = static_cast<jclass>(env_->CallStaticObjectMethod(classClass, forName, text, JNI_FALSE, loader_));
    env_->ExceptionClear();
    jclass global = local != nullptr ? static_cast<jclass>(env_->NewGlobalRef(local)) : nullptr;
    env_->DeleteLocalRef(local);
    env_->DeleteLocalRef(text);
    env_->DeleteLocalRef(classClass);
    return global;
}

LinkResult Link(JNIEnv* env, jvmtiEnv* jvmti, jclass clazz) {
    static jmethodID fields = nullptr;
    if (fields == nullptr) {
        jclass classClass = env->FindClass("java/lang/Class");
        // Private, reachable through JNI: links the class, then reflects its public fields only.
        fields = env->GetMethodID(classClass, "getDeclaredFields0", "(Z)[Ljava/lang/reflect/Field;");
        env->DeleteLocalRef(classClass);
    }
    jobject reflected = env->CallObjectMethod(clazz, fields, JNI_TRUE);
    LinkResult result;
    if (env->ExceptionCheck()) result = Failure(env);
    env->DeleteLocalRef(reflected);
    jint status = 0;
    if (jvmti->GetClassStatus(clazz, &status) != JVMTI_ERROR_NONE) {
        result.outcome = LinkOutcome::kOtherError;
        result.message = "no class status";
        return result;
    }
    if ((status & JVMTI_CLASS_STATUS_VERIFIED) != 0) {
        result.outcome = LinkOutcome::kLinked;  // whatever the reflection threw afterwards
        result.message.clear();
    } else if (result.outcome == LinkOutcome::kLinked) {
        result.outcome = LinkOutcome::kOtherError;
        result.message = "not linked, and nothing thrown";
    }
    result.initialised = (status & JVMTI_CLASS_STATUS_INITIALIZED) != 0;
    return result;
}

LinkResult DefineAndLink(JNIEnv* env, jvmtiEnv* jvmti, const std::vector<std::string>& jars,
                         const std::string& name, const std::vector<uint8_t>& bytes) {
    JarLoader loader(env, jars);
    LinkResult result;
    if (!loader.ok()) {
        result.outcome = LinkOutcome::kOtherError;
        result.message = "no class loader over the jars";
        return result;
    }
    jclass clazz = loader.Define(name, bytes, &result);
    if (clazz == nullptr) return result;
    result = Link(env, jvmti, clazz);
    env->DeleteGlobalRef(clazz);
    return result;
}
