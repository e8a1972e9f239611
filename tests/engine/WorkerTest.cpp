// Jobs on the worker's own thread: their closing lines, the negative-reply test after a
// single-line job, errors newest first, and the worker's shutdown.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/engine/EngineRig.h"
#include "tests/support/SRecordLine.h"

namespace {

using namespace zv::enginetest;

const std::string kSent = Cp("Odesílá se příkaz: ");
const std::string kReply = Cp("Odpověď: ");
const std::string kMonitor = "ZV384 monitor 1.0, stanice 127\r";
const std::string kNegative = Cp("Negativní odpověď. ");

class Worker : public EngineRig {
protected:
    TempDir dir;
};

TEST_F(Worker, ClosingLinesOfEachKindOfJob) {
    const std::string empty = dir.Write("empty.cmd", "");
    const std::string two = dir.Write("two.cmd", "I000000\n;\n");
    const std::string missing = dir / "missing.cmd";
    struct Case {
        bool file;
        std::string job;
        Lines reports;
    };
    const Case cases[] = {
        {false, "", {kDone}},
        {false, "I000000", {kSent + "I000000", kReply + kMonitor, kDone}},
        {false, "X", {kSent + "X", kReply + "?\r", kNegative, kInterrupted}},
        {true, empty, {Cp("Zpracováno 0 řádek."), kDone}},
        {true, two, {kSent + "I000000", kReply + kMonitor, Cp("Zpracováno 2 řádek."), kDone}},
        {true, missing, {"Soubor:" + missing + Cp(" řádek:0 :Cannot open file ") + missing + " ", kInterrupted}},
        {true, "", {"Soubor:" + Cp(" řádek:0 :Cannot open file ") + " ", kInterrupted}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.file ? FileJob(c.job) : LineJob(c.job), c.reports) << c.job;
        EXPECT_FALSE(worker->FBusy);
    }
}

TEST_F(Worker, ReplyLeftNegativeFailsTheNextSingleLineJob) {
    Faults(With([](auto& f) { f.replyText = "ok!\r"; }));
    EXPECT_EQ(LineJob("I000000").back(), kInterrupted);
    EXPECT_EQ(worker->FError, kNegative);

    // A comment sends nothing, yet the reply it leaves in place is still negative.
    EXPECT_EQ(LineJob(";nothing"), (Lines{kNegative, kInterrupted}));
    // A file job makes no such test, and starts with FError empty.
    EXPECT_EQ(FileJob(dir.Write("c.cmd", ";nothing\n")), (Lines{Cp("Zpracováno 1 řádek."), kDone}));
    EXPECT_EQ(worker->FError, "");
    EXPECT_EQ(worker->FLinesDone, 1);
}

// The file's error, then the job's own: newest first, one blank after each.
TEST_F(Worker, ErrorsNewestFirst) {
    const std::string f = dir.Write("f.cmd", "X\n");
    const std::string fileError = "Soubor:" + f + Cp(" řádek:0 :") + kNegative;
    EXPECT_EQ(LineJob("#" + f), (Lines{kSent + "X", kReply + "?\r", kNegative + fileError, kInterrupted}));
    EXPECT_EQ(worker->FError, kNegative + fileError);
}

TEST_F(Worker, StopWhileIdleHasNoEffect) {
    worker->FStop = true;
    EXPECT_EQ(LineJob("I000000").back(), kDone);
}

// Destroying the worker while a job waits for a silent station ends it at its next attempt.
TEST_F(Worker, ShutdownEndsAJobUnderWay) {
    std::string lines;
    for (int i = 0; i < 50; ++i) lines += "I000000\n";
    const std::string f = dir.Write("long.cmd", lines);
    link.timeoutMs = 50;
    Faults(With([](auto& f) { f.dropAll = true; }));
    worker->StartFile(f);
    ASSERT_TRUE(station().WaitForRequests(1, std::chrono::seconds(5)));
    const auto start = std::chrono::steady_clock::now();
    worker.reset();
    // One attempt lasts about 4 x 53 ms; the 150 attempts of the file would take half a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LE(Commands().size(), 2u);
}

// A block's lines are queued without waking the reader until the block is on the line;
// a reader already waiting must still learn of the block while its reply is awaited, not
// only when the job ends.
TEST_F(Worker, ABlockIsReportedToAWaitingReaderBeforeItsReplyComes) {
    const std::string f = dir.Write("one.s24", zv::test::Rec(0x010000, {1, 2, 3}) + "\r\n");
    link.timeoutMs = 5000;
    Faults(With([](auto& f) { f.delayMs = 800; }));
    std::uint64_t repliesWhenSeen = 99;
    std::thread reader([&] {
        for (;;) {
            worker->FReports.WaitForActivity(-1);
            bool seen = false;
            worker->FReports.Drain([&](std::string&& l) { seen = seen || l.rfind(zv::msg::OdesilaSeSBlok, 0) == 0; });
            if (seen) {
                repliesWhenSeen = station().GetCounters().replies;
                return;
            }
        }
    });
    worker->StartFile(f);
    reader.join();
    EXPECT_EQ(repliesWhenSeen, 0u);
    const Lines rest = WaitForJob();
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), kDone);
}

}  // namespace
