#include "station/Frame.h"

#include <stdexcept>

namespace zv::station {

std::uint8_t Fcs(const std::uint8_t* bytes, std::size_t n) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> BuildSd2(std::uint8_t da, std::uint8_t sa, std::uint8_t fc,
                                   std::string_view data) {
    if (data.size() > 252) throw std::length_error("SD2 data longer than 252 bytes");
    const auto le = static_cast<std::uint8_t>(data.size() + 3);
    std::vector<std::uint8_t> f;
    f.reserve(data.size() + 9);
    for (std::uint8_t b : {kSd2, le, le, kSd2, da, sa, fc}) f.push_back(b);
    for (char c : data) f.push_back(static_cast<std::uint8_t>(c));
    f.push_back(Fcs(f.data() + 4, le));
    f.push_back(kEnd);
    return f;
}

std::vector<std::uint8_t> BuildSd1(std::uint8_t da, std::uint8_t sa, std::uint8_t fc) {
    std::vector<std::uint8_t> f{kSd1, da, sa, fc, 0, kEnd};
    f[4] = Fcs(f.data() + 1, 3);
    return f;
}

std::uint16_t BlockCrc(const std::uint8_t* bytes, std::size_t n) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint16_t>(bytes[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0xB599)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

void FrameReader::Push(const std::uint8_t* bytes, std::size_t n) {
    FBuf.insert(FBuf.end(), bytes, bytes + n);
}

FrameReader::Check FrameReader::CheckAt(std::size_t off, std::size_t& length) const {
    const std::size_t avail = FBuf.size() - off;
    if (avail < 1) return Check::NeedMore;
    if (FBuf[off] != kSd2) return Check::Bad;
    if (avail < 4) return Check::NeedMore;
    const std::size_t le = FBuf[off + 1];
    if (FBuf[off + 2] != le || FBuf[off + 3] != kSd2 || le < 3) return Check::Bad;
    if (avail < le + 6) return Check::NeedMore;
    unsigned sum = 0;
    for (std::size_t i = 0; i < le; ++i) sum += FBuf[off + 4 + i];
    if (FBuf[off + 4 + le] != (sum & 0xFF) || FBuf[off + 5 + le] != kEnd) return Check::Bad;
    length = le + 6;
    return Check::Valid;
}

void FrameReader::Drop(std::size_t n) {
    FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<std::ptrdiff_t>(n));
    FBase += n;
}

std::optional<Sd2Frame> FrameReader::Next() {
    while (!FBuf.empty()) {
        std::size_t length = 0;
        const Check c = CheckAt(0, length);
        if (c == Check::Bad) {
            Drop(1);
            ++FSkipped;
            continue;
        }
        if (c == Check::NeedMore) {
            // The front may be a stray start byte: take a complete frame behind it.
            std::size_t found = 0;
            for (std::size_t off = 1; off < FBuf.size(); ++off) {
                if (CheckAt(off, length) == Check::Valid) {
                    found = off;
                    break;
                }
            }
            if (found == 0) return std::nullopt;
            Drop(found);
            FSkipped += found;
        }
        Sd2Frame f;
        f.start = FBase;
        f.length = length;
        f.da = FBuf[4];
        f.sa = FBuf[5];
        f.fc = FBuf[6];
        f.data.assign(FBuf.begin() + 7, FBuf.begin() + static_cast<std::ptrdiff_t>(length - 2));
        Drop(length);
        return f;
    }
    return std::nullopt;
}

}  // namespace zv::station
