#include "instrument/field_hook.h"

#include <string>
#include <vector>

#include "bytecode/field_sites.h"
#include "bridge/debug_events.h"
#include "instrument/armed_members.h"
#include "instrument/hook_class.h"
#include "bridge/jvmti_env.h"
#include "trace/debug_hook.h"

namespace {
// Whether the hook class is defined and bound.
HookClassState g_hookState = HookClassState::kNotTried;

constexpr char kKinds[] = {'I', 'J', 'F', 'D', 'L'};

// The value of a site as the field's type holds it (narrow ints from their int on the stack).
jvalue Narrowed(char signature, jvalue wide) {
    jvalue v;
    v.j = 0;
    switch (signature) {
        case 'Z': v.z = static_cast<jboolean>(wide.i & 1); break;  // as putfield stores it
        case 'B': v.b = static_cast<jbyte>(wide.i); break;
        case 'C': v.c = static_cast<jchar>(wide.i); break;
        case 'S': v.s = static_cast<jshort>(wide.i); break;
        default: v = wide; break;
    }
    return v;
}

// `id` is the field's id with the site's number above it (instrument/armed_members.h): the event
// goes without a method, the site's number in place of its location (trace/debug_hook).
void Raise(JNIEnv* env, jobject object, jvalue value, jint id, bool write) {
    ArmedFieldSite site;
    if (!ArmedFieldOf(FieldOfSiteId(id), write, &site)) return;  // disarmed while this code version still runs
    const jlocation where = SiteOfSiteId(id);
    // A static field has no object (the site passes null).
    const jvalue v = Narrowed(site.signature, value);
    if (write) {
        BridgeOnFieldModification(g_bridge.jvmti, env, nullptr, nullptr, where, site.declaringClass, object,
                                  site.field, site.signature, v);
    } else {
        // The agent records the value this site read rather than reading the field again.
        const FieldAccessOffer outer = OfferFieldAccessValue({site.field, object, v, true});
        BridgeOnFieldAccess(g_bridge.jvmti, env, nullptr, nullptr, where, site.declaringClass, object, site.field);
        OfferFieldAccessValue(outer);
    }
    // Nothing the tracing did may change the program: no exception leaves the hook.
    if (env->ExceptionCheck()) env->ExceptionClear();
}

template <typename T>
T JNICALL Read(JNIEnv* env, jclass, jobject object, T value, jint id) {
    Raise(env, object, HookValue(value), id, false);
    return value;
}

template <typename T>
void JNICALL Write(JNIEnv* env, jclass, jobject object, T value, jint id) {
    Raise(env, object, HookValue(value), id, true);
}

template <typename T>
T JNICALL WriteWide(JNIEnv* env, jclass, T value, jobject object, jint id) {
    Raise(env, object, HookValue(value), id, true);
    return value;
}

void* ReadOf(char kind) {
    switch (kind) {
        case 'J': return reinterpret_cast<void*>(Read<jlong>);
        case 'F': return reinterpret_cast<void*>(Read<jfloat>);
        case 'D': return reinterpret_cast<void*>(Read<jdouble>);
        case 'L': return reinterpret_cast<void*>(Read<jobject>);
        default: return reinterpret_cast<void*>(Read<jint>);
    }
}

void* WriteOf(char kind) {
    switch (kind) {
        case 'J': return reinterpret_cast<void*>(WriteWide<jlong>);
        case 'F': return reinterpret_cast<void*>(Write<jfloat>);
        case 'D': return reinterpret_cast<void*>(WriteWide<jdouble>);
        case 'L': return reinterpret_cast<void*>(Write<jobject>);
        default: return reinterpret_cast<void*>(Write<jint>);
    }
}
}  // namespace

bool EnsureFieldHookClass(JNIEnv* env) {
    using namespace bytecode;
    return DefineHookClassOnce(&g_hookState, env, kFieldHookClass, [] {
        std::vector<HookNative> natives;
        for (const char kind : kKinds) {
            natives.push_back({FieldHookReadName(kind), FieldHookReadDescriptor(kind), ReadOf(kind)});
            natives.push_back({FieldHookWriteName(kind), FieldHookWriteDescriptor(kind), WriteOf(kind)});
        }
        return natives;
    });
}
