// The hook classes rewritten code calls: public final classes of public static native methods,
// defined at run time in the boot loader (so code of every loader sees them) and bound to the
// bridge's functions.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

struct HookNative {
    std::string name;
    std::string descriptor;
    void* function;
};

// Defines `className` (an internal name) with `natives` and binds them. False when either
// failed (the class may then exist unbound; its callers are never rewritten).
bool DefineHookClass(JNIEnv* env, const char* className, const std::vector<HookNative>& natives);

// A hook behind a gate: a static method `name` (Ljava/lang/Object;I)V in Java, which calls the
// native `nativeName` of the same descriptor unless the class's static volatile boolean
// `closed` is set and its int argument differs from the static volatile int `passId`, or unless
// the static volatile Class[] `owners` holds, at the int argument, a class its (non-null) object
// argument is not an instance of. Compiled into its caller, a closed gate or a refused object
// costs a load or two and a branch where the native call costs a transition out of Java and back.
constexpr const char* kGateClosedField = "closed";
constexpr const char* kGatePassField = "passId";
constexpr const char* kGateOwnersField = "owners";
constexpr const char* kGateOwnersDescriptor = "[Ljava/lang/Class;";
constexpr const char* kGatedDescriptor = "(Ljava/lang/Object;I)V";
struct GatedHook {
    std::string name;
    std::string nativeName;  // one of the class's natives, of the same descriptor
};

// As DefineHookClass, with the gated hooks and the gate's two fields too.
bool DefineGatedHookClass(JNIEnv* env, const char* className, const std::vector<HookNative>& natives,
                          const std::vector<GatedHook>& gated);

// Whether a hook class is there: not tried yet, defined, or refused (and never tried again).
enum class HookClassState { kNotTried, kDefined, kRefused };

// Defines `className` with the natives `natives()` lists on the first call for `state`; later
// calls answer as the first did.
template <typename Natives>
bool DefineHookClassOnce(HookClassState* state, JNIEnv* env, const char* className, Natives natives) {
    if (*state == HookClassState::kNotTried) {
        *state = DefineHookClass(env, className, natives()) ? HookClassState::kDefined : HookClassState::kRefused;
    }
    return *state == HookClassState::kDefined;
}

// A value a hook receives, as a jvalue with the bytes beyond its width zero.
template <typename T>
jvalue HookValue(T value);
template <> inline jvalue HookValue(jint value) { jvalue v; v.j = 0; v.i = value; return v; }
template <> inline jvalue HookValue(jlong value) { jvalue v; v.j = value; return v; }
template <> inline jvalue HookValue(jfloat value) { jvalue v; v.j = 0; v.f = value; return v; }
template <> inline jvalue HookValue(jdouble value) { jvalue v; v.d = value; return v; }
template <> inline jvalue HookValue(jobject value) { jvalue v; v.j = 0; v.l = value; return v; }
