// The block download over the pseudo-terminal: records into windows, s-blok and n-blok
// telegrams, the acknowledgement and its failures, and where a download ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "common/Messages.h"
#include "engine/BlockCrc.h"
#include "tests/engine/DownloadRig.h"
#include "tests/support/SRecordLine.h"

namespace {

using namespace zv::dltest;
namespace msg = zv::msg;

using zv::test::Rec;

Bytes Seq(std::size_t n, std::uint8_t from) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(from + i);
    return b;
}

std::string AddCrc(std::string p) {
    const std::uint16_t crc = zv::BlockCrc(reinterpret_cast<const std::uint8_t*>(p.data()), p.size());
    p += static_cast<char>(crc & 0xFF);
    p += static_cast<char>(crc >> 8);
    return p;
}

std::string Le24(std::uint32_t a) {
    return {static_cast<char>(a & 0xFF), static_cast<char>((a >> 8) & 0xFF), static_cast<char>((a >> 16) & 0xFF)};
}

// The s-blok payload as the wire carries it, laid out here by hand.
std::string SBlok(std::uint32_t address, const Bytes& data) {
    return AddCrc("s" + Le24(address) + static_cast<char>(data.size()) + std::string(data.begin(), data.end()));
}

class Download : public StationRig {};

TEST_F(Download, FullWindowGoesAsOneSBlokWhenTheNextWindowBegins) {
    const Bytes data = Seq(128, 0x40);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Run(Rec(0x012380 + 32u * i, Bytes(data.begin() + 32 * i, data.begin() + 32 * (i + 1)))), "");
    EXPECT_TRUE(Commands().empty()) << "nothing goes out while the window fills";

    ASSERT_EQ(Run(Rec(0x012400, {0xAB})), "");
    EXPECT_EQ(Commands(), Lines{SBlok(0x012380, data)});
    EXPECT_EQ(Reports(), (Lines{msg::OdesilaSeSBlok + "012380", msg::Odezva + "*012380\r"}));
    EXPECT_EQ(station().ReadMemory(0x012380, 128), data);
    // The byte that opened the new window is pending alone.
    EXPECT_EQ(worker->FBlockBase, 0x012400);
    EXPECT_EQ(worker->FBlockMap[0], 0x01);
    EXPECT_EQ(worker->FBlockData[0], 0xAB);
}

TEST_F(Download, GapsInsideAWindowMakeAnNBlok) {
    station().FillMemory(0x00);
    ASSERT_EQ(Run(Rec(0x020013, {0x11, 0x22})), "");
    ASSERT_EQ(Run(Rec(0x020020, {0x33})), "");
    ASSERT_EQ(Run(Rec(0x02007F, {0x44})), "");
    worker->FlushBlock();

    std::string map(16, '\0');
    map[2] = 0x18;                        // bits 19, 20
    map[4] = 0x01;                        // bit 32
    map[15] = static_cast<char>(0x80);    // bit 127
    EXPECT_EQ(Commands(), Lines{AddCrc("n" + Le24(0x020000) + map + "\x11\x22\x33\x44")});
    // The report names the first present byte, not the base the telegram carries.
    EXPECT_EQ(Reports(), (Lines{msg::OdesilaSeNBlok + "020013", msg::Odezva + "*020000\r"}));
    EXPECT_EQ(station().ReadMemory(0x020012, 4), (Bytes{0x00, 0x11, 0x22, 0x00}));
    EXPECT_EQ(station().ReadMemory(0x02007F, 1), Bytes{0x44});
    EXPECT_EQ(worker->FBlockBase, 0);
    EXPECT_EQ(worker->FBlockMap, (std::array<std::uint8_t, 16>{}));
}

TEST_F(Download, ARecordAcrossAWindowBoundarySendsTheFirstWindowInTheMiddle) {
    ASSERT_EQ(Run(Rec(0x03007C, Seq(8, 1))), "");
    EXPECT_EQ(Commands(), Lines{SBlok(0x03007C, Seq(4, 1))});
    EXPECT_EQ(worker->FBlockBase, 0x030080);
    EXPECT_EQ(worker->FBlockMap[0], 0x0F);
    EXPECT_EQ(Bytes(worker->FBlockData.begin(), worker->FBlockData.begin() + 5), (Bytes{5, 6, 7, 8, 0xFF}));
}

TEST_F(Download, ARecordThatFailsItsChecksStoresNothing) {
    ASSERT_EQ(Run(Rec(0x040000, {1, 2, 3})), "");
    const auto base = worker->FBlockBase;
    const auto map = worker->FBlockMap;
    const auto data = worker->FBlockData;

    std::string badSum = Rec(0x040100, {9, 9});
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    std::string badData = Rec(0x040100, {9, 9});
    badData[12] = 'G';
    EXPECT_EQ(Run(badSum), msg::VadnyRadek + badSum);
    EXPECT_EQ(Run(badData), "'0xG9' is not a valid integer value");
    EXPECT_EQ(Run(Rec(0x040100, {})), "") << "count 04 carries no data";

    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(worker->FBlockBase, base);
    EXPECT_EQ(worker->FBlockMap, map);
    EXPECT_EQ(worker->FBlockData, data);
}

struct AckCase {
    const char* name;
    zv::Station::Faults faults;
    std::string error;   // "" for an accepted block
    Lines reports;
};

TEST_F(Download, AcknowledgementAndItsFailures) {
    const std::string s = msg::OdesilaSeSBlok + "050010", again = msg::OpakujeSeSBlok + "050010";
    auto text = [](std::string t) {
        zv::Station::Faults f;
        f.replyText = std::move(t);
        return f;
    };
    zv::Station::Faults none, sc, sd1, otherDa, lateSc;
    none.dropAll = true;
    sc.form = zv::Station::Faults::Form::Sc;
    sd1.form = zv::Station::Faults::Form::Sd1;
    otherDa.wrongDa = true;
    lateSc.dropNext = 2;  // one wrong frame, at the third attempt, is enough
    lateSc.form = zv::Station::Faults::Form::Sc;

    const std::vector<AckCase> cases = {
        {"no reply", none, msg::BezOdezvy, {s, again, again}},
        {"SC frames", sc, msg::NeocekavanyTelegram, {s, again, again}},
        {"SD1 frames", sd1, msg::NeocekavanyTelegram, {s, again, again}},
        {"reply to another address", otherDa, msg::NeocekavanyTelegram, {s, again, again}},
        {"one SC after two silences", lateSc, msg::NeocekavanyTelegram, {s, again, again}},
        {"6 characters", text("*23456"), msg::NespravnaOdpoved, {s, msg::Odezva + "*23456"}},
        {"11 characters", text("*2345678901"), msg::NespravnaOdpoved, {s, msg::Odezva + "*2345678901"}},
        {"no star", text("1234567"), msg::NespravnaOdpoved, {s, msg::Odezva + "1234567"}},
        {"7 characters", text("123456*"), "", {s, msg::Odezva + "123456*"}},
        {"10 characters", text("*234567890"), "", {s, msg::Odezva + "*234567890"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        worker->DropBlock();
        worker->PutByte(0x050010, 0x5A);
        station().ClearLog();
        station().SetFaults(c.faults);
        link.timeoutMs = c.faults.dropAll ? 40 : 300;
        // Whatever came before, every attempt awaits and judges its own reply.
        worker->FNoReply = true;
        port.FReplyCount = 7;

        try {
            worker->PutByte(0x050100, 0x77);
            EXPECT_EQ(c.error, "");
        } catch (const zv::Error& e) {
            EXPECT_EQ(e.what(), c.error);
        }
        EXPECT_EQ(Reports(), c.reports);
        EXPECT_EQ(station().Requests().size(), c.error == msg::NespravnaOdpoved || c.error.empty() ? 1u : 3u);
        if (c.error.empty()) {
            EXPECT_EQ(worker->FBlockBase, 0x050100);
            continue;
        }
        // The block is still pending, and the byte that triggered it was not stored.
        EXPECT_EQ(worker->FBlockBase, 0x050000);
        EXPECT_EQ(worker->FBlockMap[2], 0x01);
        EXPECT_EQ(worker->FBlockData[0x10], 0x5A);
        EXPECT_EQ(worker->FBlockData[0], 0xFF);

        // It goes again, with new attempts, when the next window's byte comes.
        station().ClearFaults();
        station().ClearLog();
        link.timeoutMs = 300;
        worker->PutByte(0x050100, 0x77);
        EXPECT_EQ(Commands(), Lines{SBlok(0x050010, {0x5A})});
        EXPECT_EQ(worker->FBlockBase, 0x050100);
        Reports();
    }
}

// An S-record file from the lines, in the temporary folder.
std::string S24(const TempDir& dir, const std::string& name, const Lines& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    WriteFile(dir / name, text);
    return dir / name;
}

TEST_F(Download, TheLastBlockGoesAtTheEndRecordOrAtTheEndOfTheJob) {
    TempDir dir;
    const std::string s0 = "S00600004844521B", s8 = "S804060000F5";
    RunFileJob(S24(dir, "a.s24", {s0, Rec(0x060000, {1, 2}), s8}));
    ASSERT_EQ(worker->FError, "");
    EXPECT_EQ(Commands(), (Lines{s0 + "\r", SBlok(0x060000, {1, 2}), s8 + "\r"}));

    station().ClearLog();
    RunFileJob(S24(dir, "b.s24", {Rec(0x061000, {3}), Rec(0x061001, {4})}));
    ASSERT_EQ(worker->FError, "");
    EXPECT_EQ(Commands(), Lines{SBlok(0x061000, {3, 4})});
    EXPECT_EQ(worker->FBlockBase, 0);
}

TEST_F(Download, AFailedJobDropsItsBlockUnsent) {
    TempDir dir;
    const std::string bad = "S2080620000011223390";
    RunFileJob(S24(dir, "bad.s24", {Rec(0x062000, {7, 7}), bad}));
    EXPECT_NE(worker->FError, "");
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(worker->FBlockBase, 0);
    EXPECT_EQ(worker->FBlockMap, (std::array<std::uint8_t, 16>{}));

    // The next job starts clean: only its own bytes go out.
    RunFileJob(S24(dir, "good.s24", {Rec(0x063000, {8})}));
    ASSERT_EQ(worker->FError, "");
    EXPECT_EQ(Commands(), Lines{SBlok(0x063000, {8})});
}

TEST_F(Download, TheWindowAtAddressZeroIsReportedNotSent) {
    TempDir dir;
    RunFileJob(S24(dir, "zero.s24", {Rec(0x000010, {1, 2, 3}), Rec(0x000080, {4})}));
    ASSERT_EQ(worker->FError, "");
    EXPECT_EQ(Commands(), Lines{SBlok(0x000080, {4})});
    const Lines r = Reports();
    EXPECT_EQ(std::count(r.begin(), r.end(), msg::BlokNaNuleNeodesila), 1) << ::testing::PrintToString(r);
    EXPECT_NE(station().ReadMemory(0x000010, 3), (Bytes{1, 2, 3}));

    // Left pending at the end of a job, it is reported there.
    RunLineJob(Rec(0x000000, {5}));
    EXPECT_EQ(worker->FError, "");
    const Lines end = Reports();
    EXPECT_EQ(std::count(end.begin(), end.end(), msg::BlokNaNuleNeodesila), 1) << ::testing::PrintToString(end);
    EXPECT_TRUE(Commands().size() == 1) << "nothing more was sent";
    EXPECT_EQ(worker->FBlockMap, (std::array<std::uint8_t, 16>{}));
    // The constructor's call with nothing collected says nothing (see SetUp's drain).
}

}  // namespace

// ---- S-record files made by real tools, downloaded into the station ----

namespace e2e {

// The tool's full path from PATH, "" when it isn't installed.
std::string FindTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t from = 0;
    while (from <= dirs.size()) {
        const std::size_t to = std::min(dirs.find(':', from), dirs.size());
        const std::string candidate = dirs.substr(from, to - from) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        from = to + 1;
    }
    return "";
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

struct Range {
    std::uint32_t from, to;  // [from, to)
};

struct ToolCase {
    const char* name;
    const char* tool;        // "srec_cat" or "objcopy"
    std::uint32_t address;   // where the source bytes go
    std::size_t size;
    std::string options;     // after the input and output (srec_cat) or before them (objcopy)
    std::vector<Range> excluded;
};

}  // namespace e2e

TEST_F(Download, FilesMadeByRealToolsLandInTheStationsMemory) {
    using namespace e2e;
    const std::string srecCat = FindTool("srec_cat"), objcopy = FindTool("objcopy");
    if (srecCat.empty() || objcopy.empty())
        GTEST_SKIP() << "srec_cat (package srecord) or objcopy (package binutils) is not installed";

    const std::vector<ToolCase> cases = {
        {"one range, objcopy", "objcopy", 0x020000, 20000, "--adjust-vma=0x20000", {}},
        {"one range, srec_cat", "srec_cat", 0x030000, 9000, "-Output_Block_Size 32", {}},
        {"gaps inside windows", "srec_cat", 0x040000, 4096, "-Output_Block_Size 32",
         {{0x040010, 0x040018}, {0x040100, 0x040101}, {0x040205, 0x040260}, {0x040300, 0x040380}}},
        {"records across window boundaries", "srec_cat", 0x050000, 5000, "-Output_Block_Size 48", {}},
        {"a range starting inside a window", "srec_cat", 0x06007B, 3001, "-Output_Block_Size 250",
         {{0x0600F0, 0x060111}}},
    };
    TempDir dir;
    unsigned seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        station().FillMemory(0xEE);
        const Bytes source = RandomBytes(c.size, seed++);
        const std::string bin = dir / "source.bin", s24 = dir / "image.s24";
        WriteFile(bin, source);
        std::string command;
        if (std::string(c.tool) == "objcopy") {
            command = objcopy + " -I binary -O srec " + c.options + " " + bin + " " + s24;
        } else {
            char offset[16];
            std::snprintf(offset, sizeof offset, "0x%06X", c.address);
            command = srecCat + " " + bin + " -binary -offset " + offset;
            for (const auto& r : c.excluded) command += " -exclude " + std::to_string(r.from) + " " + std::to_string(r.to);
            command += " -o " + s24 + " -address-length=3 " + c.options;
        }
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        // The tools must have written 24-bit data records, or the case tests nothing.
        const Bytes text = ReadFile(s24);
        ASSERT_NE(std::string(text.begin(), text.end()).find("\nS2"), std::string::npos);

        RunFileJob(s24);
        ASSERT_EQ(worker->FError, "") << ::testing::PrintToString(Reports());
        Reports();

        Bytes expected = source;
        for (const auto& r : c.excluded)
            for (std::uint32_t a = r.from; a < r.to; ++a) expected[a - c.address] = 0xEE;
        EXPECT_EQ(station().ReadMemory(c.address, c.size), expected);
        // Nothing outside the range was touched.
        EXPECT_EQ(station().ReadMemory(c.address - 0x80, 0x80), Bytes(0x80, 0xEE));
        EXPECT_EQ(station().ReadMemory(c.address + static_cast<std::uint32_t>(c.size), 0x80), Bytes(0x80, 0xEE));
    }
}

TEST_F(Download, TheShippedDemoImageLoadsAsTheToolReadsIt) {
    const std::string srecCat = e2e::FindTool("srec_cat");
    if (srecCat.empty()) GTEST_SKIP() << "srec_cat (package srecord) is not installed";
    const std::string demo = (std::filesystem::path(__FILE__).parent_path() / "../../examples/demo.s24").string();
    ASSERT_TRUE(std::filesystem::exists(demo)) << demo;

    // The tool's own reading of the image: its span as a binary, the gap filled with 0xEE.
    TempDir dir;
    const std::string bin = dir / "demo.bin";
    const std::string command = srecCat + " " + demo + " -fill 0xEE 0x010000 0x019234 -crop 0x010000 0x019234 -offset -0x010000 -o " +
                                bin + " -binary";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes expected = ReadFile(bin);
    ASSERT_EQ(expected.size(), 0x9234u);

    station().FillMemory(0xEE);
    RunFileJob(demo);
    ASSERT_EQ(worker->FError, "");
    EXPECT_EQ(station().ReadMemory(0x010000, expected.size()), expected);
}
