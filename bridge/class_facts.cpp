#include "bridge/class_facts.h"

#include "bridge/declared_members.h"
#include "bridge/object_ids.h"
#include "bridge/jvmti_env.h"
#include "bytecode/access_flags.h"
#include "registry/class_descriptor.h"

namespace {
using bytecode::kAccStatic;
// Interfaces whose references fit in the room every caller leaves for the class's facts.
constexpr jint kPlannedInterfaces = 16;

std::string DottedName(const char* signature) {
    std::string name = signature;
    if (!name.empty() && name[0] == 'L' && name.back() == ';') name = name.substr(1, name.size() - 2);
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    return name;
}

int PrimitiveCode(char c) {
    switch (c) {
        case 'Z': return JVMPI_BOOLEAN;
        case 'C': return JVMPI_CHAR;
        case 'F': return JVMPI_FLOAT;
        case 'D': return JVMPI_DOUBLE;
        case 'B': return JVMPI_BYTE;
        case 'S': return JVMPI_SHORT;
        case 'I': return JVMPI_INT;
        case 'J': return JVMPI_LONG;
        default: return 0;
    }
}

void GatherFields(jclass clazz, ClassFacts* facts) {
    std::vector<DeclaredMember> fields;
    DeclaredFields(g_bridge.jvmti, clazz, &fields);
    for (const DeclaredMember& f : fields) {
        const uint32_t size = DumpValueSize(f.signature.c_str());
        if (f.modifiers & kAccStatic) {
            facts->statics.emplace_back(f.name, f.signature);
            facts->staticBytes += size;
        } else {
            facts->ownInstanceBytes += size;
        }
    }
}
}  // namespace

uint32_t DumpValueSize(const char* signature) {
    return static_cast<uint32_t>(kTypeSizeTable[SignatureTypeCode(signature)]);
}

void GatherClassIdentity(JNIEnv* env, jclass clazz, ClassFacts* facts) {
    jvmtiEnv* jvmti = g_bridge.jvmti;
    *facts = ClassFacts{};
    facts->id = IdOfObject(env, clazz);
    jint status = 0;
    jvmti->GetClassStatus(clazz, &status);
    facts->prepared = (status & (JVMTI_CLASS_STATUS_PREPARED | JVMTI_CLASS_STATUS_ARRAY)) != 0;
    char* signature = nullptr;
    if (jvmti->GetClassSignature(clazz, &signature, nullptr) == JVMTI_ERROR_NONE) {
        facts->name = DottedName(signature);
        if (signature[0] == '[') {
            facts->primitiveElement = signature[2] == '\0' ? PrimitiveCode(signature[1]) : 0;
            facts->objectArray = facts->primitiveElement == 0;
        }
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    }
}

void GatherClassFacts(JNIEnv* env, jclass clazz, ClassFacts* facts) {
    jvmtiEnv* jvmti = g_bridge.jvmti;
    GatherClassIdentity(env, clazz, facts);
    jclass super = env->GetSuperclass(clazz);
    facts->superId = IdOfObject(env, super);
    if (super != nullptr) env->DeleteLocalRef(super);
    jobject loader = nullptr;
    if (jvmti->GetClassLoader(clazz, &loader) == JVMTI_ERROR_NONE && loader != nullptr) {
        facts->loaderId = IdOfObject(env, loader);
        env->DeleteLocalRef(loader);
    }
    jint count = 0;
    jclass* interfaces = nullptr;
    if (jvmti->GetImplementedInterfaces(clazz, &count, &interfaces) == JVMTI_ERROR_NONE) {
        // JVMTI made a reference per interface in the caller's frame, beyond the room callers
        // plan for when there are many. A frame pushed now is planned by -Xcheck:jni from
        // everything live, those references included; they are deleted inside it.
        const bool framed = count > kPlannedInterfaces && env->PushLocalFrame(count) == JNI_OK;
        for (jint i = 0; i < count; ++i) {
            facts->interfaces.push_back(IdOfObject(env, interfaces[i]));
            env->DeleteLocalRef(interfaces[i]);
        }
        if (framed) env->PopLocalFrame(nullptr);
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(interfaces));
    }
    GatherFields(clazz, facts);
}
