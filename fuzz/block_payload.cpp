// The download block payload against its decoder. The first part of the input is a block
// state (base, map, data) that must round-trip through the s-blok or n-blok built from
// it, and whose payload with any one byte changed must be refused; the input is also
// decoded as it stands, and what decodes builds back to the same payload.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Check.h"
#include "engine/SRecord.h"

namespace {

bool Bit(const zv::BlockMap& map, int j) { return (map[static_cast<std::size_t>(j >> 3)] >> (j & 7)) & 1u; }

// One run of set bits, or more.
bool OneRun(const zv::BlockMap& map) {
    int runs = 0;
    for (int j = 0; j < 128; ++j)
        if (Bit(map, j) && (j == 0 || !Bit(map, j - 1))) ++runs;
    return runs == 1;
}

std::vector<std::uint8_t> Payload(const zv::BlockPayload& p) {
    return std::vector<std::uint8_t>(p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.size));
}

void RoundTrip(std::int32_t base, const zv::BlockMap& map, const zv::BlockData& data) {
    zv::BlockPayload payload;
    zv::BuildBlockPayload(base, map, data, payload);
    ZV_FUZZ_CHECK(payload.size <= zv::BlockPayload::kMaxSize);
    ZV_FUZZ_CHECK(payload.form == (OneRun(map) ? zv::BlockForm::S : zv::BlockForm::N));
    ZV_FUZZ_CHECK(payload.size <= 245);  // it must fit one request telegram

    std::vector<std::uint8_t> bytes = Payload(payload);  // exactly sized for AddressSanitizer
    const auto decoded = zv::DecodeBlockPayload(bytes.data(), bytes.size());
    ZV_FUZZ_CHECK(decoded.has_value());
    ZV_FUZZ_CHECK(decoded->form == payload.form);
    ZV_FUZZ_CHECK(decoded->base == (static_cast<std::uint32_t>(base) & 0xFFFF80u));
    ZV_FUZZ_CHECK(decoded->map == map);
    for (int j = 0; j < 128; ++j)
        ZV_FUZZ_CHECK(decoded->data[static_cast<std::size_t>(j)] == (Bit(map, j) ? data[static_cast<std::size_t>(j)] : 0xFF));

    // One changed byte anywhere: the CRC (or the length the payload calls for) refuses it.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        for (std::uint8_t flip : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
            bytes[i] ^= flip;
            ZV_FUZZ_CHECK(!zv::DecodeBlockPayload(bytes.data(), bytes.size()).has_value());
            bytes[i] ^= flip;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kState = 4 + 16 + 128;
    if (size >= kState) {
        std::uint32_t raw;
        std::memcpy(&raw, data, 4);
        // A window base as PutByte makes it: a multiple of 128, from a 24-bit address that
        // may have run a little past the end.
        const auto base = static_cast<std::int32_t>(raw % 0x01000100u) & ~0x7F;
        zv::BlockMap map;
        zv::BlockData block;
        std::memcpy(map.data(), data + 4, 16);
        std::memcpy(block.data(), data + 20, 128);
        if (std::any_of(map.begin(), map.end(), [](std::uint8_t b) { return b != 0; }))
            RoundTrip(base, map, block);
    }

    const std::vector<std::uint8_t> raw(data, data + size);
    const auto decoded = zv::DecodeBlockPayload(raw.data(), raw.size());
    if (decoded) {
        ZV_FUZZ_CHECK(std::any_of(decoded->map.begin(), decoded->map.end(), [](std::uint8_t b) { return b != 0; }));
        zv::BlockPayload again;
        zv::BuildBlockPayload(static_cast<std::int32_t>(decoded->base), decoded->map, decoded->data, again);
        // An n-blok whose bytes form one run is built back as an s-blok; otherwise the
        // payload is the same to the byte.
        if (again.form == decoded->form) ZV_FUZZ_CHECK(Payload(again) == raw);
        else ZV_FUZZ_CHECK(decoded->form == zv::BlockForm::N && OneRun(decoded->map));
    }
    return 0;
}
