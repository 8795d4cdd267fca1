// Watched fields for the field-site sweep: for one class of a jar, the fields its own constant
// pool names through Fieldrefs that resolve, within the jar, to a field some class of the jar
// declares, each with every Fieldref class it resolves from (the declaring class and the jar's
// classes that inherit it without shadowing it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bytecode/field_sites.h"

class JarFields {
public:
    // Indexes the declared fields and supertypes of the jar's class files (those that parse).
    explicit JarFields(const std::vector<const std::vector<uint8_t>*>& classFiles);

    // Up to `limit` watched fields of the class file `bytes`, with ids from 1, in the order its
    // pool first names them.
    std::vector<bytecode::FieldSiteTarget> TargetsOf(const std::vector<uint8_t>& bytes, size_t limit) const;

private:
    struct Declared {
        std::string superName;
        std::vector<std::string> interfaces;
        std::map<std::string, bool> fields;  // name + " " + descriptor: static
    };
    // The jar class declaring the field a Fieldref of `owner` resolves to (JVMS 5.4.3.2: the
    // class, its interfaces, then its superclass), with the classes walked on the way; false
    // when the walk leaves the jar first.
    bool Resolve(const std::string& owner, const std::string& key, int depth, std::vector<std::string>* path,
                 bool* isStatic) const;

    std::map<std::string, Declared> classes_;
};
