#include "instrument/class_file_passes.h"

#include <cstring>

#include "core/error_out.h"

void RunClassFilePasses(jvmtiEnv* jvmti, LoadingClass* c, std::initializer_list<ClassFilePass> passes,
                        const unsigned char* data, jint length, jint* newLength, unsigned char** newData) {
    std::vector<uint8_t> bytes;  // the last class file a pass made; empty while none did
    std::vector<std::function<void()>> undos;
    for (ClassFilePass pass : passes) {
        const bool changed = !bytes.empty();
        PassResult result = pass(c, changed ? bytes.data() : data, changed ? bytes.size() : static_cast<size_t>(length));
        if (result.bytes.empty()) continue;
        bytes.swap(result.bytes);  // the previous class file goes with `result`
        if (result.undo) undos.push_back(std::move(result.undo));
    }
    if (bytes.empty()) return;
    unsigned char* memory = nullptr;
    if (jvmti->Allocate(static_cast<jlong>(bytes.size()), &memory) == JVMTI_ERROR_NONE) {
        std::memcpy(memory, bytes.data(), bytes.size());
        *newLength = static_cast<jint>(bytes.size());
        *newData = memory;
        return;
    }
    // The class stays as it was: neither its probes nor its field sites are in place.
    ErrorOut("Vexo error:  no memory for the rewritten class %s: it stays as it was\n",
             c->name != nullptr ? c->name : "?");
    for (const std::function<void()>& undo : undos) undo();
}
