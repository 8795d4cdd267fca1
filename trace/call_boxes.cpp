#include "trace/call_boxes.h"

#include <cstddef>
#include <initializer_list>

#include "agent/java_fields.h"
#include "trace/call_details.h"
#include "trace/own_work.h"

extern const unsigned char kCallBoxesClass[];
extern const size_t kCallBoxesClassSize;

namespace {
constexpr const char* kClassName = "com/vexo/internal/CallBoxes";

// The class as defined in the loader of `g_eventClass`, the method event class it was defined
// for; defined again when another event class is registered.
jclass g_eventClass = nullptr;
jclass g_class = nullptr;
jmethodID g_attach = nullptr;
bool g_failed = false;  // for g_eventClass
KeptClass g_objectClass{"java/lang/Object"};

void Forget(JNIEnv* env) {
    for (jclass* held : {&g_eventClass, &g_class}) {
        if (*held != nullptr) env->DeleteGlobalRef(*held);
        *held = nullptr;
    }
    g_attach = nullptr;
    g_failed = false;
}

// The loader of `clazz`, a local reference; null for the boot loader or on failure.
jobject LoaderOf(JNIEnv* env, jclass clazz) {
    jclass classClass = env->GetObjectClass(clazz);
    const jmethodID getLoader = env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;");
    jobject loader = getLoader == nullptr ? nullptr : env->CallObjectMethod(clazz, getLoader);
    env->DeleteLocalRef(classClass);
    env->ExceptionClear();
    return loader;
}

bool Ready(JNIEnv* env, jclass eventClass) {
    if (g_eventClass != nullptr && !env->IsSameObject(g_eventClass, eventClass)) Forget(env);
    if (g_class != nullptr) return true;
    if (g_failed || g_objectClass.Get(env) == nullptr) return false;
    g_failed = true;
    g_eventClass = static_cast<jclass>(env->NewGlobalRef(eventClass));
    jobject loader = LoaderOf(env, eventClass);
    jclass defined = env->DefineClass(kClassName, loader, reinterpret_cast<const jbyte*>(kCallBoxesClass),
                                      static_cast<jsize>(kCallBoxesClassSize));
    if (defined == nullptr) {  // defined there already, for an earlier event class of that loader
        env->ExceptionClear();
        defined = env->FindClass(kClassName);
    }
    if (loader != nullptr) env->DeleteLocalRef(loader);
    if (defined == nullptr) {
        env->ExceptionClear();
        return false;
    }
    g_attach = env->GetStaticMethodID(defined, "attach", "([Ljava/lang/Object;[I[I[B[J[Ljava/lang/Object;)V");
    if (g_attach != nullptr) g_class = static_cast<jclass>(env->NewGlobalRef(defined));
    env->ExceptionClear();
    env->DeleteLocalRef(defined);
    g_failed = g_class == nullptr;
    return !g_failed;
}

// A primitive's bits as the boxing class reads them: a narrow kind's value, a float's or a
// double's raw bits.
jlong Bits(const CallValue& v) {
    switch (v.kind) {
        case 'Z': return v.value.z;
        case 'B': return v.value.b;
        case 'C': return v.value.c;
        case 'S': return v.value.s;
        case 'I': case 'F': return v.value.i;  // F: its bits, which share the int's place
        case 'J': case 'D': return v.value.j;
        default: return 0;
    }
}
// The values a group holds: its arguments, or an exit's one return value.
int32_t ValueCount(const BoxedValues& g) { return g.count < 0 ? 1 : g.count; }
}  // namespace

bool AttachBoxedValues(JNIEnv* env, jclass eventClass, jobjectArray events, const std::vector<BoxedValues>& groups) {
    if (eventClass == nullptr || !Ready(env, eventClass)) return false;
    std::vector<jint> places;
    std::vector<jint> counts;
    std::vector<jbyte> kinds;
    std::vector<jlong> bits;
    size_t values = 0;
    for (const BoxedValues& g : groups) values += static_cast<size_t>(ValueCount(g));
    places.reserve(groups.size());
    counts.reserve(groups.size());
    kinds.reserve(values);
    bits.reserve(values);
    for (const BoxedValues& g : groups) {
        places.push_back(g.place);
        counts.push_back(g.count);
        for (int32_t i = 0; i < ValueCount(g); ++i) {
            kinds.push_back(static_cast<jbyte>(g.values[i].kind));
            bits.push_back(Bits(g.values[i]));
        }
    }
    const auto boxedEvents = static_cast<jsize>(counts.size());
    const auto total = static_cast<jsize>(kinds.size());
    jintArray placeArray = env->NewIntArray(boxedEvents);
    jintArray countArray = env->NewIntArray(boxedEvents);
    jbyteArray kindArray = env->NewByteArray(total);
    jlongArray bitArray = env->NewLongArray(total);
    jobjectArray refArray = env->NewObjectArray(total, g_objectClass.ref, nullptr);
    bool attached = false;
    if (placeArray != nullptr && countArray != nullptr && kindArray != nullptr && bitArray != nullptr &&
        refArray != nullptr) {
        env->SetIntArrayRegion(placeArray, 0, boxedEvents, places.data());
        env->SetIntArrayRegion(countArray, 0, boxedEvents, counts.data());
        env->SetByteArrayRegion(kindArray, 0, total, kinds.data());
        env->SetLongArrayRegion(bitArray, 0, total, bits.data());
        jsize at = 0;
        for (const BoxedValues& g : groups) {
            for (int32_t i = 0; i < ValueCount(g); ++i, ++at) {
                const CallValue& v = g.values[i];
                if (v.kind == 'L' && v.value.l != nullptr) env->SetObjectArrayElement(refArray, at, v.value.l);
            }
        }
        BeginOwnWork();
        env->CallStaticVoidMethod(g_class, g_attach, events, placeArray, countArray, kindArray, bitArray, refArray);
        EndOwnWork();
        attached = !env->ExceptionCheck();
    }
    env->ExceptionClear();
    for (jobject array : {static_cast<jobject>(placeArray), static_cast<jobject>(countArray),
                          static_cast<jobject>(kindArray), static_cast<jobject>(bitArray),
                          static_cast<jobject>(refArray)}) {
        if (array != nullptr) env->DeleteLocalRef(array);
    }
    return attached;
}
