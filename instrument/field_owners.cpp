#include "instrument/field_owners.h"

// Lock order: the owners' lock is a leaf, taken under the field arming lock and the field table's
// lock (see instrument/field_instrumentation.cpp); the event switches' lock is taken after it is
// released.

#include <algorithm>
#include <atomic>

#include "bridge/declared_members.h"
#include "bridge/event_switches.h"
#include "bytecode/class_file.h"
#include "platform/os.h"

namespace {
// A loaded class, not yet prepared when its field was armed, that may inherit it.
struct Unprepared {
    jint id;
    std::string className;
    OwnedField field;
};

struct FieldOwners {
    jvmtiEnv* jvmti = nullptr;
    OsLock lock;
    std::vector<std::vector<std::string>> byField;  // the owners of each field id
    // Owners found late whose ClassPrepare is awaited: classes loaded before them may name the
    // field through them, and are rewritten again once they are prepared.
    std::vector<std::pair<jint, std::string>> late;
    std::vector<Unprepared> unprepared;
    std::atomic<bool> pending{false};  // late or unprepared owners wait
};

FieldOwners g_owners;

std::vector<std::string>& OwnersOfLocked(jint id) {
    if (g_owners.byField.size() <= static_cast<size_t>(id)) g_owners.byField.resize(static_cast<size_t>(id) + 1);
    return g_owners.byField[static_cast<size_t>(id)];
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

void WantClassPrepare() { WantEvent(JVMTI_EVENT_CLASS_PREPARE, EventClient::kFieldOwners, true); }

// 1 when `clazz` declares the field, 0 when not, -1 when its fields are not known yet (a class
// not yet prepared).
int DeclaresField(jclass clazz, const std::string& name, const std::string& descriptor) {
    std::vector<DeclaredMember> fields;
    if (!DeclaredFields(g_owners.jvmti, clazz, &fields)) return -1;
    for (const DeclaredMember& f : fields) {
        if (f.name == name && f.signature == descriptor) return 1;
    }
    return 0;
}

// JVMS 5.4.3.2 field resolution from `clazz`: the class itself, its superinterfaces, then its
// superclass. Returns the declaring class as a local reference, or null (also when a class on
// the way is not prepared yet).
jclass Resolve(JNIEnv* env, jclass clazz, const std::string& name, const std::string& descriptor, int depth = 0) {
    if (clazz == nullptr || depth > 64) return nullptr;
    const int declares = DeclaresField(clazz, name, descriptor);
    if (declares < 0) return nullptr;
    if (declares > 0) return static_cast<jclass>(env->NewLocalRef(clazz));
    jint count = 0;
    jclass* interfaces = nullptr;
    jclass found = nullptr;
    if (g_owners.jvmti->GetImplementedInterfaces(clazz, &count, &interfaces) == JVMTI_ERROR_NONE) {
        for (jint i = 0; i < count; ++i) {
            if (found == nullptr) found = Resolve(env, interfaces[i], name, descriptor, depth + 1);
            env->DeleteLocalRef(interfaces[i]);
        }
        g_owners.jvmti->Deallocate(reinterpret_cast<unsigned char*>(interfaces));
    }
    if (found != nullptr) return found;
    jclass super = env->GetSuperclass(clazz);
    found = Resolve(env, super, name, descriptor, depth + 1);
    if (super != nullptr) env->DeleteLocalRef(super);
    return found;
}

// Whether a field reference of `clazz` resolves to `field`.
bool ResolvesTo(JNIEnv* env, jclass clazz, const OwnedField& field) {
    jclass declaring = Resolve(env, clazz, field.name, field.descriptor);
    const bool same = declaring != nullptr && env->IsSameObject(declaring, field.declaringClass);
    if (declaring != nullptr) env->DeleteLocalRef(declaring);
    return same;
}

// The class the class file in `data` extends (internal name), or "".
std::string SuperOf(const uint8_t* data, size_t size) {
    bytecode::ClassFile cls;
    if (bytecode::ParseClassFile(data, size, &cls) != bytecode::Refusal::kNone) return "";
    const std::string* super = cls.pool.ClassName(cls.superClass);
    return super == nullptr ? "" : *super;
}

// Whether the class file in `data` declares a field of that name and descriptor.
bool FileDeclares(const uint8_t* data, size_t size, const std::string& name, const std::string& descriptor) {
    bytecode::ClassFile cls;
    if (bytecode::ParseClassFile(data, size, &cls) != bytecode::Refusal::kNone) return false;
    for (const bytecode::Member& m : cls.fields) {
        const std::string* n = cls.pool.Utf8(m.name);
        const std::string* d = cls.pool.Utf8(m.descriptor);
        if (n != nullptr && d != nullptr && *n == name && *d == descriptor) return true;
    }
    return false;
}
}  // namespace

void FieldOwnersInit(jvmtiEnv* jvmti) {
    OsLockInit(&g_owners.lock);
    g_owners.jvmti = jvmti;
}

std::string ClassNameOf(jclass clazz) {
    char* signature = nullptr;
    if (g_owners.jvmti->GetClassSignature(clazz, &signature, nullptr) != JVMTI_ERROR_NONE) return "";
    std::string s = signature;
    g_owners.jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    if (s.size() < 2 || s[0] != 'L') return s;  // arrays and primitives keep their descriptor
    return s.substr(1, s.size() - 2);
}

void FindOwnersAmongLoaded(JNIEnv* env, jint id, const OwnedField& field, const jclass* classes, jint count) {
    std::vector<std::string> owners = {field.className};
    std::vector<std::string> unprepared;
    for (jint i = 0; i < count; ++i) {
        if (env->IsSameObject(classes[i], field.declaringClass) ||
            !env->IsAssignableFrom(classes[i], field.declaringClass)) {
            continue;
        }
        if (ResolvesTo(env, classes[i], field)) {
            owners.push_back(ClassNameOf(classes[i]));
        } else if (DeclaresField(classes[i], field.name, field.descriptor) < 0) {
            unprepared.push_back(ClassNameOf(classes[i]));
        }
    }
    {
        OsLockGuard held(&g_owners.lock);
        OwnersOfLocked(id) = owners;
        for (const std::string& name : unprepared) g_owners.unprepared.push_back({id, name, field});
        if (!unprepared.empty()) g_owners.pending.store(true, std::memory_order_release);
    }
    if (!unprepared.empty()) WantClassPrepare();
}

std::vector<std::string> OwnersOf(jint id) {
    OsLockGuard held(&g_owners.lock);
    return OwnersOfLocked(id);
}

void OwnersOnClassLoading(jint id, const OwnedField& field, ArrivingClass* arriving) {
    if (arriving->name == field.className) return;
    if (!arriving->superRead) arriving->super = SuperOf(arriving->data, arriving->size);
    arriving->superRead = true;
    bool late = false;
    {
        OsLockGuard held(&g_owners.lock);
        std::vector<std::string>& owners = OwnersOfLocked(id);
        if (!arriving->super.empty() && Contains(owners, arriving->super) && !Contains(owners, arriving->name) &&
            !FileDeclares(arriving->data, arriving->size, field.name, field.descriptor)) {
            owners.push_back(arriving->name);
            g_owners.late.emplace_back(id, arriving->name);
            g_owners.pending.store(true, std::memory_order_release);
            late = true;
        }
    }
    if (late) WantClassPrepare();
}

std::vector<std::pair<jint, std::string>> OwnersOnClassPrepare(JNIEnv* env, jclass klass) {
    std::vector<std::pair<jint, std::string>> late;
    std::vector<Unprepared> inherited;  // the fields armed while `klass` was not prepared
    std::string name;
    {
        OsLockGuard held(&g_owners.lock);
        late.swap(g_owners.late);
        name = g_owners.unprepared.empty() ? "" : ClassNameOf(klass);
        for (size_t i = 0; i < g_owners.unprepared.size();) {
            if (g_owners.unprepared[i].className == name) {
                inherited.push_back(g_owners.unprepared[i]);
                g_owners.unprepared.erase(g_owners.unprepared.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        g_owners.pending.store(!g_owners.unprepared.empty(), std::memory_order_release);
    }
    for (const Unprepared& u : inherited) {
        if (!ResolvesTo(env, klass, u.field)) continue;
        {
            OsLockGuard held(&g_owners.lock);
            OwnersOfLocked(u.id).push_back(name);
        }
        late.emplace_back(u.id, name);
    }
    WantEvent(JVMTI_EVENT_CLASS_PREPARE, EventClient::kFieldOwners, FieldOwnersPending());
    return late;
}

bool FieldOwnersPending() { return g_owners.pending.load(std::memory_order_acquire); }
