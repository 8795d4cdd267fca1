#include "tests/harness/java_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/harness/class_files.h"
#include "tests/harness/test_jvm.h"

namespace jvm {
namespace {
Ref Kept(JNIEnv* env, jobject local) {
    return local == nullptr ? nullptr : reinterpret_cast<Ref>(env->NewGlobalRef(local));
}

jobject J(Ref ref) { return reinterpret_cast<jobject>(ref); }
jclass JClass(Ref ref) { return static_cast<jclass>(J(ref)); }

// The calling thread's environment, with room for the locals of one call; every function pops
// the frame before it returns.
JNIEnv* Enter() {
    JNIEnv* env = TestEnv();
    if (env->PushLocalFrame(16) != JNI_OK) std::abort();
    return env;
}

void Describe(JNIEnv* env) {
    if (!env->ExceptionCheck()) return;
    env->ExceptionDescribe();
    env->ExceptionClear();
}

jvalue ToJava(const Value& v) {
    jvalue j;
    j.j = 0;
    switch (v.kind) {
        case 'Z': j.z = v.integer != 0 ? JNI_TRUE : JNI_FALSE; break;
        case 'B': j.b = static_cast<jbyte>(v.integer); break;
        case 'C': j.c = static_cast<jchar>(v.integer); break;
        case 'S': j.s = static_cast<jshort>(v.integer); break;
        case 'I': j.i = static_cast<jint>(v.integer); break;
        case 'J': j.j = v.integer; break;
        case 'F': j.f = static_cast<jfloat>(v.real); break;
        case 'D': j.d = v.real; break;
        case 'L': j.l = J(v.ref); break;
        default: break;
    }
    return j;
}

std::vector<jvalue> ToJava(const std::vector<Value>& args) {
    std::vector<jvalue> out;
    for (const Value& v : args) out.push_back(ToJava(v));
    return out;
}

// The kind of a value of the type `descriptor` begins with ('L' for arrays too).
char KindOf(const char* descriptor) { return *descriptor == '[' ? 'L' : *descriptor; }

// The exception the last call threw, taken; null when none.
Ref Thrown(JNIEnv* env) {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) return nullptr;
    env->ExceptionClear();
    return Kept(env, thrown);
}

jmethodID MethodOf(JNIEnv* env, jclass clazz, const char* name, const char* descriptor, bool isStatic) {
    jmethodID m = isStatic ? env->GetStaticMethodID(clazz, name, descriptor) : env->GetMethodID(clazz, name, descriptor);
    if (m == nullptr) {
        Describe(env);
        ADD_FAILURE() << "no method " << name << descriptor;
    }
    return m;
}

jfieldID FieldOf(JNIEnv* env, jclass clazz, const char* name, const char* descriptor, bool isStatic) {
    jfieldID f = isStatic ? env->GetStaticFieldID(clazz, name, descriptor) : env->GetFieldID(clazz, name, descriptor);
    if (f == nullptr) {
        Describe(env);
        ADD_FAILURE() << "no field " << name << " " << descriptor;
    }
    return f;
}

// Calls `m` on `self`, or on `clazz` when `self` is null, and returns what it returned as the
// method's descriptor says.
Outcome Invoke(JNIEnv* env, jclass clazz, jobject self, jmethodID m, const char* descriptor,
               const std::vector<Value>& args) {
    const std::vector<jvalue> a = ToJava(args);
    const jvalue* values = a.empty() ? nullptr : a.data();
    Value r;
    r.kind = KindOf(std::strchr(descriptor, ')') + 1);
#define VEXO_CALL(Type) \
    (self != nullptr ? env->Call##Type##MethodA(self, m, values) : env->CallStatic##Type##MethodA(clazz, m, values))
    switch (r.kind) {
        case 'Z': r.integer = VEXO_CALL(Boolean) ? 1 : 0; break;
        case 'B': r.integer = VEXO_CALL(Byte); break;
        case 'C': r.integer = VEXO_CALL(Char); break;
        case 'S': r.integer = VEXO_CALL(Short); break;
        case 'I': r.integer = VEXO_CALL(Int); break;
        case 'J': r.integer = VEXO_CALL(Long); break;
        case 'F': r.real = VEXO_CALL(Float); break;
        case 'D': r.real = VEXO_CALL(Double); break;
        case 'V': VEXO_CALL(Void); break;
        default: r.ref = Kept(env, VEXO_CALL(Object)); break;
    }
#undef VEXO_CALL
    Outcome out;
    out.thrown = Thrown(env);
    if (out.thrown == nullptr) out.value = r;
    return out;
}

Value Read(JNIEnv* env, jobject object, jclass clazz, jfieldID f, const char* descriptor) {
    Value v;
    v.kind = KindOf(descriptor);
#define VEXO_GET(Type) (object != nullptr ? env->Get##Type##Field(object, f) : env->GetStatic##Type##Field(clazz, f))
    switch (v.kind) {
        case 'Z': v.integer = VEXO_GET(Boolean) ? 1 : 0; break;
        case 'B': v.integer = VEXO_GET(Byte); break;
        case 'C': v.integer = VEXO_GET(Char); break;
        case 'S': v.integer = VEXO_GET(Short); break;
        case 'I': v.integer = VEXO_GET(Int); break;
        case 'J': v.integer = VEXO_GET(Long); break;
        case 'F': v.real = VEXO_GET(Float); break;
        case 'D': v.real = VEXO_GET(Double); break;
        default: v.ref = Kept(env, VEXO_GET(Object)); break;
    }
#undef VEXO_GET
    return v;
}

std::string Utf(JNIEnv* env, jstring s) {
    if (s == nullptr) return "";
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string out = chars;
    env->ReleaseStringUTFChars(s, chars);
    return out;
}
}  // namespace

Value Boolean(bool z) { Value v; v.kind = 'Z'; v.integer = z ? 1 : 0; return v; }
Value Byte(int8_t b) { Value v; v.kind = 'B'; v.integer = b; return v; }
Value Char(uint16_t c) { Value v; v.kind = 'C'; v.integer = c; return v; }
Value Short(int16_t s) { Value v; v.kind = 'S'; v.integer = s; return v; }
Value Int(int32_t i) { Value v; v.kind = 'I'; v.integer = i; return v; }
Value Long(int64_t j) { Value v; v.kind = 'J'; v.integer = j; return v; }
Value Float(float f) { Value v; v.kind = 'F'; v.real = f; return v; }
Value Double(double d) { Value v; v.kind = 'D'; v.real = d; return v; }
Value Reference(Ref l) { Value v; v.kind = 'L'; v.ref = l; return v; }

std::vector<uint8_t> ClassBytes(const char* resource) { return ClassBytes(TestEnv(), resource); }

Ref FindClass(const char* name) {
    JNIEnv* env = Enter();
    jclass c = env->FindClass(name);
    if (c == nullptr) {
        Describe(env);
        ADD_FAILURE() << "no class " << name;
    }
    const Ref out = Kept(env, c);
    env->PopLocalFrame(nullptr);
    return out;
}

Ref DefineInFreshLoader(const char* name, const std::vector<uint8_t>& bytes) {
    JNIEnv* env = Enter();
    jclass loaderClass = env->FindClass("java/net/URLClassLoader");
    jmethodID make = env->GetMethodID(loaderClass, "<init>", "([Ljava/net/URL;)V");
    jobject loader = env->NewObject(loaderClass, make, env->NewObjectArray(0, env->FindClass("java/net/URL"), nullptr));
    jclass c = env->DefineClass(name, loader, reinterpret_cast<const jbyte*>(bytes.data()),
                                static_cast<jsize>(bytes.size()));
    Ref out = nullptr;
    if (c == nullptr || env->ExceptionCheck()) {
        Describe(env);
    } else {
        out = Kept(env, c);
    }
    env->PopLocalFrame(nullptr);
    return out;
}

bool HasMethod(Ref clazz, const char* name, const char* descriptor) {
    JNIEnv* env = Enter();
    const bool has = env->GetMethodID(JClass(clazz), name, descriptor) != nullptr && !env->ExceptionCheck();
    Describe(env);
    env->PopLocalFrame(nullptr);
    return has;
}

Outcome New(Ref clazz, const char* descriptor, const std::vector<Value>& args) {
    JNIEnv* env = Enter();
    Outcome out;
    const jmethodID m = MethodOf(env, JClass(clazz), "<init>", descriptor, false);
    if (m != nullptr) {
        const std::vector<jvalue> a = ToJava(args);
        jobject made = env->NewObjectA(JClass(clazz), m, a.empty() ? nullptr : a.data());
        out.thrown = Thrown(env);
        if (out.thrown == nullptr) out.value = Reference(Kept(env, made));
    }
    env->PopLocalFrame(nullptr);
    return out;
}

Outcome Call(Ref self, const char* name, const char* descriptor, const std::vector<Value>& args) {
    JNIEnv* env = Enter();
    Outcome out;
    jclass clazz = env->GetObjectClass(J(self));
    const jmethodID m = MethodOf(env, clazz, name, descriptor, false);
    if (m != nullptr) out = Invoke(env, clazz, J(self), m, descriptor, args);
    env->PopLocalFrame(nullptr);
    return out;
}

Outcome CallStatic(Ref clazz, const char* name, const char* descriptor, const std::vector<Value>& args) {
    JNIEnv* env = Enter();
    Outcome out;
    const jmethodID m = MethodOf(env, JClass(clazz), name, descriptor, true);
    if (m != nullptr) out = Invoke(env, JClass(clazz), nullptr, m, descriptor, args);
    env->PopLocalFrame(nullptr);
    return out;
}

Value Field(Ref object, const char* name, const char* descriptor) {
    JNIEnv* env = Enter();
    Value v;
    const jfieldID f = FieldOf(env, env->GetObjectClass(J(object)), name, descriptor, false);
    if (f != nullptr) v = Read(env, J(object), nullptr, f, descriptor);
    env->PopLocalFrame(nullptr);
    return v;
}

void SetField(Ref object, const char* name, const char* descriptor, Value value) {
    JNIEnv* env = Enter();
    const jfieldID f = FieldOf(env, env->GetObjectClass(J(object)), name, descriptor, false);
    const jvalue j = ToJava(value);
    switch (f == nullptr ? 'V' : KindOf(descriptor)) {
        case 'Z': env->SetBooleanField(J(object), f, j.z); break;
        case 'B': env->SetByteField(J(object), f, j.b); break;
        case 'C': env->SetCharField(J(object), f, j.c); break;
        case 'S': env->SetShortField(J(object), f, j.s); break;
        case 'I': env->SetIntField(J(object), f, j.i); break;
        case 'J': env->SetLongField(J(object), f, j.j); break;
        case 'F': env->SetFloatField(J(object), f, j.f); break;
        case 'D': env->SetDoubleField(J(object), f, j.d); break;
        case 'L': env->SetObjectField(J(object), f, j.l); break;
        default: break;
    }
    env->PopLocalFrame(nullptr);
}

Value StaticField(Ref clazz, const char* name, const char* descriptor) {
    JNIEnv* env = Enter();
    Value v;
    const jfieldID f = FieldOf(env, JClass(clazz), name, descriptor, true);
    if (f != nullptr) v = Read(env, nullptr, JClass(clazz), f, descriptor);
    env->PopLocalFrame(nullptr);
    return v;
}

Ref String(const std::string& text) {
    JNIEnv* env = Enter();
    const Ref out = Kept(env, env->NewStringUTF(text.c_str()));
    env->PopLocalFrame(nullptr);
    return out;
}

Ref IntArray(size_t length) {
    JNIEnv* env = Enter();
    const Ref out = Kept(env, env->NewIntArray(static_cast<jsize>(length)));
    env->PopLocalFrame(nullptr);
    return out;
}

std::vector<int32_t> Ints(Ref intArray) {
    JNIEnv* env = Enter();
    auto array = static_cast<jintArray>(J(intArray));
    std::vector<int32_t> out(array == nullptr ? 0 : static_cast<size_t>(env->GetArrayLength(array)));
    if (!out.empty()) env->GetIntArrayRegion(array, 0, static_cast<jsize>(out.size()), reinterpret_cast<jint*>(out.data()));
    env->PopLocalFrame(nullptr);
    return out;
}

std::string Text(Ref o) {
    JNIEnv* env = Enter();
    jclass string = env->FindClass("java/lang/String");
    jmethodID valueOf = env->GetStaticMethodID(string, "valueOf", "(Ljava/lang/Object;)Ljava/lang/String;");
    auto text = static_cast<jstring>(env->CallStaticObjectMethod(string, valueOf, J(o)));
    std::string out;
    if (env->ExceptionCheck()) {
        Describe(env);
        ADD_FAILURE() << "String.valueOf threw";
    } else {
        out = Utf(env, text);
    }
    env->PopLocalFrame(nullptr);
    return out;
}

std::string ClassName(Ref o) {
    if (o == nullptr) return "";
    JNIEnv* env = Enter();
    jclass c = env->GetObjectClass(J(o));
    auto name = static_cast<jstring>(
        env->CallObjectMethod(c, env->GetMethodID(env->FindClass("java/lang/Class"), "getName", "()Ljava/lang/String;")));
    std::string out;
    if (env->ExceptionCheck()) {
        Describe(env);
    } else {
        out = Utf(env, name);
    }
    env->PopLocalFrame(nullptr);
    return out;
}

bool Same(Ref a, Ref b) { return TestEnv()->IsSameObject(J(a), J(b)); }

bool IsInstance(Ref o, const char* name) {
    if (o == nullptr) return false;
    JNIEnv* env = Enter();
    jclass c = env->FindClass(name);
    const bool is = c != nullptr && env->IsInstanceOf(J(o), c);
    Describe(env);
    env->PopLocalFrame(nullptr);
    return is;
}

}  // namespace jvm
