#pragma once
// Pure download helpers, no I/O: the check and conversion of one "S2" data record, and the
// two payload forms in which a 128-byte window of collected bytes travels to the station.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zv {

// One checked "S2" record. The address is the first data byte's (24 bits as written).
struct S2Record {
    static constexpr int kMaxData = 0xFF - 4;  // byte count FF: 3 address, 251 data, 1 sum
    std::int32_t address = 0;
    int count = 0;
    std::array<std::uint8_t, kMaxData> data{};
};

// Checks the record line as a whole before anything of it is used: "Vadný řádek: " + line
// for a line under 12 characters, not "S2", of a length that disagrees with its byte count,
// or with a check sum that isn't right; "'0x..' is not a valid integer value" for the first
// field that is not hexadecimal (address, then count, then data and sum in line order).
void ParseS2Record(std::string_view line, S2Record& out);

// The block state of one 128-byte window.
using BlockMap = std::array<std::uint8_t, 16>;    // bit j: bit j%8 of byte j/8
using BlockData = std::array<std::uint8_t, 128>;  // 0xFF where nothing was stored

enum class BlockForm { S, N };  // one run of present bytes / two or more runs

struct BlockPayload {
    static constexpr std::size_t kMaxSize = 4 + 16 + 127 + 2;  // the longest n-blok
    BlockForm form = BlockForm::S;
    int first = 0;  // index of the first present byte
    std::size_t size = 0;
    std::array<std::uint8_t, kMaxSize> bytes{};
};

// Builds the s-blok or n-blok payload of the window at `base` (low 24 bits travel), CRC
// included. The map must hold at least one set bit.
void BuildBlockPayload(std::int32_t base, const BlockMap& map, const BlockData& data,
                       BlockPayload& out);

// What a payload says: the window base (24 bits), which bytes are present and their
// values (0xFF where absent).
struct DecodedBlock {
    BlockForm form = BlockForm::S;
    std::uint32_t base = 0;
    BlockMap map{};
    BlockData data{};
};

// Reads a payload back; nullopt unless it is well formed: a known form byte, the length
// its count or map calls for, a count of 1 to 128 that stays inside one window, an n-blok
// base on a window boundary with at least one present byte, and a CRC that matches.
std::optional<DecodedBlock> DecodeBlockPayload(const std::uint8_t* p, std::size_t n);

}  // namespace zv
