// What a class file says of its place in the class hierarchy: its own name, its superclass's and
// its interfaces'. The sweep defines classes in an order where each comes after those it extends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ClassHeader {
    uint32_t majorVersion = 0;
    std::string name;                     // internal form, e.g. "org/h2/Driver"
    std::string superName;                // empty for java/lang/Object
    std::vector<std::string> interfaces;
};

// False when the class file does not parse as far as its interfaces.
bool ReadClassHeader(const std::vector<uint8_t>& bytes, ClassHeader* out);

// The classes' indices in an order where every class comes after its superclass and interfaces
// among `headers` (cycles, which no loadable class has, are broken anywhere).
std::vector<size_t> SupertypesFirst(const std::vector<ClassHeader>& headers);
