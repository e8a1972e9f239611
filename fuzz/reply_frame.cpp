// The reply frame as Transact receives it: the input is the byte stream on the line, read
// part by part through the same ReceiveFrame that Transact uses. An accepted frame is 1, 6
// or LE + 6 bytes, is exactly the bytes that came, and its FCS and end byte recompute; no
// read goes past what came. The second half builds a frame from the input and receives it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Check.h"
#include "link/Pbt.h"

namespace pbt = zv::pbt;

namespace {

// The line: each read brings at most what is left, as a read cut off by its time-out does.
struct Line {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    bool ReadPart(std::uint8_t* to, std::size_t n) {
        const std::size_t got = std::min(n, size - pos);
        std::memcpy(to, data + pos, got);
        pos += got;
        return got == n;
    }
};

std::size_t Receive(const std::uint8_t* data, std::size_t size, std::uint8_t* frame) {
    if (size == 0) return 0;  // no first byte: Transact gives up before ReceiveFrame
    Line line{data, size, 1};
    frame[0] = data[0];
    const std::size_t length =
        pbt::ReceiveFrame(frame, [&](std::uint8_t* to, std::size_t n) {
            ZV_FUZZ_CHECK(to >= frame && to + n <= frame + pbt::kMaxReceived);
            return line.ReadPart(to, n);
        });
    ZV_FUZZ_CHECK(line.pos <= size);
    if (length == 0) return 0;

    ZV_FUZZ_CHECK(length <= pbt::kMaxReceived);
    ZV_FUZZ_CHECK(length == line.pos);  // the frame is all that was read, nothing more
    ZV_FUZZ_CHECK(std::memcmp(frame, data, length) == 0);
    switch (frame[0]) {
    case pbt::kSC:
        ZV_FUZZ_CHECK(length == 1);
        break;
    case pbt::kSD1:
        ZV_FUZZ_CHECK(length == 6);
        ZV_FUZZ_CHECK(frame[4] == static_cast<std::uint8_t>(frame[1] + frame[2] + frame[3]));
        ZV_FUZZ_CHECK(frame[5] == pbt::kEnd);
        break;
    case pbt::kSD2: {
        const std::size_t le = frame[1];
        ZV_FUZZ_CHECK(length == le + 6);
        ZV_FUZZ_CHECK(frame[2] == frame[1] && frame[3] == pbt::kSD2);
        unsigned sum = 0;
        for (std::size_t i = 0; i < le; ++i) sum += frame[4 + i];
        ZV_FUZZ_CHECK(frame[4 + le] == static_cast<std::uint8_t>(sum));
        ZV_FUZZ_CHECK(frame[5 + le] == pbt::kEnd);
        break;
    }
    default:
        ZV_FUZZ_CHECK(false);  // no other first byte is ever accepted
    }
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly sized copy, so that a read past the input is an AddressSanitizer report.
    const std::vector<std::uint8_t> stream(data, data + size);
    std::uint8_t frame[pbt::kMaxReceived];
    Receive(stream.data(), stream.size(), frame);

    // Every frame that may be sent is received whole: the first input byte picks the
    // length, the rest fills DA, SA, FC and data.
    if (size >= 1) {
        const std::int32_t lengths[] = {1, 6};
        const std::int32_t length =
            data[0] < 2 ? lengths[data[0]] : 7 + static_cast<std::int32_t>(data[0] % (pbt::kMaxSent - 6));
        ZV_FUZZ_CHECK(pbt::ValidLength(length));
        std::uint8_t in[pbt::kMaxSent] = {};
        std::memcpy(in, data + 1, std::min<std::size_t>(size - 1, sizeof in));
        std::vector<std::uint8_t> out(pbt::kMaxSent);
        const std::size_t built = pbt::BuildFrame(in, length, out.data());
        ZV_FUZZ_CHECK(built == static_cast<std::size_t>(length));
        out.resize(built);
        std::uint8_t back[pbt::kMaxReceived];
        ZV_FUZZ_CHECK(Receive(out.data(), out.size(), back) == built);
    }
    return 0;
}
