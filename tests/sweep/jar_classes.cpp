#include "tests/sweep/jar_classes.h"

namespace {
std::string Utf(JNIEnv* env, jstring s) {
    if (s == nullptr) return std::string();
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string copy = chars != nullptr ? chars : "";
    if (chars != nullptr) env->ReleaseStringUTFChars(s, chars);
    return copy;
}

bool EndsWith(const std::string& s, const char* tail) {
    const std::string t = tail;
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

bool Wanted(const std::string& entry) {
    return EndsWith(entry, ".class") && !EndsWith(entry, "module-info.class") &&
           entry.rfind("META-INF/versions/", 0) != 0;
}
}  // namespace

std::string TakeExceptionMessage(JNIEnv* env, const char* fallback) {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) return fallback;
    env->ExceptionClear();
    jclass throwable = env->FindClass("java/lang/Throwable");
    jstring text = static_cast<jstring>(
        env->CallObjectMethod(thrown, env->GetMethodID(throwable, "toString", "()Ljava/lang/String;")));
    std::string message = env->ExceptionCheck() ? fallback : Utf(env, text);
    env->ExceptionClear();
    env->DeleteLocalRef(text);
    env->DeleteLocalRef(throwable);
    env->DeleteLocalRef(thrown);
    return message;
}

bool ReadJarClasses(JNIEnv* env, const std::string& path, std::vector<JarClass>* out,
                    std::string* error) {
    out->clear();
    if (env->PushLocalFrame(32) != JNI_OK) return false;
    jclass zipClass = env->FindClass("java/util/zip/ZipFile");
    jclass entryClass = env->FindClass("java/util/zip/ZipEntry");
    jclass enumClass = env->FindClass("java/util/Enumeration");
    jclass streamClass = env->FindClass("java/io/InputStream");
    const jmethodID open = env->GetMethodID(zipClass, "<init>", "(Ljava/lang/String;)V");
    const jmethodID entries = env->GetMethodID(zipClass, "entries", "()Ljava/util/Enumeration;");
    const jmethodID inputStream = env->GetMethodID(
        zipClass, "getInputStream", "(Ljava/util/zip/ZipEntry;)Ljava/io/InputStream;");
    const jmethodID close = env->GetMethodID(zipClass, "close", "()V");
    const jmethodID getName = env->GetMethodID(entryClass, "getName", "()Ljava/lang/String;");
    const jmethodID hasMore = env->GetMethodID(enumClass, "hasMoreElements", "()Z");
    const jmethodID next = env->GetMethodID(enumClass, "nextElement", "()Ljava/lang/Object;");
    const jmethodID readAll = env->GetMethodID(streamClass, "readAllBytes", "()[B");
    const jmethodID closeStream = env->GetMethodID(streamClass, "close", "()V");

    jobject zip = env->NewObject(zipClass, open, env->NewStringUTF(path.c_str()));
    if (zip == nullptr) {
        *error = TakeExceptionMessage(env, "cannot open the jar");
        env->PopLocalFrame(nullptr);
        return false;
    }
    jobject all = env->CallObjectMethod(zip, entries);
    bool ok = !env->ExceptionCheck();
    while (ok) {
        const bool more = env->CallBooleanMethod(all, hasMore);
        if (env->ExceptionCheck() || !more) break;
        if (env->PushLocalFrame(8) != JNI_OK) { ok = false; break; }
        jobject entry = env->CallObjectMethod(all, next);
        jstring jname = env->ExceptionCheck() ? nullptr : static_cast<jstring>(env->CallObjectMethod(entry, getName));
        const std::string name = env->ExceptionCheck() ? std::string() : Utf(env, jname);
        if (!env->ExceptionCheck() && Wanted(name)) {
            jobject in = env->CallObjectMethod(zip, inputStream, entry);
            jbyteArray array = nullptr;
            if (!env->ExceptionCheck()) array = static_cast<jbyteArray>(env->CallObjectMethod(in, readAll));
            if (!env->ExceptionCheck()) {
                JarClass c{name, std::vector<uint8_t>(static_cast<size_t>(env->GetArrayLength(array)))};
                env->GetByteArrayRegion(array, 0, static_cast<jsize>(c.bytes.size()),
                                        reinterpret_cast<jbyte*>(c.bytes.data()));
                out->push_back(std::move(c));
                env->CallVoidMethod(in, closeStream);
            }
        }
        if (env->ExceptionCheck()) {
            *error = TakeExceptionMessage(env, "cannot read an entry") + " at " + name;
            ok = false;
        }
        env->PopLocalFrame(nullptr);
    }
    if (env->ExceptionCheck()) {
        *error = TakeExceptionMessage(env, "cannot list the entries");
        ok = false;
    }
    env->CallVoidMethod(zip, close);
    env->ExceptionClear();
    env->PopLocalFrame(nullptr);
    return ok;
}
