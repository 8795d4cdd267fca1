#include "trace/event_filler.h"

#include <cstddef>
#include <initializer_list>
#include <utility>

#include "core/java_fields.h"
#include "trace/call_details.h"
#include "trace/own_work.h"

extern const unsigned char kEventFillerClass[];
extern const size_t kEventFillerClassSize;

namespace {
constexpr const char* kClassName = "com/vexo/internal/EventFiller";

// The class as defined in the loader of `g_eventClass`, the method event class it was defined
// for; defined again when another event class is registered.
jclass g_eventClass = nullptr;
jclass g_class = nullptr;
jmethodID g_fill = nullptr;
constexpr const char* kFillSignature = "([Ljava/lang/Object;Lsun/misc/Unsafe;Ljava/lang/Class;Ljava/lang/Class;[B[Ljava/lang/Object;[I[I[I[J[I[J[I[I[B[J[Ljava/lang/Object;)V";
bool g_failed = false;  // for g_eventClass
KeptClass g_objectClass{"java/lang/Object"};
KeptClass g_linkageError{"java/lang/LinkageError"};
KeptClass g_unsafeClass{"sun/misc/Unsafe"};
// The filler makes events with it; null when the VM has none (delivery then makes them all).
jobject g_unsafe = nullptr;
bool g_unsafeTried = false;

// The VM's one instance (JNI reads a private field as any other), looked up once.
jobject Unsafe(JNIEnv* env) {
    if (g_unsafeTried) return g_unsafe;
    g_unsafeTried = true;
    jclass unsafeClass = g_unsafeClass.Get(env);
    const jfieldID the =
        unsafeClass == nullptr ? nullptr : env->GetStaticFieldID(unsafeClass, "theUnsafe", "Lsun/misc/Unsafe;");
    jobject unsafe = the == nullptr ? nullptr : env->GetStaticObjectField(unsafeClass, the);
    env->ExceptionClear();
    if (unsafe != nullptr) {
        g_unsafe = env->NewGlobalRef(unsafe);
        env->DeleteLocalRef(unsafe);
    }
    return g_unsafe;
}

void Forget(JNIEnv* env) {
    for (jclass* held : {&g_eventClass, &g_class}) {
        if (*held != nullptr) env->DeleteGlobalRef(*held);
        *held = nullptr;
    }
    g_fill = nullptr;
    g_failed = false;
}

// The filler failed for `g_eventClass`: not used again until another event class is registered.
void Retire(JNIEnv* env) {
    if (g_class != nullptr) env->DeleteGlobalRef(g_class);
    g_class = nullptr;
    g_fill = nullptr;
    g_failed = true;
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

bool Ready(JNIEnv* env, jclass eventClass, bool define) {
    if (g_eventClass != nullptr && !env->IsSameObject(g_eventClass, eventClass)) Forget(env);
    if (g_class != nullptr) return true;
    if (!define || g_failed || g_objectClass.Get(env) == nullptr) return false;
    g_failed = true;
    g_eventClass = static_cast<jclass>(env->NewGlobalRef(eventClass));
    jobject loader = LoaderOf(env, eventClass);
    jclass defined = env->DefineClass(kClassName, loader, reinterpret_cast<const jbyte*>(kEventFillerClass),
                                      static_cast<jsize>(kEventFillerClassSize));
    if (defined == nullptr) {  // defined there already, for an earlier event class of that loader
        env->ExceptionClear();
        defined = env->FindClass(kClassName);
    }
    if (loader != nullptr) env->DeleteLocalRef(loader);
    if (defined == nullptr) {
        env->ExceptionClear();
        return false;
    }
    g_fill = env->GetStaticMethodID(defined, "fill", kFillSignature);
    if (g_fill != nullptr) g_class = static_cast<jclass>(env->NewGlobalRef(defined));
    env->ExceptionClear();
    env->DeleteLocalRef(defined);
    g_failed = g_class == nullptr;
    return !g_failed;
}

// A primitive's bits as the filler reads them: a narrow kind's value, a float's or a
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

bool EventFillerReady(JNIEnv* env, jclass eventClass, bool define) {
    return eventClass != nullptr && Ready(env, eventClass, define);
}

bool EventFillerMakesEvents(JNIEnv* env) { return Unsafe(env) != nullptr; }

bool FillEvents(JNIEnv* env, jclass eventClass, jclass exitClass, jobjectArray events, const CommonFields& fields,
                const std::vector<BoxedValues>& groups) {
    if (!EventFillerReady(env, eventClass, true)) return false;
    // The values in one pass: a bank's values were written on other threads, so each is read once.
    std::vector<jint> places;
    std::vector<jint> counts;
    std::vector<jbyte> kinds;
    std::vector<jlong> bits;
    std::vector<std::pair<jsize, jobject>> objects;
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
            const CallValue& v = g.values[i];
            if (v.kind == 'L' && v.value.l != nullptr) objects.emplace_back(static_cast<jsize>(kinds.size()), v.value.l);
            kinds.push_back(static_cast<jbyte>(v.kind));
            bits.push_back(Bits(v));
        }
    }
    const auto boxedEvents = static_cast<jsize>(counts.size());
    const auto total = static_cast<jsize>(kinds.size());
    const auto filled = static_cast<jsize>(fields.points.size());
    const auto exits = static_cast<jsize>(fields.exits.size());
    const auto common = static_cast<jsize>(fields.common.size());
    jbyteArray madeArray = env->NewByteArray(filled);
    jobjectArray commonArray = env->NewObjectArray(common, g_objectClass.ref, nullptr);
    jintArray pointArray = env->NewIntArray(filled);
    jintArray threadArray = env->NewIntArray(filled);
    jintArray subjectArray = env->NewIntArray(filled);
    jlongArray timeArray = env->NewLongArray(filled);
    jintArray exitArray = env->NewIntArray(exits);
    jlongArray durationArray = env->NewLongArray(exits);
    jintArray placeArray = env->NewIntArray(boxedEvents);
    jintArray countArray = env->NewIntArray(boxedEvents);
    jbyteArray kindArray = env->NewByteArray(total);
    jlongArray bitArray = env->NewLongArray(total);
    jobjectArray refArray = env->NewObjectArray(total, g_objectClass.ref, nullptr);
    const jobject arrays[] = {madeArray, commonArray, pointArray, threadArray, subjectArray, timeArray, exitArray,
                              durationArray, placeArray, countArray, kindArray, bitArray, refArray};
    bool made = true;
    for (jobject array : arrays) made = made && array != nullptr;
    bool filledAll = false;
    if (made) {
        env->SetByteArrayRegion(madeArray, 0, filled, fields.made.data());
        for (jsize i = 0; i < common; ++i) env->SetObjectArrayElement(commonArray, i, fields.common[i]);
        env->SetIntArrayRegion(pointArray, 0, filled, fields.points.data());
        env->SetIntArrayRegion(threadArray, 0, filled, fields.threads.data());
        env->SetIntArrayRegion(subjectArray, 0, filled, fields.subjects.data());
        env->SetLongArrayRegion(timeArray, 0, filled, fields.times.data());
        env->SetIntArrayRegion(exitArray, 0, exits, fields.exits.data());
        env->SetLongArrayRegion(durationArray, 0, exits, fields.durations.data());
        env->SetIntArrayRegion(placeArray, 0, boxedEvents, places.data());
        env->SetIntArrayRegion(countArray, 0, boxedEvents, counts.data());
        env->SetByteArrayRegion(kindArray, 0, total, kinds.data());
        env->SetLongArrayRegion(bitArray, 0, total, bits.data());
        for (const auto& object : objects) env->SetObjectArrayElement(refArray, object.first, object.second);
        BeginOwnWork();
        env->CallStaticVoidMethod(g_class, g_fill, events, g_unsafe, eventClass, exitClass, madeArray,
                                  commonArray, pointArray, threadArray, subjectArray, timeArray, exitArray, durationArray,
                                  placeArray, countArray, kindArray, bitArray, refArray);
        EndOwnWork();
        jthrowable failure = env->ExceptionOccurred();
        filledAll = failure == nullptr;
        if (failure != nullptr) {
            env->ExceptionClear();
            // A Java side whose event classes lack a field the filler stores fails to link it every
            // time: delivery stores them itself from now on. Another failure (memory) may pass.
            jclass linkage = g_linkageError.Get(env);
            if (linkage != nullptr && env->IsInstanceOf(failure, linkage)) Retire(env);
            env->DeleteLocalRef(failure);
        }
    }
    env->ExceptionClear();
    for (jobject array : arrays) {
        if (array != nullptr) env->DeleteLocalRef(array);
    }
    return filledAll;
}
