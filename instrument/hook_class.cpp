#include "instrument/hook_class.h"

#include <utility>

#include "bytecode/class_file.h"
#include "instrument/stack_capture.h"

namespace {
void U2(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v >> 8));
    out->push_back(static_cast<uint8_t>(v));
}

void U4(std::vector<uint8_t>* out, uint32_t v) {
    U2(out, static_cast<uint16_t>(v >> 16));
    U2(out, static_cast<uint16_t>(v));
}

// The Code attribute of a gated hook (locals: the object, the id, the owners, the owner):
//    0 getstatic closed     3 ifeq 13             6 iload_1     7 getstatic passId
//   10 if_icmpne 52
//   13 getstatic owners    16 astore_2           17 aload_2    18 ifnull 47
//   21 aload_0             22 ifnull 47          25 iload_1    26 aload_2    27 arraylength
//   28 if_icmpge 47        31 aload_2 iload_1 aaload           34 astore_3   35 aload_3
//   36 ifnull 47           39 aload_3 aload_0    41 invokevirtual Class.isInstance   44 ifeq 52
//   47 aload_0 iload_1 invokestatic native                     52 return
bytecode::Attribute GateCode(bytecode::ClassFile* cls, const char* className, const GatedHook& g) {
    auto& pool = cls->pool;
    const uint16_t closed = pool.FieldrefIndex(className, kGateClosedField, "Z");
    const uint16_t pass = pool.FieldrefIndex(className, kGatePassField, "I");
    const uint16_t owners = pool.FieldrefIndex(className, kGateOwnersField, kGateOwnersDescriptor);
    const uint16_t isInstance = pool.MethodrefIndex("java/lang/Class", "isInstance", "(Ljava/lang/Object;)Z");
    const uint16_t target = pool.MethodrefIndex(className, g.nativeName, kGatedDescriptor);
    auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
    auto lo = [](uint16_t v) { return static_cast<uint8_t>(v); };
    const std::vector<uint8_t> code = {
        0xb2, hi(closed), lo(closed),  // 0
        0x99, 0x00, 10,                // 3 ifeq 13
        0x1b,                          // 6
        0xb2, hi(pass), lo(pass),      // 7
        0xa0, 0x00, 42,                // 10 if_icmpne 52
        0xb2, hi(owners), lo(owners),  // 13
        0x4d,                          // 16 astore_2
        0x2c,                          // 17 aload_2
        0xc6, 0x00, 29,                // 18 ifnull 47
        0x2a,                          // 21 aload_0
        0xc6, 0x00, 25,                // 22 ifnull 47
        0x1b, 0x2c, 0xbe,              // 25 iload_1 aload_2 arraylength
        0xa2, 0x00, 19,                // 28 if_icmpge 47
        0x2c, 0x1b, 0x32,              // 31 aload_2 iload_1 aaload
        0x4e, 0x2d,                    // 34 astore_3 aload_3
        0xc6, 0x00, 11,                // 36 ifnull 47
        0x2d, 0x2a,                    // 39 aload_3 aload_0
        0xb6, hi(isInstance), lo(isInstance),  // 41
        0x99, 0x00, 8,                 // 44 ifeq 52
        0x2a, 0x1b,                    // 47 aload_0 iload_1
        0xb8, hi(target), lo(target),  // 49
        0xb1,                          // 52
    };
    bytecode::Attribute attr;
    attr.name = pool.Utf8Index("Code");
    U2(&attr.bytes, 2);  // max stack
    U2(&attr.bytes, 4);  // max locals
    U4(&attr.bytes, static_cast<uint32_t>(code.size()));
    attr.bytes.insert(attr.bytes.end(), code.begin(), code.end());
    U2(&attr.bytes, 0);  // no exception handlers
    U2(&attr.bytes, 1);  // the stack map: the arguments alone, nothing on the stack, at each target
    U2(&attr.bytes, pool.Utf8Index("StackMapTable"));
    U4(&attr.bytes, 5);
    U2(&attr.bytes, 3);
    attr.bytes.push_back(13);           // same frame at 13
    attr.bytes.push_back(47 - 13 - 1);  // at 47
    attr.bytes.push_back(52 - 47 - 1);  // at 52
    return attr;
}

std::vector<uint8_t> HookClassFile(const char* className, const std::vector<HookNative>& natives,
                                   const std::vector<GatedHook>& gated = {}) {
    using namespace bytecode;
    ClassFile cls;
    cls.major = 52;
    cls.pool.entries.resize(1);
    cls.access = 0x0031;  // public final super
    cls.thisClass = cls.pool.ClassIndex(className);
    cls.superClass = cls.pool.ClassIndex("java/lang/Object");
    for (const HookNative& h : natives) {
        Member m;
        m.access = 0x0109;  // public static native
        m.name = cls.pool.Utf8Index(h.name);
        m.descriptor = cls.pool.Utf8Index(h.descriptor);
        cls.methods.push_back(m);
    }
    if (!gated.empty()) {
        const std::pair<const char*, const char*> fields[] = {
            {kGateClosedField, "Z"}, {kGatePassField, "I"}, {kGateOwnersField, kGateOwnersDescriptor}};
        for (const auto& f : fields) {
            Member field;
            field.access = 0x0049;  // public static volatile
            field.name = cls.pool.Utf8Index(f.first);
            field.descriptor = cls.pool.Utf8Index(f.second);
            cls.fields.push_back(field);
        }
    }
    for (const GatedHook& g : gated) {
        Member m;
        m.access = 0x0009;  // public static
        m.name = cls.pool.Utf8Index(g.name);
        m.descriptor = cls.pool.Utf8Index(kGatedDescriptor);
        m.attributes.push_back(GateCode(&cls, className, g));
        cls.methods.push_back(m);
    }
    std::vector<uint8_t> bytes;
    WriteClassFile(cls, &bytes);
    return bytes;
}
}  // namespace

bool DefineHookClass(JNIEnv* env, const char* className, const std::vector<HookNative>& natives) {
    return DefineGatedHookClass(env, className, natives, {});
}

bool DefineGatedHookClass(JNIEnv* env, const char* className, const std::vector<HookNative>& natives,
                          const std::vector<GatedHook>& gated) {
    const std::vector<uint8_t> bytes = HookClassFile(className, natives, gated);
    jclass hook = env->DefineClass(className, nullptr, reinterpret_cast<const jbyte*>(bytes.data()),
                                   static_cast<jsize>(bytes.size()));
    if (hook == nullptr) {
        env->ExceptionClear();
        return false;
    }
    std::vector<JNINativeMethod> methods;
    for (const HookNative& h : natives) {
        methods.push_back({const_cast<char*>(h.name.c_str()), const_cast<char*>(h.descriptor.c_str()), h.function});
    }
    const bool bound = env->RegisterNatives(hook, methods.data(), static_cast<jint>(methods.size())) == JNI_OK;
    if (!bound) env->ExceptionClear();
    if (bound) {
        // Their frames are left out of recorded stacks (looking them up links the class, which has
        // no initialiser).
        std::vector<jmethodID> ids;
        for (const HookNative& h : natives) ids.push_back(env->GetStaticMethodID(hook, h.name.c_str(), h.descriptor.c_str()));
        for (const GatedHook& g : gated) ids.push_back(env->GetStaticMethodID(hook, g.name.c_str(), kGatedDescriptor));
        env->ExceptionClear();
        NoteHookMethods(ids.data(), static_cast<int32_t>(ids.size()));
    }
    env->DeleteLocalRef(hook);
    return bound;
}
