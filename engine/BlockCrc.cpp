#include "engine/BlockCrc.h"

#include <array>

namespace zv {

namespace {

constexpr std::uint16_t kPoly = 0xB599;

// Entry b is the CRC register after shifting out the byte b placed in its high 8 bits.
constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned crc = b << 8;
        for (int i = 0; i < 8; ++i) crc = (crc & 0x8000u) ? ((crc << 1) ^ kPoly) : (crc << 1);
        t[b] = static_cast<std::uint16_t>(crc);
    }
    return t;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

}  // namespace

std::uint16_t BlockCrc(const std::uint8_t* data, std::size_t n, std::uint16_t crc) {
    for (std::size_t i = 0; i < n; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFFu]);
    return crc;
}

}  // namespace zv
