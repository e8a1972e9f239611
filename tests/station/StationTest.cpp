// The simulated station seen from the host's side of the line: raw request frames in,
// reply frames out, checked byte for byte.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "common/Error.h"
#include "tests/support/PtyStation.h"

using namespace zv::test;
using zv::Station;

namespace {

const std::string kIdent = "ZV384 monitor 1.0, stanice 127\r";

class StationLine : public PtyStationTest {
protected:
    // Sends one request and returns the reply frame.
    Bytes Ask(const std::string& command, std::uint8_t da = 127, std::uint8_t sa = 100) {
        port.Write(Request(command, da, sa));
        return port.ReadFrame();
    }
    // Sends one request and returns whatever came back before the line went quiet.
    Bytes AskSilent(const std::string& command, std::uint8_t da = 127) {
        port.Write(Request(command, da));
        return port.ReadAll(150ms);
    }
    RawPort port{pty.Path()};
};

TEST_F(StationLine, AnswersIdentificationWithExactFrames) {
    const Bytes request{0x68, 0x0B, 0x0B, 0x68, 0x7F, 0x64, 0x47, 0xF5, 0x49, 0x30,
                        0x30, 0x30, 0x30, 0x30, 0x30, 0x88, 0x16};
    ASSERT_EQ(Hex(Request("I000000")), Hex(request));   // minus the CR the host adds
    port.Write(Request("I000000\r"));
    const Bytes reply = port.Read(kIdent.size() + 10);
    // 68 LE LE 68, DA = the request's SA, SA = the station, FC 07, F5, text, FCS, 16.
    ASSERT_EQ(reply.size(), kIdent.size() + 10) << Hex(reply);
    const auto le = static_cast<std::uint8_t>(kIdent.size() + 4);
    EXPECT_EQ(Hex(Bytes(reply.begin(), reply.begin() + 8)),
              Hex({0x68, le, le, 0x68, 0x64, 0x7F, 0x07, 0xF5}));
    EXPECT_EQ(std::string(reply.begin() + 8, reply.end() - 2), kIdent);
    unsigned sum = 0;
    for (std::size_t i = 4; i < reply.size() - 2; ++i) sum += reply[i];
    EXPECT_EQ(reply[reply.size() - 2], sum % 256);
    EXPECT_EQ(reply.back(), 0x16);

    ASSERT_TRUE(station().WaitForRequests(1, 1s));
    const auto log = station().Requests();
    EXPECT_EQ(log[0].sa, 100);
    EXPECT_EQ(log[0].Command(), "I000000\r");
}

TEST_F(StationLine, TextCommandReplies) {
    struct Case {
        std::string command, reply;
    };
    const Case cases[] = {
        {"I\r", kIdent},
        {"rpl2\r", "ok\r"},
        {"W7003FC<060705\r", "*\r"},
        {"S00600004844521B\r", "*\r"},
        {"S804000000FB\r", "*\r"},
        {"S9030000FC\r", "*\r"},
        {"G00700000,00000008,00FFFE17:FF0014\r", ">00000000\r"},
        {"G20050314,13450901:FF0040\r", "ok\r"},
        {"X123\r", "?\r"},
        {"rpl2", "?\r"},                  // a text command ends in CR
        {"W7003FC<06070\r", "?\r"},       // odd number of hex digits
        {"W7003FC<0607ZZ\r", "?\r"},
        {"R001000,03\r", "?\r"},          // the read command carries LF before the CR
        {"R001000,7D\n\r", "?\r"},        // 125 bytes do not fit a reply
        {"", "?\r"},
    };
    for (const auto& c : cases) EXPECT_EQ(Ask(c.command), Reply(c.reply)) << Hex(Request(c.command));
    EXPECT_EQ(station().ClockText(), "G20050314,13450901:FF0040");
}

TEST_F(StationLine, WriteThenReadMemory) {
    EXPECT_EQ(Ask("W001000<0102AB\r"), Reply("*\r"));
    EXPECT_EQ(station().ReadMemory(0x1000, 4), (Bytes{0x01, 0x02, 0xAB, 0xFF}));
    EXPECT_EQ(Ask("R000FFF,05\n\r"), Reply("=FF0102ABFF\r"));
    EXPECT_EQ(Ask("R001000,00\n\r"), Reply("=\r"));
    // 124 bytes is the most a reply holds; seven address digits wrap at 16 MiB.
    station().WriteMemory(0, {0x5A});
    EXPECT_EQ(Ask("R1000000,01\n\r"), Reply("=5A\r"));
    EXPECT_EQ(Ask("R000000,7C\n\r"), Reply("=5A" + std::string(246, 'F') + "\r"));
    // The longest request the host sends: 245 command bytes, a 255-byte frame.
    std::string w = "W000400<";
    for (int i = 0; i < 118; ++i) w += "A5";
    ASSERT_EQ(Request(w + "\r").size(), 255u);
    EXPECT_EQ(Ask(w + "\r"), Reply("*\r"));
    EXPECT_EQ(station().ReadMemory(0x400 + 117, 2), (Bytes{0xA5, 0xFF}));
}

TEST_F(StationLine, SerialNumberWriteIsKept) {
    EXPECT_EQ(Ask("W700000<3132333435363738\r"), Reply("*\r"));
    const auto sn = station().SerialNumber();
    ASSERT_TRUE(sn.has_value());
    EXPECT_EQ(std::string(sn->begin(), sn->end()), "12345678");
    EXPECT_EQ(station().ReadMemory(0x700000, 2), (Bytes{0x31, 0x32}));
}

TEST_F(StationLine, SpeedAndGoCommandsGetNoReply) {
    const std::pair<std::string, std::int32_t> codes[] = {
        {"01", 384000}, {"02", 192000}, {"03", 128000}, {"04", 96000}, {"05", 76800}, {"0A", 38400},
    };
    for (const auto& [code, speed] : codes) {
        station().SetSpeed(9600);
        EXPECT_EQ(AskSilent("W00004F<" + code + "\r"), Bytes{}) << code;
        EXPECT_EQ(station().Speed(), speed) << code;
    }
    EXPECT_EQ(AskSilent("W00004F<07\r"), Bytes{});   // unknown code: no reply, speed kept
    EXPECT_EQ(station().Speed(), 38400);
    EXPECT_EQ(AskSilent("G:FF0000\r"), Bytes{});
    EXPECT_EQ(AskSilent("G:7003FC\r"), Bytes{});
    EXPECT_EQ(station().GetCounters().replies, 0u);
}

}  // namespace

namespace {

// The block CRC, written out again here so that the station's own cannot vouch for itself.
std::uint16_t Crc(const std::string& bytes) {
    std::uint16_t crc = 0;
    for (unsigned char b : bytes) {
        crc ^= static_cast<std::uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0xB599 : crc << 1);
    }
    return crc;
}

std::string WithCrc(std::string payload) {
    const std::uint16_t crc = Crc(payload);
    payload += static_cast<char>(crc & 0xFF);
    payload += static_cast<char>(crc >> 8);
    return payload;
}

TEST(BlockCrc, KnownValues) {
    EXPECT_EQ(Crc("123456789"), 0x61C6);
    EXPECT_EQ(Crc("abc"), 0x1D05);
}

TEST_F(StationLine, SBlokIsStoredAndAcknowledged) {
    // s, address 0x012345 low byte first, 3 bytes.
    const std::string blk = WithCrc(std::string("s\x45\x23\x01\x03\xAA\xBB\xCC", 8));
    const Bytes reply = Ask(blk);
    EXPECT_EQ(reply, Reply("*012345\r"));
    EXPECT_EQ(station().ReadMemory(0x012344, 5), (Bytes{0xFF, 0xAA, 0xBB, 0xCC, 0xFF}));

    // A full window of 128 bytes.
    std::string full("s\x80\x10\x00\x80", 5);
    for (int i = 0; i < 128; ++i) full += static_cast<char>(i);
    EXPECT_EQ(Ask(WithCrc(full)), Reply("*001080\r"));
    EXPECT_EQ(station().ReadMemory(0x10FF, 1), Bytes{0x7F});
}

TEST_F(StationLine, NBlokStoresOnlyTheMappedBytes) {
    std::string map(16, '\0');
    map[0] = '\x05';    // bytes 0 and 2
    map[15] = '\x80';   // byte 127
    const std::string blk = WithCrc(std::string("n\x00\x20\x00", 4) + map + "\x11\x22\x33");
    EXPECT_EQ(Ask(blk), Reply("*002000\r"));
    const Bytes mem = station().ReadMemory(0x2000, 128);
    EXPECT_EQ(mem[0], 0x11);
    EXPECT_EQ(mem[1], 0xFF);
    EXPECT_EQ(mem[2], 0x22);
    EXPECT_EQ(mem[126], 0xFF);
    EXPECT_EQ(mem[127], 0x33);
}

TEST_F(StationLine, BadBlocksAreRefusedAndStoreNothing) {
    std::string badCrc = WithCrc(std::string("s\x00\x30\x00\x02\x01\x02", 7));
    badCrc.back() = static_cast<char>(badCrc.back() ^ 1);
    std::string map(16, '\0');
    map[0] = '\x03';
    const std::pair<std::string, std::string> cases[] = {
        {badCrc, "!CRC\r"},
        {WithCrc(std::string("s\x00\x30\x00\x00", 5)), "!BLK\r"},              // count 0
        {WithCrc(std::string("s\x00\x30\x00\x05\x01\x02", 7)), "!BLK\r"},      // count says 5
        {WithCrc(std::string("n\x40\x30\x00", 4) + map + "\x01\x02"), "!BLK\r"},   // base not aligned
        {WithCrc(std::string("n\x00\x30\x00", 4) + map + "\x01"), "!BLK\r"},   // one byte short
    };
    for (const auto& [blk, reply] : cases) EXPECT_EQ(Ask(blk), Reply(reply)) << Hex(Bytes(blk.begin(), blk.end()));
    EXPECT_EQ(station().ReadMemory(0x3000, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(station().ReadMemory(0x3040, 2), (Bytes{0xFF, 0xFF}));
}

TEST_F(StationLine, IgnoresOtherAddressesAndOtherFunctions) {
    EXPECT_EQ(AskSilent("I000000\r", 126), Bytes{});
    // FC 0x49 and a request without 0xF5: received, not answered.
    Bytes f = Request("I\r");
    f[6] = 0x49;
    f[f.size() - 2] = static_cast<std::uint8_t>(f[f.size() - 2] + 2);
    port.Write(f);
    f = Request("I\r");
    f[7] = 0xF4;
    f[f.size() - 2] = static_cast<std::uint8_t>(f[f.size() - 2] - 1);
    port.Write(f);
    EXPECT_EQ(port.ReadAll(150ms), Bytes{});
    ASSERT_TRUE(station().WaitForRequests(2, 1s));
    const auto c = station().GetCounters();
    EXPECT_EQ(c.otherAddress, 1u);
    EXPECT_EQ(c.notCommand, 2u);
    EXPECT_EQ(c.replies, 0u);
    EXPECT_EQ(Ask("rpl2\r"), Reply("ok\r"));
}

TEST(StationAddress, AnswersToItsOwnAddressOnly) {
    Station::Config config;
    config.address = 5;
    PtyStation pty(config);
    RawPort port(pty.Path());
    port.Write(Request("rpl2\r", 127, 33));
    EXPECT_EQ(port.ReadAll(150ms), Bytes{});
    port.Write(Request("rpl2\r", 5, 33));
    EXPECT_EQ(port.ReadFrame(), Reply("ok\r", 33, 5));
}

TEST_F(StationLine, SkipsGarbageBeforeAFrame) {
    const Bytes bad = [] {
        Bytes b = Request("I\r");
        b[b.size() - 2] ^= 0xFF;   // a frame with a wrong FCS is garbage too
        return b;
    }();
    const Bytes garbage[] = {
        {0x00, 0xFF, 0x16, 0xE5, 0x10},
        {0x68},                         // a stray start byte
        {0x68, 0x05, 0x05, 0x68, 0x7F}, // a header that promises more than follows
        {0x68, 0x04, 0x05, 0x68},       // LE and LEr differ
        {0x68, 0x40, 0x40, 0x68},       // a header that asks to wait for 70 bytes
        bad,
    };
    for (const auto& g : garbage) {
        Bytes wire = g;
        const Bytes req = Request("rpl2\r");
        wire.insert(wire.end(), req.begin(), req.end());
        port.Write(wire);
        EXPECT_EQ(port.ReadFrame(), Reply("ok\r")) << Hex(g);
    }
    EXPECT_GE(station().GetCounters().skippedBytes, 5u + 1u + 5u + 4u + 4u + bad.size());
}

TEST_F(StationLine, RequestsSplitAcrossWritesAndBackToBack) {
    const Bytes req = Request("W000100<11\r");
    for (std::uint8_t b : req) port.Write(Bytes{b});
    EXPECT_EQ(port.ReadFrame(), Reply("*\r"));
    Bytes two = Request("rpl2\r");
    const Bytes second = Request("R000100,01\n\r");
    two.insert(two.end(), second.begin(), second.end());
    port.Write(two);
    EXPECT_EQ(port.ReadFrame(), Reply("ok\r"));
    EXPECT_EQ(port.ReadFrame(), Reply("=11\r"));
    ASSERT_TRUE(station().WaitForRequests(3, 1s));
    const auto log = station().Requests();
    EXPECT_EQ(log[2].data, "\xF5R000100,01\n\r");
    station().ClearLog();
    EXPECT_TRUE(station().Requests().empty());
    EXPECT_FALSE(station().WaitForRequests(1, 50ms));
}

}  // namespace

namespace {

TEST_F(StationLine, FaultsShapeTheReply) {
    const Bytes good = Reply("ok\r");   // 68 07 07 68 64 7F 07 F5 6F 6B 0D C6 16
    auto edit = [&](std::size_t at, std::uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    auto refcs = [](Bytes b) {
        unsigned sum = 0;
        for (std::size_t i = 4; i < b.size() - 2; ++i) sum += b[i];
        b[b.size() - 2] = static_cast<std::uint8_t>(sum);
        return b;
    };
    struct Case {
        const char* name;
        std::function<void(Station::Faults&)> set;
        Bytes expected;
    };
    const Case cases[] = {
        {"badFcs", [](auto& f) { f.badFcs = true; }, edit(11, 0xC7)},
        {"wrongDa", [](auto& f) { f.wrongDa = true; }, refcs(edit(4, 101))},
        {"wrongFc", [](auto& f) { f.wrongFc = true; }, refcs(edit(6, 0x08))},
        {"wrongF5", [](auto& f) { f.wrongF5 = true; }, refcs(edit(7, 0xF4))},
        {"leMismatch", [](auto& f) { f.leMismatch = true; }, edit(2, 0x08)},
        {"noEndByte", [](auto& f) { f.noEndByte = true; }, edit(12, 0x00)},
        {"cutShort", [](auto& f) { f.cutShort = 4; }, Bytes(good.begin(), good.end() - 4)},
        {"sc", [](auto& f) { f.form = Station::Faults::Form::Sc; }, Bytes{0xE5}},
        {"sd1", [](auto& f) { f.form = Station::Faults::Form::Sd1; }, Bytes{0x10, 0x64, 0x7F, 0x07, 0xEA, 0x16}},
        {"replyText", [](auto& f) { f.replyText = "=00"; }, Reply("=00")},
        {"split", [](auto& f) { f.splitWrites = 1; }, good},
    };
    for (const auto& c : cases) {
        Station::Faults f;
        c.set(f);
        station().SetFaults(f);
        port.Write(Request("rpl2\r"));
        EXPECT_EQ(Hex(port.ReadAll(150ms)), Hex(c.expected)) << c.name;
    }
    Station::Faults g;
    g.garbageFirst = std::string("\x00\x68\xE5", 3);
    station().SetFaults(g);
    Bytes expected{0x00, 0x68, 0xE5};
    expected.insert(expected.end(), good.begin(), good.end());
    port.Write(Request("rpl2\r"));
    EXPECT_EQ(Hex(port.ReadAll(150ms)), Hex(expected));
    station().ClearFaults();
    EXPECT_EQ(Ask("rpl2\r"), good);
}

TEST_F(StationLine, DroppedRepliesStillReachTheLog) {
    Station::Faults f;
    f.dropNext = 2;
    station().SetFaults(f);
    EXPECT_EQ(AskSilent("rpl2\r"), Bytes{});
    EXPECT_EQ(AskSilent("rpl2\r"), Bytes{});
    EXPECT_EQ(Ask("rpl2\r"), Reply("ok\r"));
    EXPECT_EQ(station().GetFaults().dropNext, 0);

    f.dropNext = 0;
    f.dropAll = true;
    station().SetFaults(f);
    EXPECT_EQ(AskSilent("W000200<42\r"), Bytes{});
    ASSERT_TRUE(station().WaitForRequests(4, 1s));
    EXPECT_EQ(station().ReadMemory(0x200, 1), Bytes{0x42});   // the command still acted
    EXPECT_EQ(station().GetCounters().replies, 1u);
}

TEST_F(StationLine, LateReplyComesAfterTheDelay) {
    Station::Faults f;
    f.delayMs = 300;
    station().SetFaults(f);
    const auto start = std::chrono::steady_clock::now();
    port.Write(Request("rpl2\r"));
    EXPECT_EQ(port.Read(1, 100ms), Bytes{});
    EXPECT_EQ(port.ReadFrame(2000ms), Reply("ok\r"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(StationLine, StopsPromptlyDuringALongDelay) {
    Station::Faults f;
    f.delayMs = 60'000;
    station().SetFaults(f);
    port.Write(Request("rpl2\r"));
    ASSERT_TRUE(station().WaitForRequests(1, 1s));
    const auto start = std::chrono::steady_clock::now();
    station().Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(StationLine, VanishHangsUpTheHostSide) {
    EXPECT_EQ(Ask("rpl2\r"), Reply("ok\r"));
    station().Vanish();
    EXPECT_TRUE(station().Vanished());
    pollfd p{port.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    std::uint8_t b = 0;
    EXPECT_LE(read(port.Fd(), &b, 1), 0);   // end of file or EIO, never data
    EXPECT_EQ(write(port.Fd(), &b, 1), -1);
    EXPECT_EQ(errno, EIO);
}

}  // namespace

namespace {

// What a measurement of the line needs from the log: the bytes of both directions and,
// for each request, when it came and when its reply had gone out.
TEST_F(StationLine, LogsTheBytesAndTimesOfEachExchange) {
    const Bytes reply = Ask("I000000\r");
    ASSERT_FALSE(reply.empty());
    AskSilent("I000000\r", 99);  // for another station: neither counted nor logged
    ASSERT_TRUE(station().WaitForRequests(1, 1000ms));
    const auto c = station().GetCounters();
    EXPECT_EQ(c.requestBytes, Request("I000000\r").size());
    EXPECT_EQ(c.replyBytes, reply.size());
    const auto log = station().Requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].arrived, std::chrono::steady_clock::time_point{});
    EXPECT_GE(log[0].replied, log[0].arrived);

    zv::Station::Faults silent;
    silent.dropAll = true;
    station().SetFaults(silent);
    AskSilent("I000000\r");
    ASSERT_TRUE(station().WaitForRequests(2, 1000ms));
    EXPECT_EQ(station().Requests()[1].replied, std::chrono::steady_clock::time_point{});
    EXPECT_EQ(station().GetCounters().replyBytes, reply.size());
}

TEST_F(StationLine, PacesAtTheLineSpeedWithParity) {
    station().SetParity(true);   // 11 bits a byte
    station().SetSpeed(9600);
    station().SetPacing(true);
    const Bytes req = Request("R000000,64\n\r");
    const auto start = std::chrono::steady_clock::now();
    port.Write(req);
    const Bytes reply = port.ReadFrame(3000ms);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(reply.size(), 212u);
    // Both frames crossed the line at 9600 Bd, 11 bits a byte: at least 268 ms; 10 bits a
    // byte would give 244 ms.
    EXPECT_GE(took, std::chrono::microseconds((req.size() + reply.size()) * 11 * 1'000'000 / 9600));
}

TEST(StationMemory, SavesAndLoadsImages) {
    const std::string dir = ::testing::TempDir();
    const std::string image = dir + "/station_image.bin";
    const std::string shortImage = dir + "/station_short.bin";
    {
        Station s;
        s.WriteMemory(0x000000, {0x01});
        s.WriteMemory(0xFFFFFF, {0x02});
        s.SaveMemory(image);
    }
    {
        FILE* f = std::fopen(shortImage.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("AB", f);
        std::fclose(f);
    }
    Station s;
    s.FillMemory(0x00);
    s.LoadMemory(image);
    EXPECT_EQ(s.MemoryImage().size(), Station::kMemorySize);
    EXPECT_EQ(s.ReadMemory(0xFFFFFF, 2), (Bytes{0x02, 0x01}));   // reads wrap at 16 MiB
    EXPECT_EQ(s.ReadMemory(0x000001, 1), Bytes{0xFF});
    s.LoadMemory(shortImage);   // a short image leaves the rest erased
    EXPECT_EQ(s.ReadMemory(0, 3), (Bytes{'A', 'B', 0xFF}));
    EXPECT_EQ(s.ReadMemory(0xFFFFFF, 1), Bytes{0xFF});
    EXPECT_THROW(s.LoadMemory(dir + "/no/such/file"), zv::Error);
    EXPECT_THROW(s.SaveMemory(dir + "/no/such/dir/file"), zv::Error);
    std::remove(image.c_str());
    std::remove(shortImage.c_str());
}

// The program next to this test binary.
std::string StationProgram() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string p(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    return p.substr(0, p.rfind('/') + 1) + "zavlo384-station";
}

// Waits for the child's exit, at most timeout; -1 when it is still running.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const int pfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pfd >= 0) {
        pollfd p{pfd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(timeout.count()));
        close(pfd);
        if (r != 1) return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(StationProgram, ServesOnItsLinkAndStopsOnSigterm) {
    const std::string dir = ::testing::TempDir();
    const std::string link = dir + "/zv_station_link";
    const std::string load = dir + "/zv_station_load.bin";
    const std::string save = dir + "/zv_station_save.bin";
    std::remove(save.c_str());
    unlink(link.c_str());
    ASSERT_EQ(symlink("/nonexistent/stale", link.c_str()), 0);
    {
        FILE* f = std::fopen(load.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("\x12\x34", f);
        std::fclose(f);
    }

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string prog = StationProgram();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl(prog.c_str(), prog.c_str(), "--link", link.c_str(), "--address", "9", "--load",
              load.c_str(), "--save", save.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    const Bytes line = ReadFd(out[0], link.size() + 1, 5000ms);
    close(out[0]);
    EXPECT_EQ(std::string(line.begin(), line.end()), link + "\n");

    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
    {
        RawPort port(link);
        port.Write(Request("R000000,03\n\r", 9));
        EXPECT_EQ(port.ReadFrame(2000ms), Reply("=1234FF\r", 100, 9));
        port.Write(Request("W000002<56\r", 9));
        EXPECT_EQ(port.ReadFrame(2000ms), Reply("*\r", 100, 9));
    }

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const int rc = WaitExit(pid, 5000ms);
    if (rc < 0) kill(pid, SIGKILL), WaitExit(pid, 5000ms);
    EXPECT_EQ(rc, 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the program";
    Station check;
    check.LoadMemory(save);
    EXPECT_EQ(check.ReadMemory(0, 4), (Bytes{0x12, 0x34, 0x56, 0xFF}));
    std::remove(load.c_str());
    std::remove(save.c_str());
}

TEST(StationProgram, RefusesUnknownOptions) {
    const std::string cmd = StationProgram() + " --no-such-option 2>/dev/null";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
