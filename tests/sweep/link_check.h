// Defining classes from bytes in class loaders over real jars and linking them (which verifies
// them) without running any of their initialisers.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstdint>
#include <string>
#include <vector>

enum class LinkOutcome {
    kLinked,        // defined and verified
    kVerifyError,   // java.lang.VerifyError
    kFormatError,   // java.lang.ClassFormatError (or a subclass)
    kMissingClass,  // java.lang.NoClassDefFoundError: something it needs is not there
    kOtherError,    // any other throwable
};

struct LinkResult {
    LinkOutcome outcome = LinkOutcome::kLinked;
    std::string message;     // the throwable, when there was one
    bool initialised = false;  // the class ran its initialiser (it never should here)
};

const char* LinkOutcomeName(LinkOutcome outcome);

// A fresh java.net.URLClassLoader over `jars` (their manifests' Class-Path included), whose
// parent is the system class loader. Classes defined in it share its runtime packages with the
// jars' other classes, which it loads as they are when a definition or verification needs them.
class JarLoader {
public:
    JarLoader(JNIEnv* env, const std::vector<std::string>& jars);
    ~JarLoader();
    JarLoader(const JarLoader&) = delete;
    JarLoader& operator=(const JarLoader&) = delete;

    bool ok() const { return loader_ != nullptr; }

    // Defines `bytes` as class `name` (internal form). Returns a global reference, or null with
    // `failure` set.
    jclass Define(const std::string& name, const std::vector<uint8_t>& bytes, LinkResult* failure);

    // Loads `name` (binary name, with dots) through the loader without initialising it: a global
    // reference, or null.
    jclass Find(const char* name);

private:
    JNIEnv* env_;
    jobject loader_ = nullptr;
};

// Links `clazz` (verifying it, and its superclasses first): through reflection on its declared
// fields, which links the class but never initialises it. Whether it linked comes from its JVMTI
// class status, so an error of the reflection itself after linking does not count.
LinkResult Link(JNIEnv* env, jvmtiEnv* jvmti, jclass clazz);

// Defines `bytes` in a loader of its own over `jars` and links it.
LinkResult DefineAndLink(JNIEnv* env, jvmtiEnv* jvmti, const std::vector<std::string>& jars,
                         const std::string& name, const std::vector<uint8_t>& bytes);
