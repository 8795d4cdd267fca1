#include "tests/sweep/field_targets.h"

#include "bytecode/class_file.h"

namespace {
constexpr int kMaxDepth = 64;  // deeper than any real hierarchy; bounds a cyclic one
}

JarFields::JarFields(const std::vector<const std::vector<uint8_t>*>& classFiles) {
    for (const std::vector<uint8_t>* bytes : classFiles) {
        bytecode::ClassFile cls;
        if (bytecode::ParseClassFile(bytes->data(), bytes->size(), &cls) != bytecode::Refusal::kNone) continue;
        const std::string* name = cls.pool.ClassName(cls.thisClass);
        Declared declared;
        if (const std::string* super = cls.pool.ClassName(cls.superClass)) declared.superName = *super;
        for (uint16_t i : cls.interfaces) {
            if (const std::string* interface = cls.pool.ClassName(i)) declared.interfaces.push_back(*interface);
        }
        for (const bytecode::Member& f : cls.fields) {
            const std::string* fieldName = cls.pool.Utf8(f.name);
            const std::string* descriptor = cls.pool.Utf8(f.descriptor);
            if (fieldName == nullptr || descriptor == nullptr) continue;
            declared.fields[*fieldName + " " + *descriptor] = (f.access & bytecode::kAccStatic) != 0;
        }
        classes_[*name] = std::move(declared);
    }
}

bool JarFields::Resolve(const std::string& owner, const std::string& key, int depth, std::vector<std::string>* path,
                        bool* isStatic) const {
    const auto found = classes_.find(owner);
    if (found == classes_.end() || depth > kMaxDepth) return false;
    path->push_back(owner);
    const auto field = found->second.fields.find(key);
    if (field != found->second.fields.end()) {
        *isStatic = field->second;
        return true;
    }
    for (const std::string& interface : found->second.interfaces) {
        std::vector<std::string> tried;
        if (Resolve(interface, key, depth + 1, &tried, isStatic)) {
            path->insert(path->end(), tried.begin(), tried.end());
            return true;
        }
    }
    return !found->second.superName.empty() && Resolve(found->second.superName, key, depth + 1, path, isStatic);
}

std::vector<bytecode::FieldSiteTarget> JarFields::TargetsOf(const std::vector<uint8_t>& bytes, size_t limit) const {
    std::vector<bytecode::FieldSiteTarget> targets;
    bytecode::ClassFile cls;
    if (bytecode::ParseClassFile(bytes.data(), bytes.size(), &cls) != bytecode::Refusal::kNone) return targets;
    std::map<std::string, size_t> byField;  // declaring class, name and descriptor: index in targets
    for (size_t i = 1; i < cls.pool.entries.size(); ++i) {
        if (cls.pool.entries[i].tag != bytecode::kTagFieldref) continue;
        const std::string* owner = cls.pool.ClassName(cls.pool.entries[i].first);
        std::string name, descriptor;
        if (owner == nullptr || !cls.pool.MemberNameAndType(static_cast<uint32_t>(i), &name, &descriptor)) continue;
        std::vector<std::string> path;
        bool isStatic = false;
        if (!Resolve(*owner, name + " " + descriptor, 0, &path, &isStatic)) continue;
        const std::string key = path.back() + "." + name + " " + descriptor;
        const auto known = byField.find(key);
        if (known != byField.end()) {
            // Another class it resolves from: the walk's classes up to the declaring one.
            std::vector<std::string>& owners = targets[known->second].owners;
            for (const std::string& p : path) {
                bool present = false;
                for (const std::string& o : owners) present = present || o == p;
                if (!present) owners.push_back(p);
            }
            continue;
        }
        if (targets.size() == limit) continue;
        bytecode::FieldSiteTarget t;
        t.owners = path;
        t.name = name;
        t.descriptor = descriptor;
        t.isStatic = isStatic;
        t.id = static_cast<int32_t>(targets.size() + 1);
        byField[key] = targets.size();
        targets.push_back(t);
    }
    return targets;
}
