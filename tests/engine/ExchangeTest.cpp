// One request telegram and its reply, on a pseudo-terminal: the bytes on the line, the
// reply forms that are taken or refused, a station that never answers or answers late.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/engine/EngineRig.h"

namespace {

using namespace zv::enginetest;
using zv::test::Bytes;
using Clock = std::chrono::steady_clock;

bool Send(TPrikaz& w, const std::string& command) {
    return w.Exchange(reinterpret_cast<const std::uint8_t*>(command.data()),
                      static_cast<std::int32_t>(command.size()));
}

// The test is the far end of the line and reads what the worker writes.
TEST(ExchangeWire, RequestTelegramByteForByte) {
    zv::test::PtyPair pair;
    Tsiocom port;
    port.Open(pair.SlavePath(), 38400, 0, 290, false);
    Link link;
    TPrikaz worker(port, link);
    worker.FNoReply = true;

    struct Case {
        const char* name;
        std::int32_t station, source;
        std::string command;
        Bytes wire;
    };
    const Case cases[] = {
        {"I000000", 127, 100, "I000000",
         {0x68, 0x0B, 0x0B, 0x68, 0x7F, 0x64, 0x47, 0xF5, 0x49, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x88, 0x16}},
        {"empty command", 127, 100, "", {0x68, 0x04, 0x04, 0x68, 0x7F, 0x64, 0x47, 0xF5, 0x1F, 0x16}},
        {"any byte values; addresses take their low 8 bits", 300, 300, std::string("\x00\xFF", 2),
         {0x68, 0x06, 0x06, 0x68, 0x2C, 0x2C, 0x47, 0xF5, 0x00, 0xFF, 0x93, 0x16}},
    };
    for (const auto& c : cases) {
        link.station = c.station;
        link.source = c.source;
        EXPECT_TRUE(Send(worker, c.command)) << c.name;
        EXPECT_EQ(zv::test::Hex(pair.ReadMaster(c.wire.size() + 1, std::chrono::milliseconds(150))),
                  zv::test::Hex(c.wire))
            << c.name;
    }

    // The largest request fills a 255-byte frame; one byte more is refused before the line.
    link.station = 127;
    link.source = 100;
    EXPECT_TRUE(Send(worker, std::string(245, 'A')));
    const Bytes largest = pair.ReadMaster(256, std::chrono::milliseconds(150));
    ASSERT_EQ(largest.size(), 255u);
    EXPECT_EQ(largest[1], 249);
    EXPECT_EQ(largest[254], 0x16);
    try {
        Send(worker, std::string(246, 'A'));
        ADD_FAILURE() << "246 command bytes were taken";
    } catch (const zv::Error& e) {
        EXPECT_STREQ(e.what(), "Invalid PBT length.");
    }
    EXPECT_TRUE(pair.ReadMaster(1, std::chrono::milliseconds(100)).empty());
}

TEST(ExchangeWire, ClosedPortRaises) {
    Tsiocom port;
    Link link;
    TPrikaz worker(port, link);
    try {
        Send(worker, "I000000\r");
        ADD_FAILURE() << "no error on a closed port";
    } catch (const zv::Error& e) {
        EXPECT_STREQ(e.what(), "GetCommTimeouts failed.");
    }
}

class Exchange : public EngineRig {};

TEST_F(Exchange, ReplyFormsTakenOrRefused) {
    using F = zv::Station::Faults;
    const std::string monitor = "ZV384 monitor 1.0, stanice 127\r";
    struct Case {
        const char* name;
        F faults;
        std::int32_t source;
        bool accepted;
        bool counted;   // a valid frame, whether or not it was taken
        std::string response;
    };
    const Case cases[] = {
        {"text reply", {}, 100, true, true, monitor},
        {"empty text (LE 4)", With([](F& f) { f.replyText = ""; }), 100, true, true, ""},
        {"text ends at a zero byte", With([](F& f) { f.replyText = std::string("ab\0cd\r", 6); }), 100, true, true, "ab"},
        {"longest reply, LE 255", With([](F& f) { f.replyText = std::string(251, 'x'); }), 100, true, true,
         std::string(251, 'x')},
        {"short acknowledgement", With([](F& f) { f.form = F::Form::Sc; }), 100, false, true, "before"},
        {"SD1 frame", With([](F& f) { f.form = F::Form::Sd1; }), 100, false, true, "before"},
        {"not to our address", With([](F& f) { f.wrongDa = true; }), 100, false, true, "before"},
        {"function code", With([](F& f) { f.wrongFc = true; }), 100, false, true, "before"},
        {"no F5 before the text", With([](F& f) { f.wrongF5 = true; }), 100, false, true, "before"},
        {"source address above a byte", {}, 300, false, true, "before"},
        {"check sum", With([](F& f) { f.badFcs = true; }), 100, false, false, "before"},
        {"LE and LEr differ", With([](F& f) { f.leMismatch = true; }), 100, false, false, "before"},
        {"no end byte", With([](F& f) { f.noEndByte = true; }), 100, false, false, "before"},
        {"cut short", With([](F& f) { f.cutShort = 1; }), 100, false, false, "before"},
    };
    for (const auto& c : cases) {
        Faults(c.faults);
        link.source = c.source;
        worker->FResponse = "before";
        port.FReplyCount = 0;
        EXPECT_EQ(Send(*worker, "I000000\r"), c.accepted) << c.name;
        EXPECT_EQ(port.FReplyCount.load(), c.counted ? 1u : 0u) << c.name;
        EXPECT_EQ(worker->FResponse, c.response) << c.name;
    }
}

TEST_F(Exchange, NoReplyAwaitedSendsAndReturnsAtOnce) {
    Faults(With([](auto& f) { f.dropAll = true; }));
    worker->FNoReply = true;
    worker->FResponse = "before";
    EXPECT_TRUE(Send(*worker, "I000000\r"));
    ASSERT_TRUE(station().WaitForRequests(1, std::chrono::seconds(5)));
    EXPECT_EQ(Commands(), Lines{"I000000\r"});
    EXPECT_EQ(worker->FResponse, "before");
    EXPECT_EQ(port.FReplyCount.load(), 0u);
}

TEST_F(Exchange, SilentStationReadsFourTimesThenGivesUp) {
    Faults(With([](auto& f) { f.dropAll = true; }));
    link.timeoutMs = 30;
    const auto start = Clock::now();
    EXPECT_FALSE(Send(*worker, "I000000\r"));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // 4 x (30 + 3 x 1) ms at 38400 Bd; the upper bound only catches a wait without end.
    EXPECT_GE(ms, 4 * 30);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(Commands().size(), 1u);  // one telegram: Exchange itself never repeats
}

// A reply that comes after the exchange gave up is not taken for the reply to the next one.
TEST_F(Exchange, LateReplyIsDropped) {
    link.timeoutMs = 30;
    Faults(With([](auto& f) { f.delayMs = 600; }));
    worker->FResponse = "before";
    EXPECT_FALSE(Send(*worker, "W000000<01\r"));  // answered "*" too late
    EXPECT_EQ(worker->FResponse, "before");

    // Wait until the late reply sits in the receive queue, looking through a second
    // descriptor of the same terminal so that nothing is taken from it.
    const int fd = ::open(pty.Path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 5000);
    ::close(fd);
    ASSERT_EQ(ready, 1) << "the late reply never came";

    station().ClearFaults();
    EXPECT_TRUE(Send(*worker, "I000000\r"));
    EXPECT_EQ(worker->FResponse, "ZV384 monitor 1.0, stanice 127\r");
}

}  // namespace
