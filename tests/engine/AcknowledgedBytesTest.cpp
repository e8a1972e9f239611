// The count of acknowledged download bytes that the front ends show as a rate: data
// bytes of acknowledged blocks only, not payload or frame bytes, and nothing for a block
// the station did not acknowledge.
#include <gtest/gtest.h>

#include "common/Error.h"
#include "tests/engine/DownloadRig.h"

namespace {

using namespace zv::dltest;

class AcknowledgedBytes : public StationRig {};

TEST_F(AcknowledgedBytes, CountsTheDataBytesOfAcknowledgedBlocks) {
    for (std::int32_t a = 0x1000; a < 0x1080; ++a) worker->PutByte(a, 0x11);
    worker->PutByte(0x1080, 0x22);  // s-blok of 128 goes out
    EXPECT_EQ(worker->FBytesAcknowledged.load(), 128u);

    worker->PutByte(0x1090, 0x33);
    worker->PutByte(0x1091, 0x44);
    worker->PutByte(0x2000, 0x55);  // n-blok of 3 bytes in two runs
    EXPECT_EQ(worker->FBytesAcknowledged.load(), 131u);

    zv::Station::Faults refused;
    refused.replyText = "1234567";  // an accepted reply without "*"
    station().SetFaults(refused);
    EXPECT_THROW(worker->PutByte(0x2080, 0x66), zv::Error);
    zv::Station::Faults silent;
    silent.dropAll = true;
    station().SetFaults(silent);
    link.timeoutMs = 40;
    EXPECT_THROW(worker->PutByte(0x2080, 0x66), zv::Error);
    EXPECT_EQ(worker->FBytesAcknowledged.load(), 131u);

    station().ClearFaults();
    worker->PutByte(0x2080, 0x66);  // the pending block, now acknowledged
    EXPECT_EQ(worker->FBytesAcknowledged.load(), 132u);
}

}  // namespace
