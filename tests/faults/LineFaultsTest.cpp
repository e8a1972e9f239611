// Faults on the line, end to end: the station misbehaves while a text command job and a
// download job run, each job ends as it should, and the worker and the port carry on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/faults/FaultRig.h"

namespace {

using namespace zv::faulttest;

const std::string kMonitor = "ZV384 monitor 1.0, stanice 127\r";
const std::string kEnd = "S804010000FA";  // end record, start address 0x010000

Bytes Seq(std::size_t n, std::uint8_t from) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(from + i);
    return b;
}

// Three windows and the end record: the first block goes out at line 1, when the byte of
// the second window arrives.
const std::vector<std::pair<std::uint32_t, Bytes>> kImage = {
    {0x010000, Seq(16, 0x10)}, {0x010080, Seq(16, 0x30)}, {0x010100, Seq(8, 0x50)}};

Lines ImageLines() {
    Lines lines;
    for (const auto& [a, d] : kImage) lines.push_back(Rec(a, d));
    lines.push_back(kEnd);
    return lines;
}

struct LineFault {
    const char* name;
    F faults;
    bool accepted;           // the reply is taken, by a text command and by a block alike
    std::string blockError;  // what the block says when it is not
};

F Form(F::Form form) {
    F f;
    f.form = form;
    return f;
}

const std::vector<LineFault>& Cases() {
    static const std::vector<LineFault> cases = {
        // Noise bytes first, then the frame: taken.
        {"garbage before the start byte", With([](F& f) { f.garbageFirst = std::string("\x00\xFF\x55\x16", 4); }), true, ""},
        {"reply split into single bytes", With([](F& f) { f.splitWrites = 1; }), true, ""},
        // Not a frame at all: nothing came, as far as a block can tell.
        {"frame cut short", With([](F& f) { f.cutShort = 3; }), false, msg::BezOdezvy},
        {"wrong FCS", With([](F& f) { f.badFcs = true; }), false, msg::BezOdezvy},
        {"LE differs from LEr", With([](F& f) { f.leMismatch = true; }), false, msg::BezOdezvy},
        {"no end byte", With([](F& f) { f.noEndByte = true; }), false, msg::BezOdezvy},
        // Valid frames that are no reply to us.
        {"frame for another address", With([](F& f) { f.wrongDa = true; }), false, msg::NeocekavanyTelegram},
        {"wrong function code", With([](F& f) { f.wrongFc = true; }), false, msg::NeocekavanyTelegram},
        {"SC frame", Form(F::Form::Sc), false, msg::NeocekavanyTelegram},
        {"SD1 frame", Form(F::Form::Sd1), false, msg::NeocekavanyTelegram},
        // Well after all three attempts have given up (30 ms time-outs, see Expect).
        {"late reply", With([](F& f) { f.delayMs = 1200; }), false, msg::BezOdezvy},
    };
    return cases;
}

class LineFaults : public FaultRig {
protected:
    // Short time-outs where every attempt is to fail, so that the three attempts are
    // quick; the rig's generous one where a reply is to be taken.
    void Expect(const LineFault& c) {
        station().ClearLog();
        station().SetFaults(c.faults);
        link.timeoutMs = c.accepted ? 500 : 30;
    }

    // After a fault: the lock is free, every reply the station still owes has come (so
    // that none of them can pass for the next one), and the next job succeeds.
    void CarriesOn(std::size_t replies, bool late) {
        EXPECT_TRUE(LockFree());
        EXPECT_FALSE(worker->FBusy);
        link.timeoutMs = 500;
        station().ClearFaults();
        ASSERT_TRUE(station().WaitForReplies(replies, 20s));
        // The late replies must be in the port's queue before the next request, which is
        // to drop them; on a loaded machine they can still be on their way to it.
        if (late) {
            ASSERT_TRUE(station().WaitForHostInput(station().GetCounters().replyBytes, 20s));
        }
        station().ClearLog();
        EXPECT_EQ(LineJob("rpl2"), (Lines{msg::OdesilaSePrikaz + "rpl2", msg::Odpoved + "ok\r", kDone}));
        // And after the port is opened again.
        Reopen();
        EXPECT_EQ(LineJob("I000000").back(), kDone);
        station().ClearLog();
    }
};

TEST_F(LineFaults, TextCommandJob) {
    const Lines noReply = {msg::OdesilaSePrikaz + "I000000", msg::OpakujeSePrikaz + "I000000\r",
                           msg::OpakujeSePrikaz + "I000000\r", msg::BezOdezvy + " ", kInterrupted};
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.name);
        Expect(c);
        const Lines reports = LineJob("I000000");
        if (c.accepted)
            EXPECT_EQ(reports, (Lines{msg::OdesilaSePrikaz + "I000000", msg::Odpoved + kMonitor, kDone}));
        else
            EXPECT_EQ(reports, noReply);
        const std::size_t sent = c.accepted ? 1 : 3;
        // A late station takes the repeats in only after its late replies.
        ASSERT_TRUE(station().WaitForRequests(sent, 20s));
        EXPECT_EQ(Commands(), Lines(sent, "I000000\r"));
        CarriesOn(sent, c.faults.delayMs > 0);
    }
}

TEST_F(LineFaults, DownloadJob) {
    const std::string file = dir.Write("image.s24", Joined(ImageLines()));
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.name);
        station().FillMemory(0xFF);
        Expect(c);
        const Lines reports = FileJob(file);
        if (c.accepted) {
            EXPECT_EQ(reports.back(), kDone) << ::testing::PrintToString(reports);
            EXPECT_EQ(worker->FError, "");
            for (const auto& [a, d] : kImage) EXPECT_EQ(station().ReadMemory(a, d.size()), d);
            EXPECT_EQ(Commands().size(), 4u) << "three blocks and the end record";
        } else {
            // The first block fails at line 1; nothing after it goes out.
            EXPECT_EQ(worker->FError, "Soubor:" + file + msg::RadekPrefix + "1" + msg::IndexSeparator + c.blockError + " ");
            EXPECT_EQ(reports, (Lines{msg::OdesilaSeSBlok + "010000", msg::OpakujeSeSBlok + "010000",
                                      msg::OpakujeSeSBlok + "010000", worker->FError, kInterrupted}));
            ASSERT_TRUE(station().WaitForRequests(3, 20s));
            EXPECT_EQ(Commands().size(), 3u);
            EXPECT_EQ(worker->FBlockBase, 0) << "a failed job leaves no block behind";
        }
        CarriesOn(c.accepted ? 4 : 3, c.faults.delayMs > 0);
        // The same download goes through once the station behaves.
        station().FillMemory(0xFF);
        EXPECT_EQ(FileJob(file).back(), kDone);
        for (const auto& [a, d] : kImage) EXPECT_EQ(station().ReadMemory(a, d.size()), d);
    }
}

// A download without an end record sends its last block when the job ends; when that
// block gets no reply, the job still fails, without the line count of a finished file.
TEST_F(LineFaults, TheLastBlockFailingAtTheEndOfTheJob) {
    const std::string file = dir.Write("tail.s24", Joined({Rec(0x010000, {1, 2, 3})}));
    link.timeoutMs = 30;
    station().SetFaults(With([](F& f) { f.dropAll = true; }));
    EXPECT_EQ(FileJob(file), (Lines{msg::OdesilaSeSBlok + "010000", msg::OpakujeSeSBlok + "010000",
                                    msg::OpakujeSeSBlok + "010000", msg::BezOdezvy + " ", kInterrupted}));
    EXPECT_EQ(worker->FBlockBase, 0);
    EXPECT_TRUE(LockFree());
}

// The adapter is pulled while a download runs: the job fails at the line it had come to,
// never reports success, and the port works again once a new one is opened.
TEST_F(LineFaults, StationVanishesInTheMiddleOfADownload) {
    Lines lines;
    const int windows = 400;  // far more than can go out before the station is gone
    for (int i = 0; i < windows; ++i) lines.push_back(Rec(0x100000 + 0x80u * i, {static_cast<std::uint8_t>(i)}));
    lines.push_back(kEnd);
    const std::string file = dir.Write("long.s24", Joined(lines));

    worker->StartFile(file);
    ASSERT_TRUE(station().WaitForRequests(3, 20s));
    station().Vanish();
    const Lines reports = WaitForJob();

    EXPECT_FALSE(Has(reports, kDone)) << ::testing::PrintToString(reports);
    EXPECT_EQ(reports.back(), kInterrupted);
    const std::string head = "Soubor:" + file + msg::RadekPrefix;
    ASSERT_EQ(worker->FError.rfind(head, 0), 0u) << worker->FError;
    const std::string rest = worker->FError.substr(head.size());
    const std::size_t sep = rest.find(msg::IndexSeparator);
    ASSERT_NE(sep, std::string::npos);
    const int index = std::stoi(rest.substr(0, sep));
    EXPECT_GE(index, 3);
    EXPECT_LT(index, windows);
    const std::string why = rest.substr(sep + msg::IndexSeparator.size());
    EXPECT_TRUE(why == msg::WriteFileFailed + " " || why == msg::ReadFileFailed + " ") << why;
    EXPECT_LT(station().Requests().size(), static_cast<std::size_t>(windows));
    EXPECT_TRUE(LockFree());

    // On the dead port a job fails with the port's error, and leaves the lock free.
    const Lines dead = LineJob("I000000");
    EXPECT_EQ(dead.back(), kInterrupted);
    EXPECT_TRUE(Has(dead, msg::WriteFileFailed + " ") || Has(dead, msg::ReadFileFailed + " "))
        << ::testing::PrintToString(dead);
    EXPECT_TRUE(LockFree());

    NewStation();
    EXPECT_EQ(LineJob("I000000").back(), kDone);
    const std::string small = dir.Write("small.s24", Joined(ImageLines()));
    EXPECT_EQ(FileJob(small).back(), kDone);
    for (const auto& [a, d] : kImage) EXPECT_EQ(station().ReadMemory(a, d.size()), d);
    EXPECT_EQ(station().ReadMemory(0x100000, 1), Bytes{0xFF}) << "nothing of the old download reaches the new station";
}

}  // namespace
