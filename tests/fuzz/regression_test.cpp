// Every saved input of the fuzz targets, run through them in an ordinary build: the committed
// seeds and each input a fuzzer once found a fault with. A broken expectation aborts the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bytecode/fuzz/class_engine_target.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {
namespace fs = std::filesystem;

std::vector<fs::path> InputsIn(const std::string& folder) {
    std::vector<fs::path> files;
    const fs::path dir = fs::path(VEXO_FUZZ_INPUTS) / folder;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the seeds (at least one must be there) and the regressions of a target.
void RunSaved(const std::string& target, int (*fuzz)(const uint8_t*, size_t)) {
    const std::vector<fs::path> seeds = InputsIn("seeds/" + target);
    ASSERT_FALSE(seeds.empty()) << "no seeds for " << target;
    std::vector<fs::path> all = seeds;
    for (const fs::path& p : InputsIn("regressions/" + target)) all.push_back(p);
    for (const fs::path& p : all) {
        SCOPED_TRACE(p.string());
        const std::vector<uint8_t> bytes = Contents(p);
        EXPECT_EQ(fuzz(bytes.data(), bytes.size()), 0);
    }
}

TEST(FuzzRegressions, HeapDumpInputs) { RunSaved("heap_dump", FuzzHeapDump); }

// The class files go through the engine's target and the rewriter's.
TEST(FuzzRegressions, ClassFileInputs) {
    RunSaved("class_rewriter", FuzzClassEngine);
    RunSaved("class_rewriter", FuzzClassRewriter);
}
}  // namespace
