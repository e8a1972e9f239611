#pragma once
// The station's own telegram code: frame building, the block CRC and a reader that
// finds request frames in the byte stream from the host. Kept apart from the link's
// framing on purpose, so that a framing fault cannot hide by being the same on both ends.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::station {

inline constexpr std::uint8_t kSc = 0xE5;
inline constexpr std::uint8_t kSd1 = 0x10;
inline constexpr std::uint8_t kSd2 = 0x68;
inline constexpr std::uint8_t kEnd = 0x16;

// Sum of the bytes modulo 256.
std::uint8_t Fcs(const std::uint8_t* bytes, std::size_t n);

// 0x68 LE LE 0x68 DA SA FC data FCS 0x16; data may be up to 252 bytes (LE 255).
std::vector<std::uint8_t> BuildSd2(std::uint8_t da, std::uint8_t sa, std::uint8_t fc,
                                   std::string_view data);
// 0x10 DA SA FC FCS 0x16.
std::vector<std::uint8_t> BuildSd1(std::uint8_t da, std::uint8_t sa, std::uint8_t fc);

// CRC-16 of download blocks: polynomial 0xB599, initial 0, MSB first, no reflection,
// no final XOR.
std::uint16_t BlockCrc(const std::uint8_t* bytes, std::size_t n);

// One SD2 frame found in the stream.
struct Sd2Frame {
    std::uint8_t da = 0;
    std::uint8_t sa = 0;
    std::uint8_t fc = 0;
    std::string data;           // the bytes after FC up to the FCS
    std::uint64_t start = 0;    // stream position of its first byte
    std::size_t length = 0;     // whole frame, LE + 6
};

// Collects bytes and hands out the valid SD2 frames in them. Bytes that cannot begin a
// valid frame are skipped one at a time; while a candidate at the front is incomplete, a
// complete valid frame further on wins, so a stray 0x68 cannot hold up the stream.
class FrameReader {
public:
    void Push(const std::uint8_t* bytes, std::size_t n);
    std::optional<Sd2Frame> Next();

    std::uint64_t Skipped() const { return FSkipped; }
    std::size_t Pending() const { return FBuf.size(); }

private:
    enum class Check { NeedMore, Bad, Valid };
    Check CheckAt(std::size_t offset, std::size_t& length) const;
    void Drop(std::size_t n);

    std::deque<std::uint8_t> FBuf;
    std::uint64_t FBase = 0;      // stream position of FBuf[0]
    std::uint64_t FSkipped = 0;   // bytes dropped as not belonging to a frame
};

}  // namespace zv::station
