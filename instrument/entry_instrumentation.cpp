#include "instrument/entry_instrumentation.h"

// Lock order, the same in instrument/entry_instrumentation.cpp and
// instrument/field_instrumentation.cpp: the field arming lock (held across a field's
// retransformation, and by a batch from FieldBatchClasses to FieldBatchEnd) before the entry
// instrumentation lock (recursive: the class file hook's passes take it again on a thread that
// retransforms under it) before the field table's lock. The class file hook's passes take their
// locks one after the other, each released before the next pass. Leaves, taken under any of
// them: the field owners' lock (instrument/field_owners), the event switches' lock, the JVMTI
// breakpoints' lock, profiler entries' lock and the recording lock. Profiler entries' switch
// lock, held across their retransformation, comes before the entry instrumentation lock; the
// entry hook class's lock (instrument/entry_hook) after it and before the field table's lock.
// The class file hook of a class loading for the first time takes the entry instrumentation lock
// only when it can within about a millisecond (EnterWithinAMillisecond), and gives up arming the
// class as it loads otherwise, so no loading thread waits on a thread that holds it.

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/error_out.h"
#include "bridge/declared_members.h"
#include "bridge/event_switches.h"
#include "bytecode/access_flags.h"
#include "bytecode/method_probes.h"
#include "instrument/armed_members.h"
#include "instrument/class_rewriter.h"
#include "instrument/entry_hook.h"
#include "instrument/field_instrumentation.h"
#include "instrument/jvmti_breakpoints.h"
#include "instrument/load_patterns.h"
#include "instrument/probe_table.h"
#include "instrument/probes_at_load.h"
#include "instrument/method_hook.h"
#include "bridge/jvmti_env.h"
#include "platform/os.h"
#include "trace/call_details.h"
#include "trace/call_timing.h"
#include "trace/method_options.h"
#include "trace/trace_flags.h"
#include "trace/trace_points.h"

namespace {
using bytecode::kAccNative;
using bytecode::kAccAbstract;

// Set while this thread retransforms a class for its entry probes.
thread_local bool t_retransformingProbes = false;

// Whether the class was loaded by the boot or the platform loader: a class of the JDK itself.
bool OfTheJdk(jclass clazz) {
    jvmtiEnv* jvmti = g_inst.jvmti;
    jobject loader = nullptr;
    if (jvmti->GetClassLoader(clazz, &loader) != JVMTI_ERROR_NONE) return false;
    if (loader == nullptr) return true;
    JNIEnv* env = BridgeJni();
    bool platform = false;
    jclass loaderClass = env == nullptr ? nullptr : env->GetObjectClass(loader);
    char* signature = nullptr;
    if (loaderClass != nullptr && jvmti->GetClassSignature(loaderClass, &signature, nullptr) == JVMTI_ERROR_NONE) {
        platform = std::strcmp(signature, "Ljdk/internal/loader/ClassLoaders$PlatformClassLoader;") == 0;
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    }
    if (loaderClass != nullptr) env->DeleteLocalRef(loaderClass);
    if (env != nullptr) env->DeleteLocalRef(loader);
    return platform;
}

// Whether JFR rewrites `clazz` itself when it is retransformed (an event class, by its super class
// chain) or runs it while doing so (its own packages): JFR's class file hook calls Java code,
// which loads and initialises classes on the retransforming thread.
bool OfJfr(JNIEnv* env, jclass clazz) {
    bool jfr = false;
    jclass c = static_cast<jclass>(env->NewLocalRef(clazz));
    for (bool first = true; c != nullptr && !jfr; first = false) {
        char* signature = nullptr;
        if (g_inst.jvmti->GetClassSignature(c, &signature, nullptr) == JVMTI_ERROR_NONE) {
            jfr = std::strcmp(signature, "Ljdk/internal/event/Event;") == 0 ||
                  (first && (std::strncmp(signature, "Ljdk/jfr/", 9) == 0 ||
                             std::strncmp(signature, "Ljdk/internal/event/", 20) == 0));
            g_inst.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
        }
        jclass super = env->GetSuperclass(c);
        env->DeleteLocalRef(c);
        c = super;
    }
    if (c != nullptr) env->DeleteLocalRef(c);
    return jfr;
}

// Whether code of `clazz` can call the hook classes: a class of the unnamed module can, and one of
// a named module (the JDK's own among them) once its module reads the hooks' module.
bool LetReadTheHooks(JNIEnv* env, jclass clazz) {
    jobject module = nullptr;
    const bool named = InNamedModule(env, clazz, &module);
    const bool reads = !named || (EnsureEntryHookClass(env) && LetModuleReadTheHooks(module));
    if (module != nullptr) env->DeleteLocalRef(module);
    return reads;
}

// What a probe's description learns of its method's class, kept for the next probe of the same
// class (arming takes a class's methods one after the other). Under the lock.
struct DeclaringFacts {
    jweak klass = nullptr;   // weak: the class stays free to be unloaded
    std::string name;        // internal form
    bool modifiable = false;
    BreakpointReason unfit = BreakpointReason::kNone;  // JFR's, or of a module that cannot read the hooks
};
DeclaringFacts g_lastDeclaring;

const DeclaringFacts& FactsOf(JNIEnv* env, jclass declaring) {
    DeclaringFacts& f = g_lastDeclaring;
    if (f.klass != nullptr && env->IsSameObject(f.klass, declaring)) return f;
    if (f.klass != nullptr) env->DeleteWeakGlobalRef(f.klass);
    f = DeclaringFacts();
    jvmtiEnv* jvmti = g_inst.jvmti;
    char* classSignature = nullptr;
    if (jvmti->GetClassSignature(declaring, &classSignature, nullptr) == JVMTI_ERROR_NONE) {
        // "Lp/Main;" names the class p/Main
        const size_t length = std::strlen(classSignature);
        if (length > 2 && classSignature[0] == 'L') f.name.assign(classSignature + 1, length - 2);
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(classSignature));
    }
    jboolean modifiable = JNI_FALSE;
    jvmti->IsModifiableClass(declaring, &modifiable);
    f.modifiable = modifiable == JNI_TRUE;
    if (OfJfr(env, declaring)) f.unfit = BreakpointReason::kJfrEvent;
    else if (!LetReadTheHooks(env, declaring)) f.unfit = OfTheJdk(declaring) ? BreakpointReason::kJdkModule : BreakpointReason::kNamedModule;
    f.klass = env->NewWeakGlobalRef(declaring);
    return f;
}

// Fills in what the class file hook needs to find the method, and whether it can be
// instrumented: not native or abstract, no constructor (its receiver is not initialised at
// entry), in a class JVMTI may retransform and that can see the hook (the unnamed module).
void DescribeProbe(JNIEnv* env, Probe* p) {
    jvmtiEnv* jvmti = g_inst.jvmti;
    jclass declaring = nullptr;
    char* name = nullptr;
    char* signature = nullptr;
    jint modifiers = 0;
    if (jvmti->GetMethodDeclaringClass(p->method, &declaring) != JVMTI_ERROR_NONE ||
        jvmti->GetMethodName(p->method, &name, &signature, nullptr) != JVMTI_ERROR_NONE ||
        jvmti->GetMethodModifiers(p->method, &modifiers) != JVMTI_ERROR_NONE) {
        return;
    }
    p->name = name;
    p->descriptor = signature;
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    const DeclaringFacts& facts = FactsOf(env, declaring);
    p->className = facts.name;
    p->declaringClass = static_cast<jclass>(env->NewGlobalRef(declaring));
    p->constructor = p->name == "<init>";
    if (modifiers & kAccNative) p->unfit = BreakpointReason::kNative;
    else if (modifiers & kAccAbstract) p->unfit = BreakpointReason::kAbstract;
    else if (facts.unfit != BreakpointReason::kNone) p->unfit = facts.unfit;
    else if (!facts.modifiable) p->unfit = BreakpointReason::kUnmodifiable;
    p->fit = p->declaringClass != nullptr && p->unfit == BreakpointReason::kNone;
    env->DeleteLocalRef(declaring);
}

// The probe of `method`, made on first sight when `create`. Under the lock.
Probe* FindProbe(JNIEnv* env, jmethodID method, bool create) {
    const auto known = g_inst.byMethod.find(method);
    if (known != g_inst.byMethod.end()) return &g_inst.probes[static_cast<size_t>(known->second)];
    if (!create) return nullptr;
    Probe described;
    described.method = method;
    DescribeProbe(env, &described);
    Probe* p = AdoptProbeMadeAtLoad(env, &described);
    if (p == nullptr) {
        if (static_cast<jint>(g_inst.probes.size()) >= kMaxProbes) {
            if (described.declaringClass != nullptr) env->DeleteGlobalRef(described.declaringClass);
            return nullptr;
        }
        g_inst.probes.push_back(std::move(described));
        p = &g_inst.probes.back();
    }
    g_inst.byMethod[method] = ProbeId(p);
    return p;
}

// Retransforms the class; the class file hook instruments its wanted probes. Under the lock.
jvmtiError Retransform(jclass clazz) {
    jvmtiEnv* jvmti = g_inst.jvmti;
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kEntryRetransform, true);
    t_retransformingProbes = true;
    const jvmtiError error = jvmti->RetransformClasses(1, &clazz);
    t_retransformingProbes = false;
    RestoreBreakpointsOf(clazz);
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kEntryRetransform, false);
    return error;
}

// Retransforms the classes in one VM operation (the VM's walks over every class and all
// compiled code are made once for all of them). Under the lock.
jvmtiError RetransformTogether(const std::vector<jclass>& classes) {
    jvmtiEnv* jvmti = g_inst.jvmti;
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kEntryRetransform, true);
    t_retransformingProbes = true;
    const jvmtiError error = jvmti->RetransformClasses(static_cast<jint>(classes.size()), classes.data());
    t_retransformingProbes = false;
    for (jclass c : classes) RestoreBreakpointsOf(c);
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kEntryRetransform, false);
    return error;
}

// Takes what the probe's trace points ask for besides its entries; a probe that asks for
// arguments, exits or timing calls the method hook, whose shape of the method it publishes. False
// when the method hook cannot be had.
bool WithOptions(JNIEnv* env, Probe* p) {
    p->options = MethodOptions(p->method) & (kArgumentsTracePoint | kExitTracePoint | kTimingTracePoint);
    const int64_t minNanos = (p->options & kExitTracePoint) ? MethodMinNanos(p->method) : 0;
    // A timed method's calls are counted, not recorded: it asks the hook for its exits only;
    // with a threshold on its exits, the slow calls are recorded too.
    if ((p->options & kTimingTracePoint) && minNanos == 0) p->options = kTimingTracePoint;
    // A constructor's receiver is not initialised at entry, which the entry hook cannot take: it
    // keeps its breakpoint unless its exits are asked for, which only instrumentation records.
    if (p->constructor && !(p->options & kExitsOfProbe)) return false;
    if (p->options == 0) return true;
    if (!EnsureMethodHookClass(env)) return false;
    ProbeShape shape;
    if (!ShapeOf(p->descriptor, p->options, &shape)) return false;
    shape.timing = p->options == kTimingTracePoint;
    shape.minNanos = minNanos;
    shape.countAll = minNanos > 0 && (p->options & kTimingTracePoint) != 0;
    shape.constructor = p->constructor;
    // Until its class is rewritten, which says whether its exits can pass `this`.
    shape.receiverAtExits = false;
    p->shape = shape;
    if (shape.timing || shape.minNanos > 0) {
        PrepareCallTiming();
        NoteTimedProbe(ProbeId(p), p->method);
    }
    PublishProbeShape(ProbeId(p), shape);
    return true;
}

// The probes a batch of arming on this thread has made wanted, by id; null outside a batch.
thread_local std::vector<jint>* t_batch = nullptr;

// Arms `p` by instrumentation. Returns false (nothing armed, the probe unfit from now on) when
// the class could not be rewritten for it. In a batch the class is rewritten at its end.
bool InstrumentProbe(JNIEnv* env, Probe* p) {
    p->wanted = true;
    if (p->atLoad && p->instrumented && p->options == p->loadOptions && p->shape.minNanos == 0) {
        // Its class's version calls the hook for it as it is asked for: nothing to rewrite.
        SetArmedProbe(ProbeId(p), p->method);
        return true;
    }
    if (t_batch != nullptr) {
        t_batch->push_back(ProbeId(p));
        return true;
    }
    const jvmtiError error = Retransform(p->declaringClass);
    if (error == JVMTI_ERROR_NONE && p->instrumented) {
        SetArmedProbe(ProbeId(p), p->method);
        return true;
    }
    p->wanted = false;
    p->fit = false;
    p->unfit = BreakpointReason::kRefused;
    if (error != JVMTI_ERROR_NONE) {
        // The VM refused the rewritten class (it stays as it was); give the class's other
        // probes their instrumentation back without this one.
        for (const Probe& other : g_inst.probes) {
            if (other.wanted && SameClass(env, other, p->declaringClass)) {
                Retransform(p->declaringClass);
                break;
            }
        }
    }
    return false;
}
// Why a method on the breakpoint road is there, as the standard error line says it.
const char* Said(BreakpointReason reason) {
    switch (reason) {
        case BreakpointReason::kOption: return "the option breakpoints";
        case BreakpointReason::kNoRewriting: return "this VM does not let classes be rewritten";
        case BreakpointReason::kNative: return "a native method has no code to instrument";
        case BreakpointReason::kAbstract: return "an abstract method has no code to instrument";
        case BreakpointReason::kJdkModule: return "its class is in one of the JDK's named modules, which cannot see the hook";
        case BreakpointReason::kJfrEvent: return "its class is one of JFR's, which JFR rewrites itself with Java code of its own";
        case BreakpointReason::kNamedModule: return "its class is in a named module, which cannot see the hook";
        case BreakpointReason::kUnmodifiable: return "the VM does not let its class be rewritten";
        case BreakpointReason::kConstructor: return "a constructor";
        case BreakpointReason::kRefused: return "the rewriter or the VM refused its class";
        case BreakpointReason::kNoHook: return "the method hook could not be defined";
        case BreakpointReason::kTooMany: return "more methods than the instrumentation holds";
        case BreakpointReason::kNone: break;
    }
    return "the rewriter refused it";
}

// JVMTI's method exit events would put every thread into the interpreter: a method on the
// breakpoint road records its entries (and arguments), never its exits. Each method is told of
// once: to the in-VM session, which sums them up, or else on standard error.
void SayExitsNotRecorded(jmethodID method, BreakpointReason reason) {
    JNIEnv* env = BridgeJni();
    char* name = nullptr;
    char* signature = nullptr;
    char* classSignature = nullptr;
    jclass declaring = nullptr;
    if (env == nullptr || g_inst.jvmti->GetMethodName(method, &name, &signature, nullptr) != JVMTI_ERROR_NONE) return;
    if (g_inst.jvmti->GetMethodDeclaringClass(method, &declaring) == JVMTI_ERROR_NONE) {
        g_inst.jvmti->GetClassSignature(declaring, &classSignature, nullptr);
    }
    bool tell = false;
    {
        OsLockGuard held(&g_inst.lock);
        bool known = false;
        for (const UnrecordedExits& u : g_inst.unrecorded) known = known || u.method == method;
        if (!known && declaring != nullptr) {
            g_inst.unrecorded.push_back({method, static_cast<jclass>(env->NewGlobalRef(declaring)), name, signature, reason});
        }
        tell = !known && !g_inst.sessionTells;
    }
    if (tell) {
        // "Lp/Main$A;" names the class as p/Main$A
        const std::string owner =
            classSignature == nullptr ? "?" : std::string(classSignature + 1, std::strlen(classSignature) - 2);
        ErrorOut("Vexo: the exits of %s.%s%s are not recorded: it is traced by a JVMTI breakpoint (%s), and exits are "
                 "recorded only by instrumentation\n",
                 owner.c_str(), name, signature, Said(reason));
    }
    g_inst.jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
    g_inst.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    if (classSignature != nullptr) g_inst.jvmti->Deallocate(reinterpret_cast<unsigned char*>(classSignature));
    if (declaring != nullptr) env->DeleteLocalRef(declaring);
}
}  // namespace

void InstrumentationBeginBatch() {
    if (t_batch == nullptr) t_batch = new std::vector<jint>();
    FieldBatchBegin();
}

void InstrumentationEndBatch() {
    std::vector<jint>* batch = t_batch;
    t_batch = nullptr;
    JNIEnv* env = BridgeJni();
    if (batch == nullptr) return;
    if (env == nullptr) {
        delete batch;
        return;
    }
    // The batch's fields have their sites rewritten in the same retransformation, so that every
    // trace point of the batch starts at once.
    std::vector<jclass> fieldClasses = FieldBatchClasses(env);
    bool retransformed = true;
    std::vector<jmethodID> fallBack;
    {
        OsLockGuard held(&g_inst.lock);
        // Each class once, for all its probes and fields of the batch; all of them together, and
        // one by one only when the VM refuses the lot (to find which it refuses).
        std::vector<jclass> classes;
        auto add = [&](jclass clazz) {
            bool seen = false;
            for (jclass c : classes) seen = seen || env->IsSameObject(c, clazz);
            if (!seen) classes.push_back(clazz);
        };
        for (jint id : *batch) add(g_inst.probes[static_cast<size_t>(id)].declaringClass);
        for (jclass c : fieldClasses) add(c);
        if (!classes.empty() && RetransformTogether(classes) != JVMTI_ERROR_NONE) {
            for (jclass clazz : classes) {
                if (Retransform(clazz) == JVMTI_ERROR_NONE) continue;
                retransformed = false;
                // Refused as a whole: none of its probes is instrumented; they take breakpoints below.
                for (jint other : *batch) {
                    Probe& o = g_inst.probes[static_cast<size_t>(other)];
                    if (SameClass(env, o, clazz)) o.instrumented = false;
                }
            }
        }
        FieldBatchPublish(retransformed);
        for (jint id : *batch) {
            Probe& p = g_inst.probes[static_cast<size_t>(id)];
            if (p.wanted && p.instrumented) {
                SetArmedProbe(id, p.method);
            } else if (p.wanted) {
                p.wanted = false;
                p.fit = false;
                p.unfit = BreakpointReason::kRefused;
                fallBack.push_back(p.method);
            }
        }
    }
    FieldBatchEnd(env, retransformed);
    delete batch;
    // What the rewriter or the VM refused keeps a JVMTI breakpoint, as outside a batch.
    for (jmethodID method : fallBack) {
        SetHonouredMethodOptions(method, kArgumentsTracePoint);
        if (SetJvmtiBreakpoint(method, 0) != JVMTI_ERROR_NONE) continue;
        if (MethodOptions(method) & kExitsOfProbe) SayExitsNotRecorded(method, BreakpointReason::kRefused);
    }
}

void InstrumentationInit(jvmtiEnv* jvmti, bool forceBreakpoints) {
    OsLockInit(&g_inst.lock);
    g_inst.jvmti = jvmti;
    jvmtiCapabilities granted = {};
    jvmti->GetCapabilities(&granted);
    g_inst.available = !forceBreakpoints && granted.can_retransform_classes;
    g_inst.forceBreakpoints = forceBreakpoints;
}

void InstrumentationSessionTells() {
    OsLockGuard held(&g_inst.lock);
    g_inst.sessionTells = true;
}

BreakpointReason UnrecordedExitsReason(JNIEnv* env, jclass clazz, const char* name, const char* descriptor) {
    OsLockGuard held(&g_inst.lock);
    for (const UnrecordedExits& u : g_inst.unrecorded) {
        if (u.name == name && u.descriptor == descriptor && env->IsAssignableFrom(clazz, u.declaringClass)) {
            return u.reason;
        }
    }
    return BreakpointReason::kNone;
}

jvmdiError InstrumentedSetBreakpoint(jmethodID method, jlocation location) {
    JNIEnv* env = BridgeJni();
    BreakpointReason reason = g_inst.forceBreakpoints ? BreakpointReason::kOption : BreakpointReason::kNoRewriting;
    if (location == 0 && g_inst.available && env != nullptr) {
        OsLockGuard held(&g_inst.lock);
        Probe* p = FindProbe(env, method, true);
        jvmdiError result = -1;
        if (p == nullptr) {
            reason = BreakpointReason::kTooMany;
        } else if (p->wanted) {
            result = JVMDI_ERROR_DUPLICATE;
        } else if (!p->fit) {
            reason = p->unfit;
        } else if (!EnsureEntryHookClass(env) || !WithOptions(env, p)) {
            reason = p->constructor && !(p->options & kExitsOfProbe) ? BreakpointReason::kConstructor
                                                                        : BreakpointReason::kNoHook;
        } else if (InstrumentProbe(env, p)) {
            SetHonouredMethodOptions(method, p->options);
            result = JVMDI_ERROR_NONE;
        } else {
            reason = BreakpointReason::kRefused;
        }
        if (result != -1) return result;
    }
    const jvmtiError error = SetJvmtiBreakpoint(method, location);
    if (error == JVMTI_ERROR_NONE) {
        if (location == 0 && (MethodOptions(method) & kExitsOfProbe)) SayExitsNotRecorded(method, reason);
    }
    return static_cast<jvmdiError>(error);
}

void GateProbesByOwner(JNIEnv* env, const FirstMethodEntry* entries, size_t count, bool reset) {
    std::vector<ProbeOwner> owners;
    if (g_inst.available) {
        OsLockGuard held(&g_inst.lock);
        for (size_t i = 0; i < count; ++i) {
            const Probe* p = FindProbe(env, entries[i].method, false);
            // Every receiver of a method is an instance of its own class: no test is needed.
            if (p == nullptr || SameClass(env, *p, entries[i].clazz)) continue;
            owners.push_back({ProbeId(p), entries[i].clazz});
        }
    }
    if (reset || !owners.empty()) SetEntryHookOwners(env, owners.data(), owners.size(), reset);
}

jvmdiError InstrumentedClearBreakpoint(jmethodID method, jlocation location) {
    JNIEnv* env = BridgeJni();
    if (location == 0 && g_inst.available && env != nullptr) {
        OsLockGuard held(&g_inst.lock);
        Probe* p = FindProbe(env, method, false);
        const bool instrumented = p != nullptr && p->wanted;
        if (instrumented) {
            p->wanted = false;
            SetArmedProbe(ProbeId(p), nullptr);
            if (t_batch != nullptr) t_batch->push_back(ProbeId(p));  // its class is rewritten at the end
            else Retransform(p->declaringClass);
        }
        if (instrumented) return JVMDI_ERROR_NONE;
    }
    return static_cast<jvmdiError>(ClearJvmtiBreakpoint(method, location));
}

bool RetransformingForProbes() { return t_retransformingProbes; }

namespace {
bool OfClass(const LoadingClass* c, const Probe& p) {
    if (c->name != nullptr && !p.className.empty() && p.className != c->name) return false;
    return SameClass(c->jni, p, c->classBeingRedefined);
}
}  // namespace

PassResult EntryProbesPass(LoadingClass* c, const uint8_t* data, size_t size) {
    if (c->classBeingRedefined == nullptr) return ProbesAtLoadPass(c, data, size);
    PassResult result;
    std::vector<EntryProbe> wanted;
    OsLockGuard held(&g_inst.lock);
    ForgetProbesMadeAtLoad(c);
    for (Probe& p : g_inst.probes) {
        if (!OfClass(c, p)) continue;
        p.instrumented = false;  // until this pass or the method probes' pass puts it in the new version
        p.atLoad = false;
        if (!p.wanted || p.options != 0) continue;
        wanted.push_back({p.name, p.descriptor, ProbeId(&p), false});
        c->entriesTaken.push_back({p.name, p.descriptor});
    }
    if (!wanted.empty()) RewriteForEntryProbes(data, size, &wanted, &result);
    return result;
}

PassResult MethodProbesPass(LoadingClass* c, const uint8_t* data, size_t size) {
    PassResult result;
    std::vector<bytecode::MethodProbeTarget> calls;
    auto call = [&calls](const Probe& p, jint id, int32_t options) {
        bytecode::MethodProbeTarget t;
        t.name = p.name;
        t.descriptor = p.descriptor;
        t.id = id;
        t.arguments = (options & kArgumentsTracePoint) != 0;
        t.exits = (options & kExitsOfProbe) != 0;
        t.timing = options == kTimingTracePoint;
        t.receiverAtExits = p.shape.minNanos > 0;
        calls.push_back(t);
    };
    if (c->classBeingRedefined == nullptr) {
        // Not had: the probes stay out of this version, and arming retransforms.
        if (c->probesAtLoad.empty() || !EnterWithinAMillisecond(&g_inst.lock)) return result;
    } else {
        OsLockEnter(&g_inst.lock);
    }
    OsLockGuard held(&g_inst.lock, OsLockEntered());
    if (c->classBeingRedefined == nullptr) {
        for (jint id : c->probesAtLoad) {
            const Probe& p = g_inst.probes[static_cast<size_t>(id)];
            call(p, id, p.loadOptions);
        }
    } else {
        for (Probe& p : g_inst.probes) {
            if (p.wanted && p.options != 0 && OfClass(c, p)) call(p, ProbeId(&p), p.options);
        }
    }
    if (calls.empty() || !bytecode::RewriteMethodProbes(data, size, &calls, &result.bytes)) {
        result.bytes.clear();
        return result;
    }
    std::vector<jint> ids;
    for (const bytecode::MethodProbeTarget& t : calls) {
        Probe& p = g_inst.probes[static_cast<size_t>(t.id)];
        p.instrumented = t.instrumented;
        ids.push_back(t.id);
        // A held entry keeps its receiver only where the exits cannot pass it.
        if (t.instrumented && p.shape.minNanos > 0 &&
            (p.shape.receiverAtExits != t.receiverPassed || p.shape.bareEntry != t.bareEntry)) {
            p.shape.receiverAtExits = t.receiverPassed;
            p.shape.bareEntry = t.bareEntry;
            PublishProbeShape(t.id, p.shape);
        }
    }
    result.undo = [ids] { ProbesNotApplied(ids); };
    return result;
}

void ArmAtLoad(JNIEnv* env, const std::vector<LoadPattern>& patterns) {
    if (patterns.empty()) {
        SetLoadPatterns(patterns);
        WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kLoadArming, false);
        return;
    }
    if (!g_inst.available || !EnsureEntryHookClass(env)) return;
    bool options = false;
    for (const LoadPattern& p : patterns) options = options || p.options != 0;
    if (options) {
        OsLockGuard held(&g_inst.lock);
        EnsureMethodHookClass(env);
    }
    SetLoadPatterns(patterns);
    WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kLoadArming, true);
}

void StopArmingAtLoad(JNIEnv* env) {
    ArmAtLoad(env, {});
    std::vector<jclass> classes = ClassesKeepingUnarmedProbes(env);
    OsLockGuard held(&g_inst.lock);
    if (!classes.empty() && RetransformTogether(classes) != JVMTI_ERROR_NONE) {
        for (jclass clazz : classes) Retransform(clazz);
    }
    for (jclass k : classes) env->DeleteLocalRef(k);
}
