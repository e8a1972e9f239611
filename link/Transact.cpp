// Tsiocom::Transact: one telegram out, at most one reply frame in, under FLock from
// the first look at the port to the end of the reply.
#include <cstring>

#include "common/Error.h"
#include "common/Messages.h"
#include "link/CharTime.h"
#include "link/Pbt.h"
#include "link/PortLock.h"
#include "link/Tsigs.h"

namespace pbt = zv::pbt;

bool Tsiocom::Transact(const std::uint8_t* frame, std::int32_t length, std::uint8_t* reply,
                       std::int32_t replyTimeoutMs, const std::function<void()>& sent) {
    if (!pbt::ValidLength(length)) throw zv::Error(zv::msg::InvalidPbtLength);
    std::uint8_t out[pbt::kMaxSent];
    const std::size_t outLength = pbt::BuildFrame(frame, length, out);

    zv::link::PortLock lock(FLock);
    if (!FHandle.IsOpen()) throw zv::Error(zv::msg::GetCommTimeoutsFailed);

    const auto t = static_cast<std::uint32_t>(
        zv::link::CharTime(zv::posix::SpeedOf(FDCB), zv::posix::ParityOf(FDCB) != zv::posix::kParityNone));
    FTimeouts.readMultiplier = 3 * t;
    FTimeouts.readConstant = static_cast<std::uint32_t>(replyTimeoutMs);
    FTimeouts.writeMultiplier = 2 * t;
    FTimeouts.writeConstant = 200;

    // A late reply to an earlier request, or the answer to a command that awaited none,
    // must not be taken for the reply to this one.
    FHandle.FlushInput();
    FHandle.ClearErrors();

    if (FHandle.Write(out, outLength, WriteTimeout(outLength)) < 0)
        throw zv::Error(zv::msg::WriteFileFailed);
    if (sent) sent();
    if (reply == nullptr) return true;

    // Bytes that cannot begin a frame (noise as the line turns round, say) are passed
    // over while the first byte is awaited: the reply that follows them still counts.
    // Only reads that bring nothing use up the four waits; a line that babbles on is
    // given up after a whole frame's worth of such bytes.
    std::uint8_t in[pbt::kMaxReceived];
    bool first = false;
    std::size_t skipped = 0;
    for (int silent = 0; silent < 4 && !first;) {
        const long got = FHandle.Read(in, 1, ReadTimeout(1));
        if (got < 0) throw zv::Error(zv::msg::ReadFileFailed);
        if (got == 0)
            ++silent;
        else if (in[0] == pbt::kSC || in[0] == pbt::kSD1 || in[0] == pbt::kSD2)
            first = true;
        else if (++skipped > pbt::kMaxReceived)
            return false;
    }
    if (!first) return false;

    // The rest of the frame, each part with one read; a short or failed read spoils it.
    auto readPart = [&](std::uint8_t* to, std::size_t n) {
        return FHandle.Read(to, n, ReadTimeout(n)) == static_cast<long>(n);
    };
    const std::size_t inLength = pbt::ReceiveFrame(in, readPart);
    if (inLength == 0) return false;
    // A framing, parity or overrun error during the exchange spoils the frame.
    if (FHandle.ClearErrors()) return false;

    std::memcpy(reply, in, inLength);
    FReplyCount.fetch_add(1, std::memory_order_relaxed);
    return true;
}
