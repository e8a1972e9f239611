#include "engine/SRecord.h"

#include <bit>
#include <string>

#include "common/Error.h"
#include "common/Messages.h"
#include "common/TextToInt.h"
#include "engine/BlockCrc.h"

namespace zv {

namespace {

// Hexadecimal digit values, -1 for every other byte.
constexpr std::array<std::int8_t, 256> MakeHexTable() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
    return t;
}
constexpr std::array<std::int8_t, 256> kHex = MakeHexTable();

// The field of `len` characters at `pos` (0-based) as a hexadecimal field. The fast path
// reads the digits directly; a field with any other character goes through HexField,
// which raises the conversion error with the field's own text.
std::int32_t Field(std::string_view line, std::size_t pos, std::size_t len) {
    std::int32_t v = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const int d = kHex[static_cast<unsigned char>(line[pos + i])];
        if (d < 0) return HexField(line.substr(pos, len));
        v = (v << 4) | d;
    }
    return v;
}

[[noreturn]] void BadLine(std::string_view line) {
    throw Error(msg::VadnyRadek + std::string(line));
}

void PutLe24(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
}

bool Bit(const BlockMap& map, int j) { return (map[static_cast<std::size_t>(j >> 3)] >> (j & 7)) & 1u; }

void SetBit(BlockMap& map, int j) { map[static_cast<std::size_t>(j >> 3)] |= static_cast<std::uint8_t>(1u << (j & 7)); }

void AppendCrc(BlockPayload& out) {
    const std::uint16_t crc = BlockCrc(out.bytes.data(), out.size);
    out.bytes[out.size++] = static_cast<std::uint8_t>(crc);
    out.bytes[out.size++] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

void ParseS2Record(std::string_view line, S2Record& out) {
    if (line.size() < 12 || line[0] != 'S' || line[1] != '2') BadLine(line);
    const std::int32_t address = Field(line, 4, 6);
    const std::int32_t cc = Field(line, 2, 2);
    const std::int32_t n = cc - 4;
    if (static_cast<std::int64_t>(line.size()) != 12 + 2 * static_cast<std::int64_t>(n)) BadLine(line);
    unsigned sum = static_cast<unsigned>(cc) + static_cast<unsigned>(address) +
                   (static_cast<unsigned>(address) >> 8) + (static_cast<unsigned>(address) >> 16);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t b = Field(line, 10 + 2 * static_cast<std::size_t>(i), 2);
        out.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b);
        sum += static_cast<unsigned>(b);
    }
    sum += static_cast<unsigned>(Field(line, 10 + 2 * static_cast<std::size_t>(n), 2));
    if ((sum & 0xFFu) != 0xFFu) BadLine(line);
    out.address = address;
    out.count = n;
}

void BuildBlockPayload(std::int32_t base, const BlockMap& map, const BlockData& data, BlockPayload& out) {
    int first = 0;
    while (first < 128 && !Bit(map, first)) ++first;
    int last = first;
    while (last + 1 < 128 && Bit(map, last + 1)) ++last;
    int after = last + 1;
    while (after < 128 && !Bit(map, after)) ++after;

    out.first = first;
    out.size = 0;
    auto* p = out.bytes.data();
    if (after >= 128) {
        out.form = BlockForm::S;
        p[0] = 's';
        PutLe24(p + 1, static_cast<std::uint32_t>(base + first));
        const int count = last - first + 1;
        p[4] = static_cast<std::uint8_t>(count);
        for (int j = 0; j < count; ++j) p[5 + j] = data[static_cast<std::size_t>(first + j)];
        out.size = 5 + static_cast<std::size_t>(count);
    } else {
        out.form = BlockForm::N;
        p[0] = 'n';
        PutLe24(p + 1, static_cast<std::uint32_t>(base));
        for (std::size_t i = 0; i < 16; ++i) p[4 + i] = map[i];
        std::size_t k = 20;
        for (int j = first; j < 128; ++j)
            if (Bit(map, j)) p[k++] = data[static_cast<std::size_t>(j)];
        out.size = k;
    }
    AppendCrc(out);
}

std::optional<DecodedBlock> DecodeBlockPayload(const std::uint8_t* p, std::size_t n) {
    if (n < 3) return std::nullopt;
    DecodedBlock b;
    b.data.fill(0xFF);
    const std::uint32_t addr = p[1] | (static_cast<std::uint32_t>(p[2]) << 8) |
                               (n > 3 ? static_cast<std::uint32_t>(p[3]) << 16 : 0);
    std::size_t body = 0;
    if (p[0] == 's') {
        if (n < 8) return std::nullopt;
        const unsigned count = p[4];
        const unsigned offset = addr & 0x7Fu;
        if (count < 1 || count > 128 || offset + count > 128 || n != 7 + count) return std::nullopt;
        b.form = BlockForm::S;
        b.base = addr & ~0x7Fu;
        for (unsigned j = 0; j < count; ++j) {
            SetBit(b.map, static_cast<int>(offset + j));
            b.data[offset + j] = p[5 + j];
        }
        body = 5 + count;
    } else if (p[0] == 'n') {
        if (n < 22 || (addr & 0x7Fu) != 0) return std::nullopt;
        b.form = BlockForm::N;
        b.base = addr;
        unsigned m = 0;
        for (std::size_t i = 0; i < 16; ++i) {
            b.map[i] = p[4 + i];
            m += static_cast<unsigned>(std::popcount(p[4 + i]));
        }
        if (m == 0 || n != 22 + m) return std::nullopt;
        std::size_t k = 20;
        for (int j = 0; j < 128; ++j)
            if (Bit(b.map, j)) b.data[static_cast<std::size_t>(j)] = p[k++];
        body = 20 + m;
    } else {
        return std::nullopt;
    }
    const std::uint16_t crc = BlockCrc(p, body);
    if (p[body] != static_cast<std::uint8_t>(crc) || p[body + 1] != static_cast<std::uint8_t>(crc >> 8))
        return std::nullopt;
    return b;
}

}  // namespace zv
