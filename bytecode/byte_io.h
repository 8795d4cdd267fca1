// Bounds-checked big-endian reading and plain writing of class file bytes, for the engine and
// the entry rewriter alike: any read past the end marks the reader failed and answers zeros, so
// a parser checks `failed` once per structure rather than per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bytecode {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool failed = false;

    bool Has(size_t n) {
        if (failed || pos > size || size - pos < n) failed = true;
        return !failed;
    }
    uint32_t U1() { return Has(1) ? data[pos++] : 0; }
    uint32_t U2() {
        if (!Has(2)) return 0;
        const uint32_t v = (uint32_t{data[pos]} << 8) | data[pos + 1];
        pos += 2;
        return v;
    }
    uint32_t U4() {
        const uint32_t high = U2();
        return (high << 16) | U2();
    }
    int32_t S4() { return static_cast<int32_t>(U4()); }
    void Skip(size_t n) {
        if (Has(n)) pos += n;
    }
    // The next `n` bytes, or null (and failed) when fewer remain.
    const uint8_t* Take(size_t n) {
        if (!Has(n)) return nullptr;
        const uint8_t* p = data + pos;
        pos += n;
        return p;
    }
    bool AtEnd() const { return !failed && pos == size; }
};

struct Writer {
    std::vector<uint8_t>* out;
    void U1(uint32_t v) { out->push_back(static_cast<uint8_t>(v)); }
    void U2(uint32_t v) { U1(v >> 8); U1(v); }
    void U4(uint32_t v) { U2(v >> 16); U2(v); }
    void Bytes(const uint8_t* p, size_t n) { out->insert(out->end(), p, p + n); }
    void Bytes(const std::vector<uint8_t>& b) { out->insert(out->end(), b.begin(), b.end()); }
    // A CONSTANT_Utf8 entry of `s` (plain ASCII).
    void Utf8(const char* s) {
        U1(1);
        U2(static_cast<uint32_t>(std::strlen(s)));
        Bytes(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
    }
    // Overwrites a u4 written earlier at `at`.
    void PatchU4(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
    // Reserves a u4 for a length written later with PatchLength.
    size_t BeginLength() {
        U4(0);
        return out->size();
    }
    // Fills the u4 reserved at `start` - 4 with the number of bytes written since.
    void PatchLength(size_t start) {
        const uint32_t v = static_cast<uint32_t>(out->size() - start);
        for (int i = 0; i < 4; ++i) (*out)[start - 4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
};

}  // namespace bytecode
