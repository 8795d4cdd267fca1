#include "instrument/field_instrumentation.h"

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

#include <algorithm>
#include <string>

#include "bridge/event_switches.h"
#include "bytecode/access_flags.h"
#include "bytecode/class_file.h"
#include "bytecode/constant_pool.h"
#include "bytecode/field_sites.h"
#include "bridge/declared_members.h"
#include "instrument/armed_members.h"
#include "instrument/jvmti_breakpoints.h"
#include "instrument/field_hook.h"
#include "instrument/field_owners.h"
#include "instrument/old_frames.h"
#include "bridge/jvmti_env.h"
#include "platform/os.h"
#include "trace/access_sites.h"

namespace {
using bytecode::kAccPublic;
using bytecode::kAccProtected;
using bytecode::kAccStatic;

// A field watched by instrumentation; its declaring class and names are what the search for its
// owners reads (instrument/field_owners).
struct WatchedField : OwnedField {
    jfieldID field = nullptr;
    jobject loader = nullptr;         // global reference, null for the boot loader
    std::string package;              // internal name up to its last '/'
    jint modifiers = 0;
    bool fit = false;            // may take the instrumentation road
    bool wanted[2] = {};         // access, modification: armed by instrumentation
    bool instrumented = false;   // its sites call the hook in every class rewritten for it
};

struct FieldInstrumentation {
    jvmtiEnv* jvmti = nullptr;
    bool available = false;
    OsLock arming;  // serialises arming and disarming, held across retransformation
    OsLock state;   // the table, also taken by the class file hook; only leaves under it
    std::vector<WatchedField> fields;  // the index is the site id; reserved, never moved
    int instrumentedCount = 0;
};

FieldInstrumentation g_fi;
// Set while this thread retransforms classes for field sites (the class file hook rewrites the
// sites of every armed field in them).
thread_local bool t_retransformingSites = false;
bool g_forceWatches = false;
thread_local size_t t_refusedMethods = 0;  // counted by the class file hook while retransforming

// Fields armed in a batch of arming on this thread, whose classes are rewritten together with
// the batch's methods and which are published at its end; null outside a batch.
struct FieldBatch {
    std::vector<jint> ids;
    bool published = false;
    std::vector<std::vector<jclass>> classes;  // per id, local references, once gathered
};
thread_local FieldBatch* t_fieldBatch = nullptr;

jint FieldId(const WatchedField* f) { return static_cast<jint>(f - g_fi.fields.data()); }

std::string PackageOf(const std::string& internalName) {
    const size_t slash = internalName.rfind('/');
    return slash == std::string::npos ? "" : internalName.substr(0, slash);
}

// Whether code of a class of `loader` named `className` may access the field.
bool MayAccess(JNIEnv* env, const WatchedField& f, jobject loader, const std::string& className) {
    if (f.modifiers & (kAccPublic | kAccProtected)) return true;
    // Package access, and private access from the class and its nest (in its package).
    return env->IsSameObject(loader, f.loader) && PackageOf(className) == f.package;
}

bytecode::FieldSiteTarget TargetOf(const WatchedField& f) {
    bytecode::FieldSiteTarget t;
    t.owners = OwnersOf(FieldId(&f));
    t.name = f.name;
    t.descriptor = f.descriptor;
    t.isStatic = (f.modifiers & kAccStatic) != 0;
    t.id = FieldId(&f);
    return t;
}

// Whether the constant pool of `clazz` names the field (true when it cannot be read).
bool PoolNames(jclass clazz, const bytecode::FieldSiteTarget& target) {
    jint count = 0, byteCount = 0;
    unsigned char* bytes = nullptr;
    if (g_fi.jvmti->GetConstantPool(clazz, &count, &byteCount, &bytes) != JVMTI_ERROR_NONE) return true;
    std::vector<uint8_t> pool = {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    pool.insert(pool.end(), bytes, bytes + byteCount);
    g_fi.jvmti->Deallocate(bytes);
    bytecode::Reader r{pool.data(), pool.size()};
    bytecode::ConstantPool parsed;
    if (!bytecode::ReadConstantPool(&r, &parsed)) return true;
    return bytecode::PoolNamesTarget(parsed, {target});
}

// The classes loaded now, as local references each of which the holder keeps or deletes.
struct LoadedClasses {
    jint count = 0;
    jclass* classes = nullptr;
    explicit LoadedClasses(JNIEnv* env) {
        if (g_fi.jvmti->GetLoadedClasses(&count, &classes) != JVMTI_ERROR_NONE) {
            count = 0;
            classes = nullptr;
        } else if (env->EnsureLocalCapacity(count + 16) != JNI_OK) {
            env->ExceptionClear();
        }
    }
    ~LoadedClasses() {
        if (classes != nullptr) g_fi.jvmti->Deallocate(reinterpret_cast<unsigned char*>(classes));
    }
    LoadedClasses(const LoadedClasses&) = delete;
    LoadedClasses& operator=(const LoadedClasses&) = delete;
};

// The loaded classes that may access `f` and whose constant pool names it through one of the
// target's owners: the classes whose sites of it are rewritten (or restored). Takes every
// reference of `loaded`: those returned are the caller's, the others are deleted.
std::vector<jclass> ClassesNamingTarget(JNIEnv* env, const WatchedField& f, const bytecode::FieldSiteTarget& target,
                                        const LoadedClasses& loaded) {
    std::vector<jclass> out;
    for (jint i = 0; i < loaded.count; ++i) {
        jclass c = loaded.classes[i];
        jboolean modifiable = JNI_FALSE;
        g_fi.jvmti->IsModifiableClass(c, &modifiable);
        bool keep = modifiable == JNI_TRUE;
        if (keep && !(f.modifiers & (kAccPublic | kAccProtected))) {
            jobject loader = nullptr;
            g_fi.jvmti->GetClassLoader(c, &loader);
            keep = MayAccess(env, f, loader, ClassNameOf(c));
            if (loader != nullptr) env->DeleteLocalRef(loader);
        }
        keep = keep && PoolNames(c, target) && !InNamedModule(env, c);
        if (keep) out.push_back(c);
        else env->DeleteLocalRef(c);
    }
    return out;
}

// Arming `f`: works out its owners among the loaded classes, then the classes naming it.
std::vector<jclass> FindOwnersAndClassesNaming(JNIEnv* env, const WatchedField& f) {
    const LoadedClasses loaded(env);
    if (loaded.classes == nullptr) return {};
    FindOwnersAmongLoaded(env, FieldId(&f), f, loaded.classes, loaded.count);
    return ClassesNamingTarget(env, f, TargetOf(f), loaded);
}

// The loaded classes naming `f` through the owners known now.
std::vector<jclass> ClassesNaming(JNIEnv* env, const WatchedField& f) {
    const LoadedClasses loaded(env);
    return ClassesNamingTarget(env, f, TargetOf(f), loaded);
}

// The loaded classes naming `f` through `owner` alone (an owner found late).
std::vector<jclass> ClassesNamingThrough(JNIEnv* env, const WatchedField& f, const std::string& owner) {
    const LoadedClasses loaded(env);
    bytecode::FieldSiteTarget target = TargetOf(f);
    target.owners = {owner};
    return ClassesNamingTarget(env, f, target, loaded);
}

void SetClassFileHook(bool on) { WantEvent(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, EventClient::kFieldSites, on); }

void DeleteLocalRefs(JNIEnv* env, const std::vector<jclass>& classes) {
    for (jclass c : classes) env->DeleteLocalRef(c);
}

// Retransforms `classes` (and, with `release`, deletes the references). Returns whether every
// class was retransformed and no method with a site was refused.
bool RetransformAll(JNIEnv* env, const std::vector<jclass>& classes, bool release = true) {
    bool complete = true;
    t_retransformingSites = true;
    t_refusedMethods = 0;
    for (jclass c : classes) {
        complete = g_fi.jvmti->RetransformClasses(1, &c) == JVMTI_ERROR_NONE && complete;
        RestoreBreakpointsOf(c);
    }
    if (release) DeleteLocalRefs(env, classes);
    t_retransformingSites = false;
    return complete && t_refusedMethods == 0;
}

void SetInstrumented(WatchedField* f, bool on) {
    OsLockGuard held(&g_fi.state);
    f->instrumented = on;
    g_fi.instrumentedCount += on ? 1 : -1;
}

// The field as users name it: "lo.Work.acc".
std::string ShownName(const WatchedField& f) {
    std::string shown = f.className + "." + f.name;
    std::replace(shown.begin(), shown.end(), '/', '.');
    return shown;
}

// Whether JVMTI field watches can serve a field the rewriter cannot.
bool WatchesGranted() {
    return g_bridge.granted.can_generate_field_access_events &&
           g_bridge.granted.can_generate_field_modification_events;
}

// Arms the sites of `f`. Returns false (nothing armed, the field unfit from now on) when some
// site could not be rewritten and JVMTI watches can serve the field instead.
bool InstrumentField(JNIEnv* env, WatchedField* f) {
    SetInstrumented(f, true);
    SetClassFileHook(true);
    const std::vector<jclass> classes = FindOwnersAndClassesNaming(env, *f);
    const bool complete = RetransformAll(env, classes, false);
    const bool watchable = WatchesGranted();
    // When watches can serve the field but some site could not be rewritten, they serve it all;
    // otherwise what instrumentation reaches is all there is.
    if (complete || !watchable) {
        OldFramesAfterRewrite(env, FieldId(f), f->declaringClass, f->field, ShownName(*f), classes);
        DeleteLocalRefs(env, classes);
        return true;
    }
    DeleteLocalRefs(env, classes);
    SetInstrumented(f, false);
    RetransformAll(env, ClassesNaming(env, *f));
    if (g_fi.instrumentedCount == 0) SetClassFileHook(false);
    f->fit = false;
    return false;
}

void Uninstrument(JNIEnv* env, WatchedField* f) {
    OldFramesBeforeRestore(FieldId(f));
    SetInstrumented(f, false);
    const std::vector<jclass> classes = ClassesNaming(env, *f);
    RetransformAll(env, classes, false);
    OldFramesAfterRestore(env, FieldId(f), classes);
    DeleteLocalRefs(env, classes);
    if (g_fi.instrumentedCount == 0) SetClassFileHook(false);
}

// In a batch, a field not armed yet joins it: its sites are rewritten at the batch's end.
bool Batched(WatchedField* f) {
    if (t_fieldBatch == nullptr) return false;
    const jint id = FieldId(f);
    if (std::find(t_fieldBatch->ids.begin(), t_fieldBatch->ids.end(), id) != t_fieldBatch->ids.end()) return true;
    if (f->instrumented) return false;
    SetInstrumented(f, true);
    SetClassFileHook(true);
    t_fieldBatch->ids.push_back(id);
    return true;
}

void Publish(const WatchedField& f) {
    const uint8_t bits = static_cast<uint8_t>((f.wanted[kAccessWatch] ? 1 : 0) |
                                              (f.wanted[kModificationWatch] ? 2 : 0));
    SetArmedFieldBits(FieldId(&f), bits);
}

// The watched field of `field` (declared by the class `clazz` names or inherits it from), made
// on first sight when `create`. Under the arming lock.
WatchedField* FindField(JNIEnv* env, jclass clazz, jfieldID field, bool create) {
    jclass declaring = nullptr;
    if (g_fi.jvmti->GetFieldDeclaringClass(clazz, field, &declaring) != JVMTI_ERROR_NONE) return nullptr;
    WatchedField* found = nullptr;
    for (WatchedField& f : g_fi.fields) {
        if (f.field == field && env->IsSameObject(f.declaringClass, declaring)) found = &f;
    }
    if (found != nullptr || !create || static_cast<jint>(g_fi.fields.size()) >= kMaxFields) {
        env->DeleteLocalRef(declaring);
        return found;
    }
    WatchedField f;
    f.field = field;
    char* name = nullptr;
    char* descriptor = nullptr;
    jobject loader = nullptr;
    jboolean modifiable = JNI_FALSE;
    if (g_fi.jvmti->GetFieldName(declaring, field, &name, &descriptor, nullptr) == JVMTI_ERROR_NONE) {
        f.name = name;
        f.descriptor = descriptor;
        g_fi.jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
        g_fi.jvmti->Deallocate(reinterpret_cast<unsigned char*>(descriptor));
    }
    g_fi.jvmti->GetFieldModifiers(declaring, field, &f.modifiers);
    g_fi.jvmti->GetClassLoader(declaring, &loader);
    g_fi.jvmti->IsModifiableClass(declaring, &modifiable);
    f.declaringClass = static_cast<jclass>(env->NewGlobalRef(declaring));
    f.loader = loader != nullptr ? env->NewGlobalRef(loader) : nullptr;
    if (loader != nullptr) env->DeleteLocalRef(loader);
    f.className = ClassNameOf(declaring);
    f.package = PackageOf(f.className);
    f.fit = f.declaringClass != nullptr && !f.name.empty() && modifiable && !InNamedModule(env, declaring);
    env->DeleteLocalRef(declaring);
    OsLockGuard held(&g_fi.state);
    g_fi.fields.push_back(f);
    WatchedField* made = &g_fi.fields.back();
    SetArmedFieldSite(FieldId(made), {made->field, made->declaringClass, made->descriptor.empty() ? 'I' : made->descriptor[0]});
    return made;
}

}  // namespace

void FieldBatchBegin() {
    if (t_fieldBatch == nullptr) t_fieldBatch = new FieldBatch();
}

std::vector<jclass> FieldBatchClasses(JNIEnv* env) {
    std::vector<jclass> all;
    if (t_fieldBatch == nullptr) return all;
    OsLockEnter(&g_fi.arming);
    for (jint id : t_fieldBatch->ids) {
        t_fieldBatch->classes.push_back(FindOwnersAndClassesNaming(env, g_fi.fields[static_cast<size_t>(id)]));
        all.insert(all.end(), t_fieldBatch->classes.back().begin(), t_fieldBatch->classes.back().end());
    }
    t_retransformingSites = true;
    t_refusedMethods = 0;
    return all;
}

void FieldBatchPublish(bool retransformed) {
    FieldBatch* batch = t_fieldBatch;
    if (batch == nullptr || !retransformed || t_refusedMethods != 0) return;
    for (jint id : batch->ids) Publish(g_fi.fields[static_cast<size_t>(id)]);
    batch->published = true;
}

void FieldBatchEnd(JNIEnv* env, bool retransformed) {
    FieldBatch* batch = t_fieldBatch;
    if (batch == nullptr) return;
    t_fieldBatch = nullptr;
    t_retransformingSites = false;
    const bool watchable = WatchesGranted();
    const bool complete = retransformed && t_refusedMethods == 0;
    if (!complete && watchable) {
        // Some site could not be rewritten, and watches can serve its field: the fields go one
        // by one, as outside a batch, to find which.
        for (jint id : batch->ids) SetInstrumented(&g_fi.fields[static_cast<size_t>(id)], false);
        for (const std::vector<jclass>& classes : batch->classes) RetransformAll(env, classes, false);
        if (g_fi.instrumentedCount == 0) SetClassFileHook(false);
    }
    for (size_t i = 0; i < batch->ids.size(); ++i) {
        WatchedField* f = &g_fi.fields[static_cast<size_t>(batch->ids[i])];
        const std::vector<jclass>& classes = batch->classes[i];
        bool armed = true;
        if (!complete && watchable) {
            armed = InstrumentField(env, f);
        } else {
            OldFramesAfterRewrite(env, FieldId(f), f->declaringClass, f->field, ShownName(*f), classes);
        }
        if (armed && !batch->published) Publish(*f);
        for (int kind = 0; kind < 2; ++kind) {
            if (!f->wanted[kind]) continue;
            if (armed) {
                OldFramesWatch(env, FieldId(f), static_cast<FieldWatchKind>(kind), true);
            } else {
                f->wanted[kind] = false;
                GateSetWatch(static_cast<FieldWatchKind>(kind), f->declaringClass, f->field);
            }
        }
        DeleteLocalRefs(env, classes);
    }
    OsLockLeave(&g_fi.arming);
    delete batch;
}

void FieldForceWatches(bool force) { g_forceWatches = force; }
bool FieldWatchesForced() { return g_forceWatches; }

void FieldInstrumentationInit(jvmtiEnv* jvmti, bool forceWatches) {
    OsLockInit(&g_fi.arming);
    OsLockInit(&g_fi.state);
    g_fi.jvmti = jvmti;
    FieldOwnersInit(jvmti);
    g_fi.fields.reserve(kMaxFields);
    jvmtiCapabilities granted = {};
    jvmti->GetCapabilities(&granted);
    g_fi.available = !forceWatches && granted.can_retransform_classes;
}

bool FieldInstrumentationAvailable() { return g_fi.available; }

jvmdiError FieldSetWatch(FieldWatchKind kind, jclass clazz, jfieldID field) {
    JNIEnv* env = BridgeJni();
    if (g_fi.available && env != nullptr) {
        OsLockGuard arming(&g_fi.arming);
        WatchedField* f = FindField(env, clazz, field, true);
        jvmdiError result = -1;
        if (f != nullptr && f->fit && f->wanted[kind]) {
            result = JVMDI_ERROR_DUPLICATE;
        } else if (f != nullptr && f->fit && EnsureFieldHookClass(env) && Batched(f)) {
            f->wanted[kind] = true;  // published at the batch's end
            result = JVMDI_ERROR_NONE;
        } else if (f != nullptr && f->fit && EnsureFieldHookClass(env) &&
                   (f->instrumented || InstrumentField(env, f))) {
            f->wanted[kind] = true;
            Publish(*f);
            OldFramesWatch(env, FieldId(f), kind, true);
            result = JVMDI_ERROR_NONE;
        }
        if (result != -1) return result;
    }
    return static_cast<jvmdiError>(GateSetWatch(kind, clazz, field));
}

jvmdiError FieldClearWatch(FieldWatchKind kind, jclass clazz, jfieldID field) {
    JNIEnv* env = BridgeJni();
    if (g_fi.available && env != nullptr) {
        OsLockGuard arming(&g_fi.arming);
        WatchedField* f = FindField(env, clazz, field, false);
        jvmdiError result = -1;
        if (f != nullptr && f->fit) {
            result = f->wanted[kind] ? JVMDI_ERROR_NONE : JVMDI_ERROR_NOT_FOUND;
            f->wanted[kind] = false;
            Publish(*f);
            OldFramesWatch(env, FieldId(f), kind, false);
            if (f->instrumented && !f->wanted[kAccessWatch] && !f->wanted[kModificationWatch]) {
                Uninstrument(env, f);
            }
        }
        if (result != -1) return result;
    }
    return static_cast<jvmdiError>(GateClearWatch(kind, clazz, field));
}


bool FieldSitesWanted() {
    if (t_retransformingSites) return true;
    OsLockGuard held(&g_fi.state);
    return g_fi.instrumentedCount > 0;
}

namespace {
static_assert(kMaxAccessSites <= (1 << (31 - kFieldSiteShift)), "a site's id stays a positive int");

// The int a rewritten site passes: its field's id, with the site's number above it.
jint NumberedSiteId(const bytecode::FieldSiteTarget& target, const bytecode::FieldSitePlace& place) {
    const int32_t number = NumberCodeSite(*place.className, *place.methodName, *place.sourceFile, place.line);
    return target.id | static_cast<jint>(static_cast<uint32_t>(number) << kFieldSiteShift);
}
}  // namespace

PassResult FieldSitesPass(LoadingClass* c, const uint8_t* data, size_t size) {
    PassResult result;
    if (c->name == nullptr || !FieldSitesWanted()) return result;
    JNIEnv* jni = c->jni;
    const std::string className = c->name;
    std::vector<bytecode::FieldSiteTarget> targets;
    ArrivingClass arriving;
    arriving.name = className;
    arriving.data = data;
    arriving.size = size;
    {
        OsLockGuard held(&g_fi.state);
        for (WatchedField& f : g_fi.fields) {
            if (!f.instrumented || !MayAccess(jni, f, c->loader, className)) continue;
            // A class loading now that inherits the field without shadowing it names it too.
            if (c->classBeingRedefined == nullptr) OwnersOnClassLoading(FieldId(&f), f, &arriving);
            targets.push_back(TargetOf(f));
        }
    }
    if (targets.empty()) return result;
    bytecode::FieldSiteCounts counts;
    if (!bytecode::RewriteFieldSites(data, size, targets, &result.bytes, &counts, bytecode::kFieldHookClass,
                                     NumberedSiteId)) {
        result.bytes.clear();
    }
    t_refusedMethods += counts.refusedMethods;
    // Sites that cannot be handed to the VM count as refused: while arming, the field is then
    // not taken for armed.
    if (!result.bytes.empty()) result.undo = [] { ++t_refusedMethods; };
    return result;
}

void FieldInstrumentationOnClassPrepare(JNIEnv* env, jclass klass) {
    if (!FieldOwnersPending()) return;
    OsLockGuard arming(&g_fi.arming);
    for (const auto& owner : OwnersOnClassPrepare(env, klass)) {
        const WatchedField& f = g_fi.fields[static_cast<size_t>(owner.first)];
        if (f.instrumented) RetransformAll(env, ClassesNamingThrough(env, f, owner.second));
    }
}
