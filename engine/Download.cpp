// The S-record download: "S2" records collected into 128-byte windows, each window sent
// to the station as one s-blok or n-blok telegram with up to three attempts.
#include <bit>
#include <cstdio>
#include <string>

#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"
#include "engine/SRecord.h"

namespace {

constexpr int kBlockAttempts = 3;
constexpr std::int32_t kWindowMask = ~std::int32_t{0x7F};
constexpr std::size_t kMinAck = 7, kMaxAck = 10;

std::string Hex6(std::int32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(v));
    return text;
}

}  // namespace

void TPrikaz::LoadSRecord(const std::string& line) {
    zv::S2Record record;
    zv::ParseS2Record(line, record);  // a record that fails its checks stores nothing
    std::int32_t address = record.address;
    for (int i = 0; i < record.count; ++i) PutByte(address++, record.data[static_cast<std::size_t>(i)]);
}

void TPrikaz::PutByte(std::int32_t address, std::uint8_t byte) {
    const std::int32_t base = address & kWindowMask;
    if (base != FBlockBase) {
        SendBlock();  // a failure leaves the pending block as it was; this byte is not stored
        FBlockBase = base;
    }
    const auto j = static_cast<std::size_t>(address & 0x7F);
    FBlockData[j] = byte;
    FBlockMap[j >> 3] = static_cast<std::uint8_t>(FBlockMap[j >> 3] | (1u << (j & 7)));
}

void TPrikaz::DropBlock() {
    FBlockBase = 0;
    FBlockMap.fill(0);
    FBlockData.fill(0xFF);
}

void TPrikaz::FlushBlock() { SendBlock(); }

void TPrikaz::SendBlock() {
    const bool collected = FBlockMap != zv::BlockMap{};
    if (FBlockBase == 0 || !collected) {
        // Base 0 stands for "no block", so the window at address 0 is never sent; say so
        // rather than lose its bytes silently.
        if (collected) Report(zv::msg::BlokNaNuleNeodesila);
        DropBlock();
        return;
    }

    zv::BlockPayload payload;
    zv::BuildBlockPayload(FBlockBase, FBlockMap, FBlockData, payload);
    const bool s = payload.form == zv::BlockForm::S;
    const std::string where = Hex6(FBlockBase + payload.first);
    // The block's lines are reported quietly: waking the reader between a reply and the
    // next block would hold every block back by a thread wake-up.
    ReportQuietly((s ? zv::msg::OdesilaSeSBlok : zv::msg::OdesilaSeNBlok) + where);

    // Every attempt awaits and judges a reply, whatever the last text command was.
    FPort.FReplyCount = 0;
    FNoReply = false;
    bool accepted = false;
    for (int attempt = 1; attempt <= kBlockAttempts && !accepted; ++attempt) {
        if (attempt > 1) ReportQuietly((s ? zv::msg::OpakujeSeSBlok : zv::msg::OpakujeSeNBlok) + where);
        accepted = Exchange(payload.bytes.data(), static_cast<std::int32_t>(payload.size));
    }
    if (!accepted)
        throw zv::Error(FPort.FReplyCount == 0 ? zv::msg::BezOdezvy : zv::msg::NeocekavanyTelegram);

    ReportQuietly(zv::msg::Odezva + FResponse);
    if (FResponse.size() >= kMinAck && FResponse.size() <= kMaxAck && FResponse.find('*') != std::string::npos) {
        std::uint64_t present = 0;
        for (const std::uint8_t bits : FBlockMap) present += static_cast<std::uint64_t>(std::popcount(bits));
        FBytesAcknowledged.fetch_add(present, std::memory_order_relaxed);
        DropBlock();  // sent: back to the empty form
        return;
    }
    throw zv::Error(zv::msg::NespravnaOdpoved);
}
