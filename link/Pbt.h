#pragma once
// The PBT frame forms: SC (0xE5), SD1 (0x10 DA SA FC FCS 0x16) and SD2
// (0x68 LE LEr 0x68 DA SA FC data FCS 0x16). Pure code, no I/O.
#include <cstddef>
#include <cstdint>

namespace zv::pbt {

inline constexpr std::uint8_t kSC = 0xE5;
inline constexpr std::uint8_t kSD1 = 0x10;
inline constexpr std::uint8_t kSD2 = 0x68;
inline constexpr std::uint8_t kEnd = 0x16;

inline constexpr std::size_t kMaxSent = 255;      // SD2 with LE up to 249
inline constexpr std::size_t kMaxReceived = 261;  // SD2 with LE up to 255

// Lengths that may be sent: 1 (SC), 6 (SD1), 7..255 (SD2).
constexpr bool ValidLength(std::int32_t length) {
    return length == 1 || length == 6 || (length >= 7 && length <= 255);
}

// Sum of n bytes modulo 256.
std::uint8_t Fcs(const std::uint8_t* p, std::size_t n);

// Builds the frame of a valid length from the caller's buffer, which holds DA, SA, FC
// and data at their frame offsets; writes start bytes, LE, LEr, FCS and end byte.
// `out` holds kMaxSent bytes. Returns the frame's length.
std::size_t BuildFrame(const std::uint8_t* in, std::int32_t length, std::uint8_t* out);

// Checks of a received frame, stage by stage as it is read:
// the whole 6 bytes of an SD1 frame;
bool ValidSd1(const std::uint8_t* f);
// the first 4 bytes of an SD2 frame (0x68, LE = LEr, 0x68);
bool ValidSd2Head(const std::uint8_t* f);
// the whole SD2 frame of LE + 6 bytes, its head already checked.
bool ValidSd2Tail(const std::uint8_t* f);

// Reads the rest of a reply frame whose first byte is already in f[0], one read per part
// as the line delivers it, and checks each part. `readPart(to, n)` must fill n bytes at
// `to` and say whether all n came; a short part spoils the frame and nothing more is read.
// `f` holds kMaxReceived bytes. Returns the frame's length (1, 6 or LE + 6), 0 when the
// frame is not valid.
template <typename ReadPart>
std::size_t ReceiveFrame(std::uint8_t* f, ReadPart&& readPart) {
    switch (f[0]) {
    case kSC:
        return 1;
    case kSD1:
        return readPart(f + 1, std::size_t{5}) && ValidSd1(f) ? 6 : 0;
    case kSD2:
        if (!readPart(f + 1, std::size_t{3}) || !ValidSd2Head(f)) return 0;
        return readPart(f + 4, std::size_t{f[1]} + 2) && ValidSd2Tail(f) ? std::size_t{f[1]} + 6 : 0;
    default:
        return 0;
    }
}

}  // namespace zv::pbt
