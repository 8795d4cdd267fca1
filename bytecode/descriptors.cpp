#include "bytecode/descriptors.h"

namespace bytecode {

size_t FieldDescriptorLength(const std::string& s, size_t from) {
    size_t i = from;
    while (i < s.size() && s[i] == '[') ++i;
    if (i - from > 255 || i >= s.size()) return 0;
    switch (s[i]) {
        case 'B': case 'C': case 'D': case 'F': case 'I': case 'J': case 'S': case 'Z':
            return i + 1 - from;
        case 'L': {
            const size_t end = s.find(';', i);
            if (end == std::string::npos || end == i + 1) return 0;
            return end + 1 - from;
        }
        default: return 0;
    }
}

bool ParseMethodDescriptor(const std::string& descriptor, std::vector<std::string>* parameters,
                           std::string* returnType) {
    parameters->clear();
    if (descriptor.empty() || descriptor[0] != '(') return false;
    size_t i = 1;
    while (i < descriptor.size() && descriptor[i] != ')') {
        const size_t n = FieldDescriptorLength(descriptor, i);
        if (n == 0) return false;
        parameters->push_back(descriptor.substr(i, n));
        i += n;
    }
    if (i >= descriptor.size()) return false;
    ++i;
    if (descriptor.size() == i + 1 && descriptor[i] == 'V') {
        *returnType = "V";
        return true;
    }
    const size_t n = FieldDescriptorLength(descriptor, i);
    if (n == 0 || i + n != descriptor.size()) return false;
    *returnType = descriptor.substr(i);
    return true;
}

VerificationType ObjectType(const std::string& className) {
    VerificationType t;
    t.tag = kObject;
    t.className = className;
    return t;
}

VerificationType TypeOfDescriptor(const std::string& d) {
    VerificationType t;
    if (d.empty()) return t;
    switch (d[0]) {
        case 'B': case 'C': case 'I': case 'S': case 'Z': t.tag = kInteger; return t;
        case 'F': t.tag = kFloat; return t;
        case 'J': t.tag = kLong; return t;
        case 'D': t.tag = kDouble; return t;
        case 'L': return ObjectType(d.size() > 2 ? d.substr(1, d.size() - 2) : std::string());
        case '[': return ObjectType(d);
        default: return t;
    }
}

}  // namespace bytecode
