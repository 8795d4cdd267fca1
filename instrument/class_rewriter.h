// A class file rewriter that makes chosen methods begin with a call of the entry hook:
//
//     aload_0 (aconst_null in a static method); ldc_w <the probe's id>;
//     invokestatic com/vexo/internal/EntryHook.enter(Ljava/lang/Object;I)V; nop
//
// The prefix is 8 bytes, a multiple of 4, so the padding of switch instructions is unchanged
// and every relative branch stays valid; the code offsets of the exception table, the stack
// map, and the line and local variable tables move by 8. Methods the rewriter cannot handle
// safely (constructors, methods without code, code that would grow beyond 65535 bytes, code
// attributes it does not know) are left as they are, and each probe says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr const char* kEntryHookClass = "com/vexo/internal/EntryHook";
constexpr const char* kEntryHookMethod = "enter";
constexpr const char* kEntryHookDescriptor = "(Ljava/lang/Object;I)V";

// Why a probe's method was left as it was.
enum class ProbeRefusal : uint8_t {
    kNone,                  // instrumented
    kMethodNotFound,        // the class declares no method of that name and descriptor
    kConstructor,           // <init>: its receiver is not initialised at entry
    kNoCode,                // native, abstract, or without a Code attribute
    kCodeTooLong,           // the code would outgrow 65535 bytes with the prefix
    kUnknownCodeAttribute,  // a Code attribute that may hold code offsets the rewriter does not know
    kMalformedCode,         // the Code attribute or one of its tables does not parse
    kMalformedClass,        // the class file does not parse
    kConstantPoolFull,      // the constant pool has no room for the hook's constants
};

// A short name of the reason, e.g. "code too long".
const char* ProbeRefusalName(ProbeRefusal refusal);

struct EntryProbe {
    std::string name;        // e.g. "deposit"
    std::string descriptor;  // e.g. "(J)V"
    int32_t id;              // handed to the hook
    bool instrumented;       // out: the method now begins with the hook call
    ProbeRefusal refusal = ProbeRefusal::kNone;  // out: why not, when not instrumented
};

// A method a class file declares that the rewriter could instrument (not a constructor, not
// native or abstract).
struct DeclaredMethod {
    std::string name;
    std::string descriptor;
    uint16_t access = 0;  // its access flags, as the class file has them
};

// The instrumentable methods of the class file in `data`, and the internal name of its super
// class when `superName` is given (empty for java/lang/Object). False for a malformed class file.
bool ListInstrumentableMethods(const uint8_t* data, size_t size, std::vector<DeclaredMethod>* out,
                               std::string* superName = nullptr);

// Rewrites the class file in `data`. Returns false (and leaves `out` empty, and every probe
// uninstrumented) when the class file is malformed or no probe's method could be instrumented.
bool RewriteClass(const uint8_t* data, size_t size, std::vector<EntryProbe>* probes,
                  std::vector<uint8_t>* out);
