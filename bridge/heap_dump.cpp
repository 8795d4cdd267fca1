#include "bridge/heap_dump.h"

#include <cstring>
#include <unordered_map>

#include "bridge/object_ids.h"
#include "bridge/jvmti_env.h"
#include "registry/class_descriptor.h"

namespace {
void Id(std::vector<uint8_t>* out, jobjectID id) {
    uint8_t bytes[4];
    std::memcpy(bytes, &id, 4);  // the machine's own order
    out->insert(out->end(), bytes, bytes + 4);
}

void U2(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v >> 8));
    out->push_back(static_cast<uint8_t>(v));
}

void U4(std::vector<uint8_t>* out, uint32_t v) {
    U2(out, v >> 16);
    U2(out, v);
}

void Zeros(std::vector<uint8_t>* out, size_t n) { out->insert(out->end(), n, 0); }

// What an object of a class needs in the dump.
struct Shape {
    uint32_t instanceBytes = 0;  // own and inherited instance fields
    int primitiveElement = 0;
    bool objectArray = false;
    jobjectID componentId = 0;
};

// The instance bytes of `clazz` and its superclasses, remembered per class.
uint32_t InstanceBytes(JNIEnv* env, jclass clazz, const ClassFacts& facts,
                       std::unordered_map<jobjectID, uint32_t>* memo) {
    auto found = memo->find(facts.id);
    if (found != memo->end()) return found->second;
    uint32_t bytes = facts.ownInstanceBytes;
    jclass super = env->GetSuperclass(clazz);
    if (super != nullptr) {
        ClassFacts superFacts;
        GatherClassFacts(env, super, &superFacts);
        bytes += InstanceBytes(env, super, superFacts, memo);
        env->DeleteLocalRef(super);
    }
    memo->emplace(facts.id, bytes);
    return bytes;
}

jobjectID ComponentId(JNIEnv* env, jclass arrayClass) {
    jclass classClass = env->GetObjectClass(arrayClass);
    jmethodID getComponent = env->GetMethodID(classClass, "getComponentType", "()Ljava/lang/Class;");
    jobject component = getComponent != nullptr ? env->CallObjectMethod(arrayClass, getComponent) : nullptr;
    env->ExceptionClear();
    env->DeleteLocalRef(classClass);
    const jobjectID id = IdOfObject(env, component);
    if (component != nullptr) env->DeleteLocalRef(component);
    return id;
}

// The record of one object (an instance when `length` is negative, else an array).
void AppendObjectDump(jobjectID id, jobjectID classId, jint length, const Shape& known,
                      std::vector<uint8_t>* out) {
    const auto count = static_cast<uint32_t>(length < 0 ? 0 : length);
    if (length < 0) {
        out->push_back(JVMPI_GC_INSTANCE_DUMP);
        Id(out, id);
        Id(out, classId);
        U4(out, known.instanceBytes);
        Zeros(out, known.instanceBytes);
    } else if (known.primitiveElement != 0) {
        out->push_back(JVMPI_GC_PRIM_ARRAY_DUMP);
        Id(out, id);
        U4(out, count);
        out->push_back(static_cast<uint8_t>(known.primitiveElement));
        Zeros(out, size_t{count} * static_cast<size_t>(kTypeSizeTable[known.primitiveElement]));
    } else {
        out->push_back(JVMPI_GC_OBJ_ARRAY_DUMP);
        Id(out, id);
        U4(out, count);
        Id(out, known.componentId);
        Zeros(out, size_t{count} * 4);
    }
}
}  // namespace

void AppendClassDump(const ClassFacts& facts, uint32_t instanceSize, std::vector<uint8_t>* out) {
    out->push_back(JVMPI_GC_CLASS_DUMP);
    Id(out, facts.id);
    Id(out, facts.superId);
    Id(out, facts.loaderId);
    Id(out, 0);  // signers
    Id(out, 0);  // protection domain
    Id(out, 0);  // the name's String
    Id(out, 0);  // reserved
    U4(out, instanceSize);
    for (jobjectID i : facts.interfaces) Id(out, i);
    U2(out, 0);  // no constant pool entries, as HotSpot wrote them
    Zeros(out, facts.staticBytes);
}

void BuildHeapDump(JNIEnv* env, std::vector<uint8_t>* out) {
    jvmtiEnv* jvmti = g_bridge.jvmti;
    out->clear();
    std::unordered_map<jobjectID, uint32_t> memo;
    jint count = 0;
    jclass* loaded = nullptr;
    if (jvmti->GetLoadedClasses(&count, &loaded) != JVMTI_ERROR_NONE) return;
    if (env->EnsureLocalCapacity(count) != JNI_OK) env->ExceptionClear();
    for (jint i = 0; i < count; ++i) {
        if (env->PushLocalFrame(32) == JNI_OK) {
            ClassFacts facts;
            GatherClassFacts(env, loaded[i], &facts);
            if (facts.prepared) AppendClassDump(facts, InstanceBytes(env, loaded[i], facts, &memo), out);
            env->PopLocalFrame(nullptr);
        } else {
            env->ExceptionClear();
        }
        env->DeleteLocalRef(loaded[i]);
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(loaded));
}

void BuildObjectDump(JNIEnv* env, jobject object, std::vector<uint8_t>* out) {
    out->clear();
    jclass classClass = env->FindClass("java/lang/Class");
    const bool isClass = classClass != nullptr && env->IsInstanceOf(object, classClass);
    env->ExceptionClear();
    if (classClass != nullptr) env->DeleteLocalRef(classClass);
    jclass clazz = isClass ? static_cast<jclass>(object) : env->GetObjectClass(object);
    ClassFacts facts;
    GatherClassFacts(env, clazz, &facts);
    std::unordered_map<jobjectID, uint32_t> memo;
    const uint32_t instanceBytes = InstanceBytes(env, clazz, facts, &memo);
    if (isClass) {
        AppendClassDump(facts, instanceBytes, out);
        return;
    }
    Shape shape;
    shape.instanceBytes = instanceBytes;
    shape.primitiveElement = facts.primitiveElement;
    shape.objectArray = facts.objectArray;
    if (facts.objectArray) shape.componentId = ComponentId(env, clazz);
    const jint length = facts.primitiveElement != 0 || facts.objectArray
                            ? env->GetArrayLength(static_cast<jarray>(object)) : -1;
    AppendObjectDump(IdOfObject(env, object), facts.id, length, shape, out);
    env->DeleteLocalRef(clazz);
}
