// Script lines against the simulated station: which lines go to the station, the attempts,
// the judgement of the reply, the reply check and the stop.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "tests/engine/EngineRig.h"

namespace {

using namespace zv::enginetest;

const std::string kMonitor = "ZV384 monitor 1.0, stanice 127\r";
const std::string kSent = Cp("Odesílá se příkaz: ");
const std::string kRepeat = Cp("Opakuje se příkaz: ");
const std::string kReply = Cp("Odpověď: ");
const std::string kNegative = Cp("Negativní odpověď.");

class ScriptLine : public EngineRig {};

TEST_F(ScriptLine, LineKinds) {
    struct Case {
        std::string line;
        std::string error;
        Lines commands;  // as the station received them
        Lines reports;
    };
    const Case cases[] = {
        {"", "", {}, {}},
        {";I000000", "", {}, {}},
        {"I000000", "", {"I000000\r"}, {kSent + "I000000", kReply + kMonitor}},
        {" ;x", kNegative, {" ;x\r"}, {kSent + " ;x", kReply + "?\r"}},
        {"@nothing", kNegative, {"@nothing\r"}, {kSent + "@nothing", kReply + "?\r"}},
        {"@srtc", kNegative, {"@srtc\r"}, {kSent + "@srtc", kReply + "?\r"}},
        {"@SRTC ", kNegative, {"@SRTC \r"}, {kSent + "@SRTC ", kReply + "?\r"}},
        {"S2000000000", kNegative, {"S2000000000\r"}, {kSent + "S2000000000", kReply + "?\r"}},
        {"~I000000", "", {"I000000\r"}, {kSent + "~I000000", kReply + "ok"}},
        {"~" + std::string(250, 'x'), "", {std::string(200, 'x') + "\r"}, {kSent + "~" + std::string(250, 'x'), kReply + "ok"}},
    };
    for (const auto& c : cases) {
        station().ClearLog();
        worker->FResponse = "kept";
        EXPECT_EQ(Run(c.line), c.error) << c.line;
        if (!c.commands.empty()) station().WaitForRequests(c.commands.size(), std::chrono::seconds(5));
        EXPECT_EQ(Commands(), c.commands) << c.line;
        EXPECT_EQ(Reports(), c.reports) << c.line;
        if (c.commands.empty()) {
            EXPECT_EQ(worker->FResponse, "kept") << c.line;
        }
    }
    EXPECT_TRUE(worker->FNoReply);  // the last text command began with "~"
}

// Each special word reaches its own command, which refuses a malformed line; none of
// them goes to the station as text.
TEST_F(ScriptLine, SpecialCommandsByTheirFirstCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"@speed", Cp("Chybný příkaz @speed.")},
        {"@speedy!", Cp("Chybný příkaz @speed.")},
        {"@binget", "Chyba syntaxe."},
        {"@binput 1", "Chyba syntaxe."},
        {"@SSN", Cp("Chybný příkaz @SSN.")},
    };
    for (const auto& [line, error] : cases) EXPECT_EQ(Run(line), error) << line;
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(Reports().empty());

    EXPECT_EQ(Run("@SRTC"), "");  // the whole line: the clock command built from the local time
    const Lines commands = Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].substr(0, 16), "G20240314,130509");
}

TEST_F(ScriptLine, JudgementOfTheReply) {
    struct Case {
        std::string reply;
        std::string line;
        std::string error;
    };
    const Case cases[] = {
        {"", "I000000", Cp("Prázdná odpověď.")},
        {"=0102!\r", "I000000", kNegative},
        {"?", "I000000", kNegative},
        {"ok\r", "I000000", ""},
        // The end-record rule counts the carriage return: 11 characters and CR are judged.
        {"ok\r", "S8xxxxxxxxx", Cp("Nesprávná odezva: ") + "ok\r"},
        {"*\r", "S8xxxxxxxxx", ""},
        {"ok\r", "S8xxxxxxxx", ""},
        {"ok\r", "~S8xxxxxxxxx", Cp("Nesprávná odezva: ") + "ok"},
        {"ok\r", "S9xxxxxxxxx", ""},
    };
    for (const auto& c : cases) {
        Faults(With([&](auto& f) { f.replyText = c.reply; }));
        EXPECT_EQ(Run(c.line), c.error) << c.line << " / " << c.reply;
    }
}

TEST_F(ScriptLine, ReplyCheck) {
    struct Case {
        std::string response;
        std::string line;
        std::string error;
    };
    const Case cases[] = {
        {"ok\r", "!ok", ""},
        {"=00FF*\r", "!FF*", ""},
        {"ok\r", "!OK", Cp("Nesprávná odpověď: ") + "ok\r"},
        {"ok\r", "!", Cp("Nesprávná odpověď: ") + "ok\r"},
        {"", "!x", Cp("Nesprávná odpověď: ")},
        // A second "!" ends the expected text; what follows it is the message.
        {"ok\r", "!ok!Reset failed", ""},
        {"no\r", "!ok!Reset failed", "Reset failed"},
        {"no\r", "!ok!a!b", "a!b"},
        // With nothing after the second "!", the message is the line from its second character.
        {"no\r", "!ok!", "ok!"},
        {"!\r", "!!", "!"},
        // At most 200 characters after the "!" are the expected text.
        {std::string(200, 'a'), "!" + std::string(200, 'a') + "b", ""},
    };
    for (const auto& c : cases) {
        worker->FResponse = c.response;
        EXPECT_EQ(Run(c.line), c.error) << c.line;
        EXPECT_EQ(worker->FResponse, c.response) << c.line;
    }
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(Reports().empty());
}

TEST_F(ScriptLine, ThreeAttemptsThenNoReply) {
    link.timeoutMs = 20;
    Faults(With([](auto& f) { f.dropNext = 2; }));
    EXPECT_EQ(Run("I000000"), "");
    EXPECT_EQ(Reports(), (Lines{kSent + "I000000", kRepeat + "I000000\r", kRepeat + "I000000\r", kReply + kMonitor}));
    EXPECT_EQ(Commands(), Lines(3, "I000000\r"));

    station().ClearLog();
    Faults(With([](auto& f) { f.dropAll = true; }));
    worker->FResponse = "old";
    EXPECT_EQ(Run("~G:FF0000"), "");  // sent once, nothing awaited
    EXPECT_EQ(Reports(), (Lines{kSent + "~G:FF0000", kReply + "ok"}));
    EXPECT_EQ(Run("I000000"), "Bez odezvy.");
    EXPECT_EQ(Reports(), (Lines{kSent + "I000000", kRepeat + "I000000\r", kRepeat + "I000000\r"}));
    EXPECT_EQ(worker->FResponse, "");
    station().WaitForRequests(4, std::chrono::seconds(5));
    EXPECT_EQ(Commands(), (Lines{"G:FF0000\r", "I000000\r", "I000000\r", "I000000\r"}));
}

TEST_F(ScriptLine, ErrorsOfTheExchangeAreNotRepeated) {
    // 245 characters and the carriage return exceed a telegram.
    EXPECT_EQ(Run(std::string(245, 'I')), "Invalid PBT length.");
    EXPECT_EQ(Reports(), Lines{kSent + std::string(245, 'I')});
    port.Close();
    EXPECT_EQ(Run("I000000"), "GetCommTimeouts failed.");
    EXPECT_EQ(Reports(), Lines{kSent + "I000000"});
    EXPECT_TRUE(Commands().empty());
}

TEST_F(ScriptLine, StopBeforeAnAttempt) {
    worker->FStop = true;
    EXPECT_EQ(Run("I000000"), "Zastaven.");
    EXPECT_EQ(Reports(), Lines{kSent + "I000000"});
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Run(";comments still pass"), "");
}

// The stop comes while the first attempt waits: a refused attempt is not repeated, an
// accepted one is still judged.
TEST_F(ScriptLine, StopDuringTheFirstAttempt) {
    link.timeoutMs = 100;
    Faults(With([](auto& f) { f.dropAll = true; }));
    worker->StartLine("I000000");
    ASSERT_TRUE(station().WaitForRequests(1, std::chrono::seconds(5)));
    worker->FStop = true;
    EXPECT_EQ(WaitForJob(), (Lines{kSent + "I000000", "Zastaven. ", kInterrupted}));
    EXPECT_EQ(Commands().size(), 1u);

    station().ClearLog();
    Faults(With([](auto& f) { f.delayMs = 150; }));  // within 4 x 103 ms
    worker->StartLine("I000000");
    ASSERT_TRUE(station().WaitForRequests(1, std::chrono::seconds(5)));
    worker->FStop = true;
    EXPECT_EQ(WaitForJob(), (Lines{kSent + "I000000", kReply + kMonitor, kDone}));
}

// An end record closes the download: the pending block goes to the station before it.
TEST_F(ScriptLine, EndRecordSendsThePendingBlockFirst) {
    EXPECT_EQ(Run("S2060010000102E6"), "");
    EXPECT_TRUE(Commands().empty());  // the block waits for more bytes of its window
    EXPECT_EQ(Run("S804000000FB"), "");
    const Lines commands = Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].substr(0, 6), std::string("s\x00\x10\x00\x02\x01", 6));
    EXPECT_EQ(commands[1], "S804000000FB\r");
    const Lines reports = Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), kReply + "*\r");
}

}  // namespace
