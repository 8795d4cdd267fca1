// Every method of every class in real programs' jars, rewritten as the instrumented method-entry
// road rewrites it (every method the rewriter lists, probed at once), must pass the JVM's
// verifier in a class loader over its jar, or be refused by the rewriter. A rewritten class that
// fails where its original links is a fault of the rewriter. The field-site pass meets the same
// standard, each class with the fields its own pool names within the jar watched.
#include <gtest/gtest.h>
#include <jvmti.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "bytecode/class_file.h"
#include "bytecode/field_sites.h"
#include "bytecode/method_code.h"
#include "instrument/class_rewriter.h"
#include "instrument/entry_hook.h"
#include "instrument/field_hook.h"
#include "tests/harness/test_jvm.h"
#include "tests/sweep/class_header.h"
#include "tests/sweep/field_targets.h"
#include "tests/sweep/jar_classes.h"
#include "tests/sweep/link_check.h"

namespace {
constexpr size_t kClassesPerLoader = 400;
constexpr size_t kFaultsShown = 20;
constexpr size_t kWatchedFieldsPerClass = 16;

struct RealProgram {
    const char* label;
    std::vector<const char*> candidates;    // the first one present is swept
    std::vector<const char*> dependencies;  // jars its verification needs, where installed
};

void PrintTo(const RealProgram& program, std::ostream* out) { *out << program.label; }

struct SweptClass {
    ClassHeader header;
    const std::vector<uint8_t>* original = nullptr;
    std::vector<uint8_t> rewritten;  // empty: the rewriter left the class alone
    size_t instrumented = 0;
};

struct Report {
    size_t classes = 0, unreadable = 0, methods = 0, instrumented = 0, rewrittenClasses = 0;
    std::map<std::string, size_t> refusals;
    size_t linked = 0, methodsVerified = 0, notLoadable = 0, originalUnverifiable = 0;
    size_t followsAnother = 0, verifyErrors = 0, formatErrors = 0, otherRewrittenOnly = 0;
    size_t initialised = 0;
    size_t uninitializedSites = 0;  // the field pass: putfields before super, left alone
    std::map<std::string, size_t> missingPackages;
    std::vector<std::string> faults, unverifiable;
};

bool Exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

// The package of the class a NoClassDefFoundError names, e.g. "javax/servlet".
std::string MissingPackage(const std::string& message) {
    const size_t colon = message.find(": ");
    std::string name = colon == std::string::npos ? message : message.substr(colon + 2);
    const size_t space = name.find(' ');
    if (space != std::string::npos) name.resize(space);
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(0, slash);
}

// Rewrites `c` with a probe for every method the rewriter lists as instrumentable.
void Rewrite(const JarClass& jarClass, SweptClass* c, Report* report) {
    std::vector<DeclaredMethod> methods;
    if (!ListInstrumentableMethods(jarClass.bytes.data(), jarClass.bytes.size(), &methods)) {
        ++report->unreadable;  // a real program's class file, which the VM reads
        return;
    }
    report->methods += methods.size();
    if (methods.empty()) return;
    std::vector<EntryProbe> probes;
    for (size_t i = 0; i < methods.size(); ++i) {
        probes.push_back({methods[i].name, methods[i].descriptor, static_cast<int32_t>(i + 1), false});
    }
    const bool rewritten = RewriteClass(jarClass.bytes.data(), jarClass.bytes.size(), &probes, &c->rewritten);
    for (const EntryProbe& p : probes) {
        if (p.instrumented) ++c->instrumented;
        else ++report->refusals[ProbeRefusalName(p.refusal)];
        EXPECT_EQ(p.instrumented, p.refusal == ProbeRefusal::kNone) << c->header.name << "." << p.name;
    }
    EXPECT_EQ(rewritten, c->instrumented > 0) << c->header.name;
    EXPECT_EQ(rewritten, !c->rewritten.empty()) << c->header.name;
    report->instrumented += c->instrumented;
    if (rewritten) ++report->rewrittenClasses;
}

// Why the field pass refused `refused` methods of `bytes`: the engine's reason for those whose
// code does not decode and that name a watched Fieldref; the rest were refused while inserting
// or writing.
void FieldRefusals(const std::vector<uint8_t>& bytes, const std::vector<bytecode::FieldSiteTarget>& targets,
                   size_t refused, Report* report) {
    bytecode::ClassFile cls;
    if (bytecode::ParseClassFile(bytes.data(), bytes.size(), &cls) != bytecode::Refusal::kNone) return;
    std::vector<bool> watched(cls.pool.entries.size(), false);
    for (size_t i = 1; i < cls.pool.entries.size(); ++i) {
        std::string name, descriptor;
        const std::string* owner = cls.pool.ClassName(cls.pool.entries[i].first);
        if (cls.pool.entries[i].tag != bytecode::kTagFieldref || owner == nullptr ||
            !cls.pool.MemberNameAndType(static_cast<uint32_t>(i), &name, &descriptor)) continue;
        for (const bytecode::FieldSiteTarget& t : targets) {
            for (const std::string& o : t.owners) watched[i] = watched[i] || (o == *owner && t.name == name && t.descriptor == descriptor);
        }
    }
    size_t attributed = 0;
    for (bytecode::Member& m : cls.methods) {
        const bytecode::Attribute* attribute = bytecode::FindCodeAttribute(cls, &m);
        bytecode::Code code;
        if (attribute == nullptr) continue;
        const bytecode::Refusal refusal = bytecode::ReadMethodCode(cls, &m, &code);
        if (refusal == bytecode::Refusal::kNone) continue;
        const std::vector<uint8_t>& b = attribute->bytes;
        bool names = false;
        for (size_t i = 8; i + 2 < b.size() && !names; ++i) {
            const size_t index = (size_t{b[i + 1]} << 8) | b[i + 2];
            names = b[i] >= 0xb2 && b[i] <= 0xb5 && index < watched.size() && watched[index];
        }
        if (!names) continue;
        ++attributed;
        ++report->refusals[bytecode::RefusalName(refusal)];
    }
    if (refused > attributed) report->refusals["inserting or writing"] += refused - attributed;
}

// Rewrites the sites of the fields `c`'s pool names within the jar.
void RewriteFields(const JarClass& jarClass, const JarFields& fields, SweptClass* c, Report* report) {
    const std::vector<bytecode::FieldSiteTarget> targets = fields.TargetsOf(jarClass.bytes, kWatchedFieldsPerClass);
    report->methods += targets.size();  // the watched fields
    if (targets.empty()) return;
    bytecode::FieldSiteCounts counts;
    // Every other site is numbered as the agent numbers them, its int pushed from the pool.
    int32_t sites = 0;
    const bytecode::FieldSiteIds numbered = [&sites](const bytecode::FieldSiteTarget& t, const bytecode::FieldSitePlace&) {
        ++sites;
        return sites % 2 == 0 ? t.id : t.id | (sites << 12);
    };
    const bool rewritten = bytecode::RewriteFieldSites(jarClass.bytes.data(), jarClass.bytes.size(), targets,
                                                       &c->rewritten, &counts, bytecode::kFieldHookClass, numbered);
    EXPECT_EQ(rewritten, counts.rewritten > 0) << c->header.name;
    EXPECT_EQ(rewritten, !c->rewritten.empty()) << c->header.name;
    c->instrumented = counts.rewritten;
    report->instrumented += counts.rewritten;
    report->uninitializedSites += counts.uninitialized;
    if (counts.refusedMethods > 0) FieldRefusals(jarClass.bytes, targets, counts.refusedMethods, report);
    if (rewritten) ++report->rewrittenClasses;
}

// A copy of `rewritten` whose first probe pushes an int where the hook takes a reference: the
// verifier must refuse it.
std::vector<uint8_t> BreakFirstProbe(const SweptClass& c) {
    const std::vector<uint8_t>& original = *c.original;
    const uint32_t methodref = ((uint32_t{original[8]} << 8) | original[9]) + 5;
    std::vector<uint8_t> broken = c.rewritten;
    for (size_t i = 4; i + 3 < broken.size(); ++i) {
        if (broken[i] == 0xb8 && broken[i + 1] == (methodref >> 8) && broken[i + 2] == (methodref & 0xff) &&
            broken[i + 3] == 0x00 && broken[i - 3] == 0x13 && (broken[i - 4] == 0x2a || broken[i - 4] == 0x01)) {
            broken[i - 4] = 0x03;  // iconst_0
            return broken;
        }
    }
    return {};
}

// A copy of `rewritten` whose first field site with an id of 1 to 5 passes null where the hook
// takes the id: the verifier must refuse it.
std::vector<uint8_t> BreakFirstFieldSite(const SweptClass& c) {
    bytecode::ClassFile cls;
    if (bytecode::ParseClassFile(c.rewritten.data(), c.rewritten.size(), &cls) != bytecode::Refusal::kNone) return {};
    std::vector<bool> hookMethod(cls.pool.entries.size(), false);
    for (size_t i = 1; i < cls.pool.entries.size(); ++i) {
        const std::string* owner = cls.pool.ClassName(cls.pool.entries[i].first);
        hookMethod[i] = cls.pool.entries[i].tag == bytecode::kTagMethodref && owner != nullptr &&
                        *owner == bytecode::kFieldHookClass;
    }
    for (bytecode::Member& m : cls.methods) {
        bytecode::Attribute* code = bytecode::FindCodeAttribute(cls, &m);
        if (code == nullptr) continue;
        std::vector<uint8_t>& b = code->bytes;
        for (size_t i = 8; i + 3 < b.size(); ++i) {
            const size_t index = (size_t{b[i + 2]} << 8) | b[i + 3];
            if (b[i] >= 0x04 && b[i] <= 0x08 && b[i + 1] == 0xb8 && index < hookMethod.size() && hookMethod[index]) {
                b[i] = 0x01;  // aconst_null
                std::vector<uint8_t> broken;
                bytecode::WriteClassFile(cls, &broken);
                return broken;
            }
        }
    }
    return {};
}

// The define-and-link step does verify: a rewritten class of this jar that links is refused once
// one of its probes or field sites is broken, with either verifier the jar's classes meet (type inference
// before class file version 50, stack maps from 50 on), and the hook resolves from the jar's loader.
void CheckTheCheck(JNIEnv* env, jvmtiEnv* jvmti, const std::vector<std::string>& jars,
                   const std::vector<SweptClass>& classes, bool fieldSites) {
    JarLoader loader(env, jars);
    ASSERT_TRUE(loader.ok());
    jclass hook = loader.Find(fieldSites ? "com.vexo.internal.FieldHook" : "com.vexo.internal.EntryHook");
    ASSERT_NE(hook, nullptr) << "the hook does not resolve from the jar's loader";
    env->DeleteGlobalRef(hook);
    for (const bool stackMaps : {false, true}) {
        size_t candidates = 0;
        bool checked = false;
        for (const SweptClass& c : classes) {
            if (checked || c.rewritten.empty() || (c.header.majorVersion >= 50) != stackMaps) continue;
            if (++candidates > 200) break;
            if (DefineAndLink(env, jvmti, jars, c.header.name, c.rewritten).outcome != LinkOutcome::kLinked) continue;
            const std::vector<uint8_t> broken = fieldSites ? BreakFirstFieldSite(c) : BreakFirstProbe(c);
            if (fieldSites && broken.empty()) continue;  // its sites' ids are all above 5
            ASSERT_FALSE(broken.empty()) << "no probe found in " << c.header.name;
            const LinkResult result = DefineAndLink(env, jvmti, jars, c.header.name, broken);
            EXPECT_EQ(result.outcome, LinkOutcome::kVerifyError)
                << c.header.name << " with a broken probe: " << LinkOutcomeName(result.outcome) << " "
                << result.message;
            checked = true;
        }
        EXPECT_TRUE(checked || candidates == 0)
            << "no rewritten class of version " << (stackMaps ? ">= 50" : "< 50") << " links";
    }
}

// A class that failed among its rewritten peers, again on its own, beside its original.
void Isolate(JNIEnv* env, jvmtiEnv* jvmti, const std::vector<std::string>& jars, const SweptClass& c,
             const LinkResult& inChunk, Report* report) {
    const LinkResult rewritten = DefineAndLink(env, jvmti, jars, c.header.name, c.rewritten);
    if (rewritten.outcome == LinkOutcome::kLinked) {
        ++report->followsAnother;  // a rewritten supertype of it failed, and counts itself
        return;
    }
    const LinkResult original = DefineAndLink(env, jvmti, jars, c.header.name, *c.original);
    if (original.outcome == LinkOutcome::kMissingClass) {
        ++report->notLoadable;  // the original cannot be checked here either
        ++report->missingPackages[MissingPackage(original.message)];
        return;
    }
    if (original.outcome != LinkOutcome::kLinked) {
        ++report->originalUnverifiable;
        if (report->unverifiable.size() < kFaultsShown) {
            report->unverifiable.push_back(c.header.name + ": " + LinkOutcomeName(original.outcome) + ": " +
                                           original.message);
        }
        return;
    }
    if (rewritten.outcome == LinkOutcome::kVerifyError) ++report->verifyErrors;
    else if (rewritten.outcome == LinkOutcome::kFormatError) ++report->formatErrors;
    else ++report->otherRewrittenOnly;
    if (report->faults.size() < kFaultsShown) {
        report->faults.push_back(c.header.name + ": " + LinkOutcomeName(rewritten.outcome) + ": " +
                                 rewritten.message + " (among its peers: " + inChunk.message + ")");
    }
}

// Defines the rewritten classes of `chunk` in one loader, supertypes first, then links each.
void SweepChunk(JNIEnv* env, jvmtiEnv* jvmti, const std::vector<std::string>& jars,
                const std::vector<const SweptClass*>& chunk, Report* report) {
    JarLoader loader(env, jars);
    ASSERT_TRUE(loader.ok());
    std::vector<jclass> defined(chunk.size(), nullptr);
    std::vector<LinkResult> results(chunk.size());
    for (size_t i = 0; i < chunk.size(); ++i) {
        defined[i] = loader.Define(chunk[i]->header.name, chunk[i]->rewritten, &results[i]);
    }
    for (size_t i = 0; i < chunk.size(); ++i) {
        if (defined[i] != nullptr) {
            results[i] = Link(env, jvmti, defined[i]);
            env->DeleteGlobalRef(defined[i]);
        }
        if (results[i].initialised) ++report->initialised;
        if (results[i].outcome == LinkOutcome::kLinked) {
            ++report->linked;
            report->methodsVerified += chunk[i]->instrumented;
        } else {
            Isolate(env, jvmti, jars, *chunk[i], results[i], report);
        }
    }
}

void Print(const char* jar, const Report& r, bool fieldSites) {
    if (fieldSites) {
        std::printf("[sweep] %s field sites: %zu classes (%zu unreadable), %zu watched fields, %zu sites "
                    "rewritten in %zu classes, %zu putfields before super left alone\n", jar, r.classes,
                    r.unreadable, r.methods, r.instrumented, r.rewrittenClasses, r.uninitializedSites);
    } else {
        std::printf("[sweep] %s: %zu classes (%zu unreadable), %zu methods listed, %zu instrumented "
                    "in %zu rewritten classes\n", jar, r.classes, r.unreadable, r.methods, r.instrumented,
                    r.rewrittenClasses);
    }
    std::printf("[sweep] %s: refused methods:", jar);
    if (r.refusals.empty()) std::printf(" none");
    for (const auto& [reason, n] : r.refusals) std::printf(" %s %zu;", reason.c_str(), n);
    std::printf("\n[sweep] %s: rewritten classes linked %zu (%zu instrumented %s verified), "
                "not loadable %zu, original unverifiable %zu, failed only beside a failed peer %zu\n",
                jar, r.linked, r.methodsVerified, fieldSites ? "sites" : "methods", r.notLoadable, r.originalUnverifiable, r.followsAnother);
    std::printf("[sweep] %s: rewriter faults: VerifyError %zu, ClassFormatError %zu, other %zu; "
                "classes initialised %zu\n", jar, r.verifyErrors, r.formatErrors, r.otherRewrittenOnly,
                r.initialised);
    for (const auto& [package, n] : r.missingPackages) {
        std::printf("[sweep] %s: not loadable for want of %s: %zu\n", jar, package.c_str(), n);
    }
    for (const std::string& u : r.unverifiable) {
        std::printf("[sweep] %s: original unverifiable %s\n", jar, u.c_str());
    }
    for (const std::string& f : r.faults) std::printf("[sweep] %s: FAULT %s\n", jar, f.c_str());
    std::fflush(stdout);
}

// Rewrites every class of the jar (with entry probes, or at field sites), links each
// rewritten class beside its rewritten peers, and checks the outcome.
void Sweep(const RealProgram& program, bool fieldSites) {
    const char* jar = nullptr;
    for (const char* candidate : program.candidates) {
        if (jar == nullptr && Exists(candidate)) jar = candidate;
    }
    if (jar == nullptr) GTEST_SKIP() << "not installed: " << program.candidates.front();
    std::vector<std::string> jars = {jar};
    for (const char* dependency : program.dependencies) {
        if (Exists(dependency)) jars.push_back(dependency);
    }
    JNIEnv* env = TestEnv();
    jvmtiEnv* jvmti = TestJvmti();
    ASSERT_TRUE(EnsureEntryHookClass(env));
    ASSERT_TRUE(EnsureFieldHookClass(env));

    std::vector<JarClass> jarClasses;
    std::string error;
    ASSERT_TRUE(ReadJarClasses(env, jar, &jarClasses, &error)) << error;
    Report report;
    report.classes = jarClasses.size();
    std::vector<SweptClass> classes(jarClasses.size());
    std::vector<ClassHeader> headers(jarClasses.size());
    std::vector<const std::vector<uint8_t>*> classFiles;
    for (const JarClass& j : jarClasses) classFiles.push_back(&j.bytes);
    const JarFields fields(fieldSites ? classFiles : std::vector<const std::vector<uint8_t>*>());
    for (size_t i = 0; i < jarClasses.size(); ++i) {
        SweptClass& c = classes[i];
        c.original = &jarClasses[i].bytes;
        if (!ReadClassHeader(jarClasses[i].bytes, &c.header)) {
            ++report.unreadable;
            continue;
        }
        headers[i] = c.header;
        if (fieldSites) RewriteFields(jarClasses[i], fields, &c, &report);
        else Rewrite(jarClasses[i], &c, &report);
    }
    ASSERT_GT(report.instrumented, 0u);

    CheckTheCheck(env, jvmti, jars, classes, fieldSites);

    std::vector<const SweptClass*> chunk;
    for (size_t index : SupertypesFirst(headers)) {
        if (classes[index].rewritten.empty()) continue;
        chunk.push_back(&classes[index]);
        if (chunk.size() == kClassesPerLoader) {
            SweepChunk(env, jvmti, jars, chunk, &report);
            chunk.clear();
        }
    }
    if (!chunk.empty()) SweepChunk(env, jvmti, jars, chunk, &report);

    Print(jar, report, fieldSites);
    EXPECT_EQ(report.verifyErrors, 0u);
    EXPECT_EQ(report.formatErrors, 0u);
    EXPECT_EQ(report.otherRewrittenOnly, 0u);
    EXPECT_EQ(report.initialised, 0u) << "linking ran a program's initialiser";
    EXPECT_EQ(report.unreadable, 0u) << "class files the rewriter's reader or the sweep's refused";
    EXPECT_GT(report.linked, report.rewrittenClasses / 2) << "most rewritten classes should link";
}

class RewriterSweep : public testing::TestWithParam<RealProgram> {};

TEST_P(RewriterSweep, EveryRewrittenClassVerifiesOrIsRefused) { Sweep(GetParam(), false); }

TEST_P(RewriterSweep, EveryClassWithFieldSitesVerifiesOrIsRefused) { Sweep(GetParam(), true); }

INSTANTIATE_TEST_SUITE_P(
    RealJars, RewriterSweep,
    // The jars' manifests name most of what they need (Class-Path); Groovy's names nothing.
    testing::Values(RealProgram{"h2", {"/usr/share/java/h2.jar"}, {"/usr/share/java/servlet-api.jar"}},
                    RealProgram{"derby", {"/usr/share/java/derby.jar"}, {}},
                    RealProgram{"groovy", {"/usr/share/java/groovy-all.jar", "/usr/share/java/groovy.jar"},
                            {"/usr/share/java/bsf.jar", "/usr/share/java/commons-cli.jar",
                             "/usr/share/java/jline2.jar", "/usr/share/java/junit4.jar",
                             "/usr/share/java/servlet-api.jar", "/usr/share/java/xstream.jar"}},
                    RealProgram{"jython", {"/usr/share/java/jython.jar"}, {}},
                    RealProgram{"clojure", {"/usr/share/java/clojure.jar"}, {}}),
    [](const testing::TestParamInfo<RealProgram>& info) { return std::string(info.param.label); });
}  // namespace
