#include "bytecode/method_code.h"

#include "bytecode/code_reader.h"
#include "bytecode/code_writer.h"

namespace bytecode {

MethodContext ContextOf(const ClassFile& cls, const Member& method) {
    MethodContext c;
    c.major = cls.major;
    const std::string* name = cls.pool.Utf8(method.name);
    const std::string* descriptor = cls.pool.Utf8(method.descriptor);
    const std::string* thisClass = cls.pool.ClassName(cls.thisClass);
    // Before version 51 a <clinit> is the class initialiser whatever its flags say.
    c.isStatic = (method.access & kAccStatic) != 0 || (name != nullptr && *name == "<clinit>");
    c.isConstructor = name != nullptr && *name == "<init>";
    if (descriptor != nullptr) c.descriptor = *descriptor;
    if (thisClass != nullptr) c.thisClass = *thisClass;
    return c;
}

Refusal ReadMethodCode(const ClassFile& cls, Member* method, Code* out) {
    const Attribute* code = FindCodeAttribute(cls, method);
    if (code == nullptr) return Refusal::kNoCode;
    return DecodeCode(cls.pool, ContextOf(cls, *method), code->bytes.data(), code->bytes.size(), out);
}

Refusal WriteMethodCode(ClassFile* cls, Member* method, const Code& code) {
    Attribute* attribute = FindCodeAttribute(*cls, method);
    if (attribute == nullptr) return Refusal::kNoCode;
    const size_t poolSize = cls->pool.entries.size();
    std::vector<uint8_t> bytes;
    const Refusal refusal = EncodeCode(code, ContextOf(*cls, *method), &cls->pool, &bytes);
    if (refusal != Refusal::kNone) {
        cls->pool.entries.resize(poolSize);  // what the failed attempt added
        return refusal;
    }
    attribute->bytes = std::move(bytes);
    return Refusal::kNone;
}

}  // namespace bytecode
