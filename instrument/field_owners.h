// The owners of each watched field: the classes a field reference may name it through, its
// declaring class and the classes that inherit it without declaring a field of the same name and
// descriptor. Every class whose constant pool names the field through an owner has sites of it.
// Owners are found in three places: among the loaded classes when the field is armed
// (FindOwnersAmongLoaded), in the class file hook for a class that loads later
// (OwnersOnClassLoading), and at ClassPrepare for a class that was loaded but not prepared when
// the field was armed (OwnersOnClassPrepare). An owner found late is a new name of the field:
// classes loaded before it may name the field through it, and are rewritten again once it is
// prepared (the class prepare event stays on while such owners wait).
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What the search for owners reads of a watched field.
struct OwnedField {
    jclass declaringClass = nullptr;  // global reference
    std::string className;            // the declaring class's internal name
    std::string name;
    std::string descriptor;
};

void FieldOwnersInit(jvmtiEnv* jvmti);

// The internal name of `clazz` ("p/Main"; an array or a primitive keeps its descriptor).
std::string ClassNameOf(jclass clazz);

// When field `id` is armed: its owners from now on are its declaring class and those of the
// `count` loaded `classes` that inherit it; the loaded classes not prepared yet that may inherit
// it wait for their ClassPrepare.
void FindOwnersAmongLoaded(JNIEnv* env, jint id, const OwnedField& field, const jclass* classes, jint count);

// The owners of field `id` (internal names).
std::vector<std::string> OwnersOf(jint id);

// A class loading for the first time, as the class file hook has it.
struct ArrivingClass {
    std::string name;  // internal name
    const uint8_t* data = nullptr;  // its class file
    size_t size = 0;
    std::string super;  // read from the class file on first need
    bool superRead = false;
};

// From the class file hook: when `arriving` extends an owner of field `id` and declares no field
// of its name and descriptor, it inherits the field and becomes an owner, a late one.
void OwnersOnClassLoading(jint id, const OwnedField& field, ArrivingClass* arriving);

// At ClassPrepare of `klass`: `klass` becomes an owner of the fields that it inherits and that
// were armed while it was loaded but not prepared. Returns every late owner not yet returned,
// with its field's id: the classes naming the field through it are to be rewritten.
std::vector<std::pair<jint, std::string>> OwnersOnClassPrepare(JNIEnv* env, jclass klass);

// Whether late owners wait for their ClassPrepare (cheap, any thread).
bool FieldOwnersPending();
