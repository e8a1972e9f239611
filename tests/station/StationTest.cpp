// The simulated station seen from the host's side of the line: raw request frames in,
// reply frames out, checked byte for byte.
#include <gtest/gtest.h>

#include "tests/support/PtyStation.h"

using namespace zv::test;

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
