// Field and method descriptors (JVMS 4.3), read with every index checked.
#pragma once

#include <string>
#include <vector>

#include "bytecode/code.h"

namespace bytecode {

// The length of the field descriptor starting at `from`, or 0 when none starts there.
size_t FieldDescriptorLength(const std::string& s, size_t from);

// Splits "(IJLjava/lang/String;)V" into its parameters' descriptors and the return type's
// ("V" for void). False when it does not parse.
bool ParseMethodDescriptor(const std::string& descriptor, std::vector<std::string>* parameters,
                           std::string* returnType);

// The verification type of a value of the field descriptor (boolean, byte, char and short are
// int). An object or array type carries its class name, "java/lang/String" or "[I", for the
// writer to find or add in the pool.
VerificationType TypeOfDescriptor(const std::string& fieldDescriptor);

VerificationType ObjectType(const std::string& className);

// The hooks' value kinds: I (int, short, byte, char and boolean, ints on the stack), J, F, D or
// L (any reference). Whether a kind takes two stack slots, and the descriptor a hook takes it as.
inline bool IsWideKind(char kind) { return kind == 'J' || kind == 'D'; }
inline const char* TypeOfKind(char kind) {
    switch (kind) {
        case 'J': return "J";
        case 'F': return "F";
        case 'D': return "D";
        case 'L': return "Ljava/lang/Object;";
        default: return "I";
    }
}

}  // namespace bytecode
