#include "tests/sweep/class_header.h"

#include <utility>
#include <unordered_map>

namespace {
struct Cursor {
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;
    bool failed = false;

    uint32_t U1() {
        if (pos >= bytes.size()) { failed = true; return 0; }
        return bytes[pos++];
    }
    uint32_t U2() { const uint32_t high = U1(); return (high << 8) | U1(); }
    void Skip(size_t n) {
        if (bytes.size() - pos < n) failed = true;
        else pos += n;
    }
};
}  // namespace

bool ReadClassHeader(const std::vector<uint8_t>& bytes, ClassHeader* out) {
    Cursor c{bytes};
    if (((c.U2() << 16) | c.U2()) != 0xCAFEBABE) return false;
    c.U2();
    out->majorVersion = c.U2();
    const uint32_t count = c.U2();
    std::vector<std::string> utf8(count);
    std::vector<uint32_t> classNames(count, 0);
    for (uint32_t i = 1; i < count && !c.failed; ++i) {
        const uint32_t tag = c.U1();
        if (tag == 1) {
            const uint32_t length = c.U2();
            if (bytes.size() - c.pos < length) return false;
            utf8[i].assign(reinterpret_cast<const char*>(bytes.data() + c.pos), length);
            c.pos += length;
        } else if (tag == 7) {
            classNames[i] = c.U2();
        } else if (tag == 5 || tag == 6) {
            c.Skip(8);
            ++i;
        } else if (tag == 8 || tag == 16 || tag == 19 || tag == 20) {
            c.Skip(2);
        } else if (tag == 15) {
            c.Skip(3);
        } else if (tag == 3 || tag == 4 || (tag >= 9 && tag <= 12) || tag == 17 || tag == 18) {
            c.Skip(4);
        } else {
            return false;
        }
    }
    auto className = [&](uint32_t index) -> std::string {
        if (index == 0 || index >= count || classNames[index] >= count) return std::string();
        return utf8[classNames[index]];
    };
    c.U2();  // access flags
    out->name = className(c.U2());
    out->superName = className(c.U2());
    const uint32_t interfaces = c.U2();
    out->interfaces.clear();
    for (uint32_t i = 0; i < interfaces && !c.failed; ++i) out->interfaces.push_back(className(c.U2()));
    return !c.failed && !out->name.empty();
}

std::vector<size_t> SupertypesFirst(const std::vector<ClassHeader>& headers) {
    std::unordered_map<std::string, size_t> byName;
    for (size_t i = 0; i < headers.size(); ++i) byName.emplace(headers[i].name, i);
    std::vector<uint8_t> state(headers.size(), 0);  // 0: not seen, 1: on the way, 2: placed
    std::vector<size_t> order;
    order.reserve(headers.size());
    // Iterative depth-first walk: a class is placed once its supertypes are.
    for (size_t root = 0; root < headers.size(); ++root) {
        if (state[root] != 0) continue;
        std::vector<std::pair<size_t, size_t>> stack = {{root, 0}};  // class, next supertype
        state[root] = 1;
        while (!stack.empty()) {
            auto& [index, next] = stack.back();
            const ClassHeader& h = headers[index];
            const size_t supertypes = 1 + h.interfaces.size();
            if (next == supertypes) {
                state[index] = 2;
                order.push_back(index);
                stack.pop_back();
                continue;
            }
            const std::string& name = next == 0 ? h.superName : h.interfaces[next - 1];
            ++next;
            const auto found = byName.find(name);
            if (found != byName.end() && state[found->second] == 0) {
                state[found->second] = 1;
                stack.push_back({found->second, 0});
            }
        }
    }
    return order;
}
