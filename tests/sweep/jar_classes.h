// The class files of a jar, read through the embedded JVM's java.util.zip.ZipFile.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

struct JarClass {
    std::string entry;  // e.g. "org/h2/Driver.class"
    std::vector<uint8_t> bytes;
};

// Every entry of the jar at `path` whose name ends in ".class", but module-info.class and the
// versioned entries of a multi-release jar. False, with `error` set, when the jar cannot be read.
bool ReadJarClasses(JNIEnv* env, const std::string& path, std::vector<JarClass>* out,
                    std::string* error);

// The message of the pending exception (cleared), or `fallback` when there is none.
std::string TakeExceptionMessage(JNIEnv* env, const char* fallback);
