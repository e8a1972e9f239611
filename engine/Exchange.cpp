// One request telegram to the station and, unless no reply is awaited, its reply.
#include <array>
#include <cstring>

#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"

namespace {

constexpr std::int32_t kMaxCommandBytes = 245;  // a sent frame is at most 255 bytes
constexpr std::int32_t kRequestOverhead = 10;   // 68 LE LEr 68 DA SA FC F5 .. FCS 16
constexpr std::uint8_t kRequestFc = 0x47;
constexpr std::uint8_t kReplyFc = 0x07;
constexpr std::uint8_t kServiceByte = 0xF5;
constexpr std::size_t kReplyBufferSize = 261;  // LE up to 255 in a received frame

}  // namespace

bool TPrikaz::Exchange(const std::uint8_t* data, std::int32_t n) {
    // The frame buffer below is sized for the largest request; a count outside it is the
    // same error the port raises for a frame it cannot send, and nothing is sent.
    if (n < 0 || n > kMaxCommandBytes) throw zv::Error(zv::msg::InvalidPbtLength);

    std::array<std::uint8_t, kMaxCommandBytes + kRequestOverhead> frame{};
    frame[4] = static_cast<std::uint8_t>(FLink.StationAddress() & 0xFF);
    frame[5] = static_cast<std::uint8_t>(FLink.SourceAddress() & 0xFF);
    frame[6] = kRequestFc;
    frame[7] = kServiceByte;
    if (n > 0) std::memcpy(frame.data() + 8, data, static_cast<std::size_t>(n));
    const std::int32_t length = n + kRequestOverhead;

    // Lines reported quietly on the way here reach the reader while the line carries the
    // request, not before it.
    const std::function<void()> sent = [this] { FReports.WakeReader(); };
    if (FNoReply) {
        FPort.Transact(frame.data(), length, nullptr, 0, sent);
        return true;
    }

    std::array<std::uint8_t, kReplyBufferSize> reply{};
    if (!FPort.Transact(frame.data(), length, reply.data(), FLink.ReplyTimeout(), sent)) return false;

    if (reply[0] != 0x68) return false;
    const std::size_t le = reply[1];
    if (le < 4) return false;
    // Compared as whole numbers: a source address outside a byte never matches.
    if (static_cast<std::int32_t>(reply[4]) != FLink.SourceAddress()) return false;
    if (reply[6] != kReplyFc || reply[7] != kServiceByte) return false;

    std::string text;
    for (std::size_t i = 8; i <= le + 3 && reply[i] != 0; ++i) text += static_cast<char>(reply[i]);
    FResponse = std::move(text);
    return true;
}
