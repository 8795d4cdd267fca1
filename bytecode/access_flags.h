// The access flags of classes, fields and methods, as class files and JVMTI's modifiers write them.
#pragma once

#include <cstdint>

namespace bytecode {
constexpr uint16_t kAccPublic = 0x0001;
constexpr uint16_t kAccPrivate = 0x0002;
constexpr uint16_t kAccProtected = 0x0004;
constexpr uint16_t kAccStatic = 0x0008;
constexpr uint16_t kAccNative = 0x0100;
constexpr uint16_t kAccAbstract = 0x0400;
}  // namespace bytecode
