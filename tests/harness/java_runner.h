// Java code run for tests that see nothing of JNI (the class-file engine's, whose room does not
// see JNI's headers): class files read from the test class path and defined in loaders of their
// own, objects made, methods called and fields read and written in the test JVM
// (tests/harness/test_jvm), with every exception a call throws handed back rather than left
// pending. A member or class that cannot be found fails the running test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jvm {

// An object of the test JVM (a class, a string, an exception, ...), or null. Each one returned
// stays valid for the rest of the test process.
struct Object;
using Ref = Object*;

// A value handed to Java or returned by it; its kind is a descriptor character: Z B C S I J F D,
// L for a reference, V for none.
struct Value {
    char kind = 'V';
    int64_t integer = 0;  // Z (0 or 1), B, C, S, I, J
    double real = 0;      // F, D
    Ref ref = nullptr;    // L
};
Value Boolean(bool z);
Value Byte(int8_t b);
Value Char(uint16_t c);
Value Short(int16_t s);
Value Int(int32_t i);
Value Long(int64_t j);
Value Float(float f);
Value Double(double d);
Value Reference(Ref l);

// What a call returned (V for void), or the exception it threw (then the value is V).
struct Outcome {
    Value value;
    Ref thrown = nullptr;
};

// The class file of `resource` on the system class path (empty when there is none).
std::vector<uint8_t> ClassBytes(const char* resource);

// A class by its internal name, from the system class loader.
Ref FindClass(const char* name);

// Defines `bytes` in a class loader of its own (so the system loader's copy stays untouched).
// Returns null, with the exception described, when the VM refuses the class.
Ref DefineInFreshLoader(const char* name, const std::vector<uint8_t>& bytes);

// Whether `clazz` has the method; looking it up links (and so verifies) and initialises the
// class. False, with the exception described, when it does not or the class fails to link.
bool HasMethod(Ref clazz, const char* name, const char* descriptor);

// A new instance of `clazz` made by its constructor of `descriptor`.
Outcome New(Ref clazz, const char* descriptor, const std::vector<Value>& args);

// Calls the method of `self`'s class, or the static method of `clazz`.
Outcome Call(Ref self, const char* name, const char* descriptor, const std::vector<Value>& args);
Outcome CallStatic(Ref clazz, const char* name, const char* descriptor, const std::vector<Value>& args);

// A field of `object` (looked up on its class and the classes it extends), or a static field.
Value Field(Ref object, const char* name, const char* descriptor);
void SetField(Ref object, const char* name, const char* descriptor, Value value);
Value StaticField(Ref clazz, const char* name, const char* descriptor);

Ref String(const std::string& text);
Ref IntArray(size_t length);
std::vector<int32_t> Ints(Ref intArray);

// String.valueOf(o): a string as itself, null as "null".
std::string Text(Ref o);
// The name of `o`'s class, as Class.getName gives it.
std::string ClassName(Ref o);
bool Same(Ref a, Ref b);
// Whether `o` is an instance of the class `name` (an internal name, or an array's descriptor).
bool IsInstance(Ref o, const char* name);

}  // namespace jvm
