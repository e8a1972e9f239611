#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "LinkFixture.h"
#include "common/Error.h"
#include "link/posix/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// The caller's side of a request: DA, SA, FC 0x47, 0xF5 and the command at their offsets.
Bytes Request(const std::string& command, std::uint8_t da = 127, std::uint8_t sa = 100) {
    Bytes b{0, 0, 0, 0, da, sa, 0x47, 0xF5};
    b.insert(b.end(), command.begin(), command.end());
    b.resize(b.size() + 2);  // room for FCS and end, as the frame has
    return b;
}
std::int32_t Length(const Bytes& request) { return static_cast<std::int32_t>(request.size()); }

// An SD2 frame as the station sends it, with LE, LEr and FCS of its own choosing.
Bytes Sd2(const Bytes& body) {
    const auto le = static_cast<std::uint8_t>(body.size());
    Bytes f;
    f.reserve(body.size() + 6);
    for (std::uint8_t b : {std::uint8_t{0x68}, le, le, std::uint8_t{0x68}}) f.push_back(b);
    unsigned sum = 0;
    for (std::uint8_t b : body) {
        f.push_back(b);
        sum += b;
    }
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x16);
    return f;
}
Bytes TextReply(const std::string& text) {
    Bytes body{100, 127, 0x07, 0xF5};
    body.insert(body.end(), text.begin(), text.end());
    return Sd2(body);
}

std::string Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const zv::Error& e) {
        return e.what();
    }
    return "(no error)";
}

class TransactTest : public ::testing::Test {
protected:
    void SetUp() override { sio.Open("COM1", 19200, zv::posix::kParityNone, 290, false); }

    // One exchange with the far end answering `answer` once the request is in.
    bool Exchange(const Bytes& request, const Bytes& answer, std::uint8_t* reply, int timeoutMs) {
        std::thread station([&] {
            pty.Receive(request.size());
            if (!answer.empty()) pty.Send(answer);
        });
        const bool ok = sio.Transact(request.data(), Length(request), reply, timeoutMs);
        station.join();
        return ok;
    }

    Pty pty;
    Tsiocom sio;
};

TEST_F(TransactTest, FramesGoOutByteForByte) {
    Bytes sd1(6, 0);
    sd1[1] = 0x7F;
    sd1[2] = 0x64;
    sd1[3] = 0x49;
    const std::pair<Bytes, Bytes> cases[] = {
        {Request("I000000"),
         {0x68, 0x0B, 0x0B, 0x68, 0x7F, 0x64, 0x47, 0xF5, 0x49, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x88, 0x16}},
        {Request(""), {0x68, 0x04, 0x04, 0x68, 0x7F, 0x64, 0x47, 0xF5, 0x1F, 0x16}},
        {sd1, {0x10, 0x7F, 0x64, 0x49, 0x2C, 0x16}},
        {Bytes{0x00}, {0xE5}},
    };
    for (const auto& [request, wire] : cases) {
        EXPECT_TRUE(sio.Transact(request.data(), Length(request), nullptr, 0));
        EXPECT_EQ(pty.Receive(wire.size()), wire);
    }
    EXPECT_TRUE(pty.Silent(20));
}

TEST_F(TransactTest, TheLongestFrameGoesOutWhole) {
    std::string command(245, '\0');
    for (std::size_t i = 0; i < command.size(); ++i) command[i] = static_cast<char>(0x68 + i * 37);
    const Bytes request = Request(command);
    ASSERT_EQ(request.size(), 255u);
    ASSERT_TRUE(sio.Transact(request.data(), 255, nullptr, 0));
    const Bytes wire = pty.Receive(255);
    ASSERT_EQ(wire.size(), 255u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), (Bytes{0x68, 249, 249, 0x68}));
    EXPECT_EQ(Bytes(wire.begin() + 4, wire.end() - 2), Bytes(request.begin() + 4, request.end() - 2));
    unsigned sum = 0;
    for (std::size_t i = 4; i < 253; ++i) sum += request[i];
    EXPECT_EQ(wire[253], static_cast<std::uint8_t>(sum));
    EXPECT_EQ(wire[254], 0x16);
}

TEST_F(TransactTest, InvalidLengthsRaiseBeforeAnythingElse) {
    const Bytes big(1000, 0);
    Tsiocom closed;  // the length is judged before the port is looked at
    for (std::int32_t length : {0, 2, 3, 4, 5, 256, -1, 1000}) {
        EXPECT_EQ(Raised([&] { sio.Transact(big.data(), length, nullptr, 0); }), "Invalid PBT length.")
            << length;
        EXPECT_EQ(Raised([&] { closed.Transact(big.data(), length, nullptr, 0); }), "Invalid PBT length.")
            << length;
    }
    EXPECT_TRUE(pty.Silent(30));
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
}

TEST_F(TransactTest, RepliesAreValidatedAndCounted) {
    Bytes le255body(255);
    for (std::size_t i = 0; i < le255body.size(); ++i) le255body[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes good = TextReply("*\r");
    Bytes badFcs = good;
    badFcs[badFcs.size() - 2] ^= 0x01;
    Bytes leNotLer = good;
    leNotLer[2] += 1;
    Bytes noEnd = good;
    noEnd.back() = 0x17;
    const Bytes cut(good.begin(), good.end() - 2);
    Bytes secondStart = good;
    secondStart[3] = 0x69;

    struct Case {
        const char* what;
        Bytes answer;
        bool valid;
    } const cases[] = {
        {"SC", {0xE5}, true},
        {"SD1", {0x10, 100, 127, 0x07, 0xEA, 0x16}, true},
        {"SD1 wrong FCS", {0x10, 100, 127, 0x07, 0xEB, 0x16}, false},
        {"SD1 no end", {0x10, 100, 127, 0x07, 0xEA, 0x15}, false},
        {"SD2 text", good, true},
        {"SD2 LE 0", {0x68, 0x00, 0x00, 0x68, 0x00, 0x16}, true},
        {"SD2 LE 255", Sd2(le255body), true},
        {"SD2 wrong FCS", badFcs, false},
        {"SD2 LE != LEr", leNotLer, false},
        {"SD2 second start byte", secondStart, false},
        {"SD2 no end byte", noEnd, false},
        {"SD2 cut short", cut, false},
        {"unknown first byte", {0x55, 0x16}, false},
    };
    const Bytes request = Request("I000000");
    for (const auto& c : cases) {
        std::uint8_t reply[300];
        std::memset(reply, 0xAA, sizeof reply);
        const std::uint32_t before = sio.FReplyCount;
        EXPECT_EQ(Exchange(request, c.answer, reply, 100), c.valid) << c.what;
        EXPECT_EQ(sio.FReplyCount - before, c.valid ? 1u : 0u) << c.what;
        if (c.valid) {
            EXPECT_EQ(Bytes(reply, reply + c.answer.size()), c.answer) << c.what;
            EXPECT_EQ(reply[c.answer.size()], 0xAA) << c.what << ": copied past the frame";
        }
    }
    ASSERT_EQ(Sd2(le255body).size(), 261u);
}

TEST_F(TransactTest, BytesThatLookLikeParityMarksArriveIntact) {
    sio.Open("COM1", 9600, zv::posix::kParityEven, 290, false);
    const Bytes answer = Sd2({100, 127, 0x07, 0xF5, 0xFF, 0xFF, 0x00, 0xFF, 0x41});
    std::uint8_t reply[300];
    ASSERT_TRUE(Exchange(Request("R000000,04"), answer, reply, 200));
    EXPECT_EQ(Bytes(reply, reply + answer.size()), answer);
}

TEST_F(TransactTest, NoAnswerReadsFourTimesThenGivesUp) {
    const Bytes request = Request("I000000");
    std::uint8_t reply[300];
    const std::uint32_t before = sio.FReplyCount;
    const auto start = Clock::now();
    EXPECT_FALSE(Exchange(request, {}, reply, 30));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 4 * 33 - 4);  // four reads of 30 + 3 ms
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(sio.FReplyCount, before);
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
}

TEST_F(TransactTest, ALateReplyIsNotTakenForTheNextOne) {
    const Bytes request = Request("I000000");
    std::uint8_t reply[300];
    ASSERT_FALSE(Exchange(request, {}, reply, 30));
    const Bytes late = TextReply("late\r");
    pty.Send(late);
    ASSERT_TRUE(pty.Queued(static_cast<int>(late.size())));

    const Bytes now = TextReply("now\r");
    ASSERT_TRUE(Exchange(request, now, reply, 200));
    EXPECT_EQ(Bytes(reply, reply + now.size()), now);
}

TEST_F(TransactTest, AClosedPortRaisesGetCommTimeoutsWithTheLockFree) {
    const Bytes request = Request("I000000");
    std::uint8_t reply[300];
    Tsiocom never;
    EXPECT_EQ(Raised([&] { never.Transact(request.data(), Length(request), reply, 30); }),
              "GetCommTimeouts failed.");
    EXPECT_TRUE(TsiocomProbe::LockFree(never));

    try {
        sio.Open("/nonexistent/tty", 19200, 0, 290, false);
    } catch (const zv::Error&) {
    }
    EXPECT_EQ(Raised([&] { sio.Transact(request.data(), Length(request), nullptr, 0); }),
              "GetCommTimeouts failed.");
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
    EXPECT_TRUE(pty.Silent(20));
}

TEST_F(TransactTest, AVanishedDeviceFailsTheWriteOrTheRead) {
    const Bytes request = Request("I000000");
    std::uint8_t reply[300];
    {
        std::thread station([&] {
            pty.Receive(request.size());
            pty.CloseMaster();  // pulled out while we wait for the reply
        });
        EXPECT_EQ(Raised([&] { sio.Transact(request.data(), Length(request), reply, 2000); }),
                  "ReadFile failed.");
        station.join();
    }
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
    EXPECT_TRUE(sio.IsOpen());
    EXPECT_EQ(Raised([&] { sio.Transact(request.data(), Length(request), reply, 30); }),
              "WriteFile failed.");
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
}

TEST_F(TransactTest, AnOpenDuringAnExchangeWaitsForItsEnd) {
    const Bytes request = Request("I000000");
    const Bytes answer = TextReply("*\r");
    std::uint8_t reply[300];
    bool ok = false;
    std::thread worker([&] { ok = sio.Transact(request.data(), Length(request), reply, 5000); });
    ASSERT_EQ(pty.Receive(request.size()).size(), request.size());  // now waiting for the reply
    EXPECT_FALSE(TsiocomProbe::LockFree(sio));

    TSAutoEvent reopened;
    std::thread ui([&] {
        sio.Open("COM1", 19200, 0, 123, false);
        reopened.Set();
    });
    EXPECT_FALSE(reopened.WaitFor(100));  // held up by the exchange
    pty.Send(answer);
    worker.join();
    EXPECT_TRUE(reopened.WaitFor(5000));
    ui.join();
    EXPECT_TRUE(ok);  // the port was not reopened under the exchange
    EXPECT_EQ(Bytes(reply, reply + answer.size()), answer);
    EXPECT_EQ(TsiocomProbe::Timeouts(sio).readConstant, 123u);
}

TEST_F(TransactTest, ExchangesWorkAfterReset) {
    sio.Reset();
    const Bytes answer = TextReply("*\r");
    std::uint8_t reply[300];
    EXPECT_TRUE(Exchange(Request("I000000"), answer, reply, 200));
    const zv::posix::Timeouts t = TsiocomProbe::Timeouts(sio);
    EXPECT_EQ(t.readConstant, 200u);
    EXPECT_EQ(t.writeConstant, 200u);
    EXPECT_EQ(t.readMultiplier, 3u);
}

}  // namespace
