#pragma once
// The CRC that protects a download block: 16 bits, polynomial 0xB599, initial value 0,
// most significant bit first, no reflection, no final XOR.
#include <cstddef>
#include <cstdint>

namespace zv {

// Continues `crc` over `n` bytes; start with 0.
std::uint16_t BlockCrc(const std::uint8_t* data, std::size_t n, std::uint16_t crc = 0);

}  // namespace zv
