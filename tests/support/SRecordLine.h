#pragma once
// Hand-made S-record lines for the download tests, built here rather than by the code
// under test so that a fault in the record checks cannot hide in both.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zv::test {

inline std::string Hex2(unsigned v) {
    char t[3];
    std::snprintf(t, sizeof t, "%02X", v & 0xFF);
    return t;
}

// An "S2" record line with its check sum.
inline std::string Rec(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    char head[16];
    std::snprintf(head, sizeof head, "S2%02X%06X", static_cast<unsigned>(data.size() + 4), address);
    unsigned sum = static_cast<unsigned>(data.size() + 4) + (address & 0xFF) + ((address >> 8) & 0xFF) + (address >> 16);
    std::string line = head;
    for (auto b : data) {
        line += Hex2(b);
        sum += b;
    }
    return line + Hex2(~sum);
}

}  // namespace zv::test
