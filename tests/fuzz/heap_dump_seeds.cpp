// Writes heap dump fuzzer seeds into a folder: the bridge's level-2 dump of an embedded JVM's
// heap, cut into small real slices (some roots, a few classes with the descriptors their class
// loads would give, instances and arrays of those classes), each encoded as the fuzzer reads
// it (heap_dump_input.h).
//
//   heap_dump_seeds OUTPUT_FOLDER [SEEDS]
#include <jni.h>
#include <jvmti.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bridge/class_facts.h"
#include "bridge/heap_dump.h"
#include "bridge/jvmti_env.h"
#include "agent/vm_events.h"
#include "registry/class_descriptor.h"
#include "tests/fuzz/heap_dump_input.h"
#include "tests/harness/test_jvm.h"

namespace {
struct Record {
    size_t begin;
    size_t length;
    unsigned tag;
    jobjectID id;     // the class of a class record, the class of an instance, else 0
};

uint32_t U4At(const std::vector<uint8_t>& d, size_t at) {
    return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
}

jobjectID IdAt(const std::vector<uint8_t>& d, size_t at) {
    jobjectID id;
    std::memcpy(&id, d.data() + at, 4);
    return id;
}

// Splits the dump by the published record layouts and the classes' facts. Stops at the first
// record it cannot size.
std::vector<Record> Split(const std::vector<uint8_t>& d, const std::map<jobjectID, ClassFacts>& facts) {
    std::vector<Record> records;
    for (size_t at = 0; at < d.size();) {
        const unsigned tag = d[at];
        size_t length = 0;
        jobjectID id = 0;
        const size_t left = d.size() - at;
        switch (tag) {
            case 0xFF: case 0x05: case 0x07: case 0x08: length = 5; break;
            case 0x01: case 0x04: case 0x06: length = 9; break;
            case 0x02: case 0x03: length = 13; break;
            case 0x20: {
                if (left < 33) return records;
                id = IdAt(d, at + 1);
                auto f = facts.find(id);
                if (f == facts.end()) return records;
                const size_t pool = at + 33 + 4 * f->second.interfaces.size();
                if (pool + 2 > d.size()) return records;
                const size_t entries = (size_t{d[pool]} << 8) | d[pool + 1];
                length = pool + 2 - at + 7 * entries + f->second.staticBytes;
                break;
            }
            case 0x21:
                if (left < 13) return records;
                id = IdAt(d, at + 5);
                length = 13 + size_t{U4At(d, at + 9)};
                break;
            case 0x22:
                if (left < 13) return records;
                length = 13 + 4 * size_t{U4At(d, at + 5)};
                break;
            case 0x23:
                if (left < 10 || d[at + 9] >= 12) return records;
                length = 10 + size_t{U4At(d, at + 5)} * static_cast<size_t>(kTypeSizeTable[d[at + 9]]);
                break;
            default: return records;
        }
        if (length > left) return records;
        records.push_back({at, length, tag, id});
        at += length;
    }
    return records;
}

FuzzClass Descriptor(const ClassFacts& f) {
    FuzzClass c;
    c.id = f.id;
    c.interfaces = static_cast<uint8_t>(f.interfaces.size());
    for (const auto& s : f.statics) c.staticSignatures.push_back(s.second[0]);
    return c;
}

// Classes a descriptor can stand for exactly.
bool Describable(const ClassFacts& f) {
    return f.interfaces.size() < 256 && f.statics.size() < kMaxFuzzStatics;
}

// One seed: `rootCount` roots, the class records of `chosen` (in dump order), and up to
// `objectCount` instances and arrays, the instances of chosen classes only.
std::vector<uint8_t> Slice(const std::vector<uint8_t>& d, const std::vector<Record>& records,
                           const std::map<jobjectID, ClassFacts>& facts,
                           const std::set<jobjectID>& chosen, size_t rootCount, size_t objectCount) {
    std::vector<uint8_t> dump;
    std::vector<FuzzClass> classes;
    size_t roots = 0, objects = 0;
    for (const Record& r : records) {
        bool take = false;
        if (r.tag < 0x20 || r.tag == 0xFF) take = roots++ < rootCount;
        else if (r.tag == 0x20) take = chosen.count(r.id) != 0;
        else if (r.tag == 0x21) take = chosen.count(r.id) != 0 && objects++ < objectCount;
        else take = r.length < 512 && objects++ < objectCount;
        if (!take) continue;
        if (r.tag == 0x20) classes.push_back(Descriptor(facts.at(r.id)));
        dump.insert(dump.end(), d.begin() + r.begin, d.begin() + r.begin + r.length);
    }
    std::vector<uint8_t> seed;
    EncodeHeapDumpInput(classes, dump.data(), dump.size(), &seed);
    return seed;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [SEEDS]\n", argv[0]);
        return 2;
    }
    const int seedCount = argc > 2 ? std::atoi(argv[2]) : 8;
    JNIEnv* env = TestEnv();
    if (!BridgeStartSession(TestJvm(), false)) {
        std::fprintf(stderr, "no JVMTI session\n");
        return 1;
    }
    // A few objects of every kind in the heap, beside what start-up made.
    jclass list = env->FindClass("java/util/ArrayList");
    jobject keep = env->NewGlobalRef(env->NewObject(list, env->GetMethodID(list, "<init>", "()V")));
    env->NewGlobalRef(env->NewIntArray(5));
    env->NewGlobalRef(env->NewStringUTF("seed"));

    std::vector<uint8_t> dump;
    BuildHeapDump(env, &dump);
    std::map<jobjectID, ClassFacts> facts;
    jint count = 0;
    jclass* loaded = nullptr;
    g_bridge.jvmti->GetLoadedClasses(&count, &loaded);
    for (jint i = 0; i < count; ++i) {
        ClassFacts f;
        GatherClassFacts(env, loaded[i], &f);
        if (f.prepared) facts[f.id] = f;
    }
    const std::vector<Record> records = Split(dump, facts);
    size_t covered = 0;
    std::vector<jobjectID> describable;
    for (const Record& r : records) {
        covered += r.length;
        if (r.tag == 0x20 && Describable(facts.at(r.id))) describable.push_back(r.id);
    }
    std::printf("dump of %zu bytes, %zu records (%zu bytes) split, %zu classes\n", dump.size(),
                records.size(), covered, describable.size());
    if (describable.empty()) return 1;
    // Seed k: every seedCount-th describable class from the k-th on, at most 15; the even
    // seeds take their super classes' records too, where those are describable.
    for (int k = 0; k < seedCount; ++k) {
        std::set<jobjectID> chosen;
        for (size_t i = static_cast<size_t>(k); i < describable.size() && chosen.size() < 15;
             i += static_cast<size_t>(seedCount)) {
            jobjectID id = describable[i];
            chosen.insert(id);
            while (k % 2 == 0 && chosen.size() < 15) {
                id = facts.at(id).superId;
                auto super = facts.find(id);
                if (id == 0 || super == facts.end() || !Describable(super->second)) break;
                chosen.insert(id);
            }
        }
        const std::vector<uint8_t> seed = Slice(dump, records, facts, chosen, 32 + 16 * k, 48);
        const std::string path = std::string(argv[1]) + "/jvm-heap-" + std::to_string(k);
        if (!Write(path, seed)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes, %zu classes\n", path.c_str(), seed.size(), chosen.size());
    }
    env->DeleteGlobalRef(keep);
    return 0;
}
