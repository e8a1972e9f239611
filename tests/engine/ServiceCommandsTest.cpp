// "@speed", "@SRTC" and "@SSN" over the pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "common/Clock.h"
#include "common/Messages.h"
#include "link/posix/SerialPort.h"
#include "tests/engine/DownloadRig.h"

namespace {

using namespace zv::dltest;
namespace msg = zv::msg;

std::tm At(int year, int month, int day, int hour, int minute, int second, int weekday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_wday = weekday;
    return t;
}

class ServiceCommands : public StationRig {
protected:
    int probe = -1;  // the same device, to read its line settings back

    void SetUp() override {
        // Opened before the port takes the device for itself.
        probe = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(probe, 0);
        StationRig::SetUp();
    }
    void TearDown() override {
        StationRig::TearDown();
        zv::SetLocalTimeSource({});
        if (probe >= 0) ::close(probe);
    }

    std::int32_t DeviceSpeed() {
        zv::posix::LineSettings s;
        EXPECT_TRUE(zv::posix::ReadLineSettings(probe, s));
        return zv::posix::SpeedOf(s);
    }
};

TEST_F(ServiceCommands, SpeedSwitchesTheStationThenTheLink) {
    const struct {
        int from;
        char key;
        int to;
        const char* code;
    } cases[] = {
        {7, '5', 9, "05"},  {9, '1', 13, "01"},  {10, '2', 12, "02"},
        {11, '3', 11, "03"}, {12, '4', 10, "04"}, {13, 'n', 7, "0A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("from ") + std::to_string(kSpeeds[c.from]) + " with " + c.key);
        link.speedIndex = c.from;
        port.Close();
        link.Open();
        ASSERT_EQ(DeviceSpeed(), kSpeeds[c.from]);
        link.selected.clear();
        link.applied = 0;
        station().ClearLog();
        Reports();

        ASSERT_EQ(Run(std::string("@speed") + c.key), "");
        EXPECT_EQ(link.selected, std::vector<int>{c.to});
        EXPECT_EQ(link.applied, 1);
        // No reply is awaited, so the station may take the command a moment later.
        ASSERT_TRUE(station().WaitForRequests(1, std::chrono::seconds(10)));
        EXPECT_EQ(Commands(), Lines{std::string("W00004F<") + c.code + "\r"});
        // Sent without awaiting a reply, then the port reopened at the new speed.
        EXPECT_EQ(Reports(), (Lines{msg::OdesilaSePrikaz + "~W00004F<" + c.code, msg::Odpoved + "ok"}));
        EXPECT_EQ(DeviceSpeed(), kSpeeds[c.to]);
        EXPECT_EQ(station().Speed(), kSpeeds[c.to]);
        // The next command goes at the new speed and is answered.
        EXPECT_EQ(Run("I000000"), "");
    }
}

TEST_F(ServiceCommands, SpeedRefusesBeforeTouchingAnything) {
    struct Case {
        int from;
        std::string line, error;
    };
    std::vector<Case> cases = {
        {7, "@speed", msg::ChybnyPrikazSpeed},
        {7, "@speed55", msg::ChybnyPrikazSpeed},
        {3, "@speed", msg::ChybnyPrikazSpeed},
        {7, "@speed6", msg::ChybneUrceniRychlosti},
        {13, "@speedN", msg::ChybneUrceniRychlosti},
        {8, "@speed6", msg::NevhodnaVychoziRychlost},  // the start speed is checked first
        {-1, "@speed5", msg::NevhodnaVychoziRychlost},  // no speed selected
    };
    for (int from : {0, 1, 2, 3, 4, 5, 6, 8}) cases.push_back({from, "@speed1", msg::NevhodnaVychoziRychlost});

    for (const auto& c : cases) {
        link.speedIndex = c.from;
        EXPECT_EQ(Run(c.line), c.error) << c.line << " from index " << c.from;
    }
    EXPECT_TRUE(link.selected.empty());
    EXPECT_EQ(link.applied, 0);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(DeviceSpeed(), 38400);
}

TEST_F(ServiceCommands, ClockCommandFromTheLocalTime) {
    const struct {
        std::tm time;
        std::string command;
    } cases[] = {
        {At(2005, 3, 14, 13, 45, 9, 1), "G20050314,13450901:FF0040\r"},  // Monday
        {At(2005, 3, 13, 8, 7, 6, 0), "G20050313,08070600:FF0040\r"},    // Sunday
        {At(1999, 12, 31, 23, 59, 59, 5), "G19991231,23595905:FF0040\r"},
    };
    for (const auto& c : cases) {
        zv::SetLocalTimeSource([t = c.time] { return t; });
        station().ClearLog();
        EXPECT_EQ(Run("@SRTC"), "");
        EXPECT_EQ(Commands(), Lines{c.command});
        EXPECT_EQ(station().ClockText() + "\r", c.command);
    }
}

class SerialNumber : public ServiceCommands {
protected:
    TempDir dir;
    std::filesystem::path oldDir;
    std::string record;  // the record file, "rexa01.prn" in the current folder

    void SetUp() override {
        ServiceCommands::SetUp();
        oldDir = std::filesystem::current_path();
        std::filesystem::current_path(dir.Path());
        record = dir / "rexa01.prn";
        zv::SetLocalTimeSource([] { return At(2005, 3, 14, 13, 45, 9, 1); });
    }
    void TearDown() override {
        std::filesystem::current_path(oldDir);
        ServiceCommands::TearDown();
    }
    std::string RecordText() {
        const Bytes b = ReadFile(record);
        return std::string(b.begin(), b.end());
    }
};

TEST_F(SerialNumber, WritesTheNumberAndAppendsItsRecord) {
    const std::string stamp = "\"2005/03/14,13:45\"\r\n";
    const std::string longText(310, 'x');
    const struct {
        std::string line, write, entry;
    } cases[] = {
        {"@SSNAB12CD34 first;second", "W700000<4142313243443334",
         "\"\",\"\",\"first\",\"AB12CD34\",\"\",\"second\"," + stamp},
        {"@SSNAB12CD34 whole text", "W700000<4142313243443334",
         "\"\",\"\",\"whole text\",\"AB12CD34\",\"\",\"\"," + stamp},
        {"@SSN00000001_a;b;c", "W700000<3030303030303031", "\"\",\"\",\"a\",\"00000001\",\"\",\"b;c\"," + stamp},
        {"@SSN\x8A" "0 \"q\"1 _say \"hi\";\xE8", "W700000<8A30202271223120",
         "\"\",\"\",\"say \"hi\"\",\"\x8A" "0 \"q\"1 \",\"\",\"\xE8\"," + stamp},
        {"@SSN12345678", "W700000<3132333435363738", "\"\",\"\",\"\",\"12345678\",\"\",\"\"," + stamp},
        {"@SSN12345678 " + longText, "W700000<3132333435363738",
         "\"\",\"\",\"" + std::string(300, 'x') + "\",\"12345678\",\"\",\"\"," + stamp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        WriteFile(record, std::string("older line\r\n"));
        station().ClearLog();
        ASSERT_EQ(Run(c.line), "");
        EXPECT_EQ(Commands(), (Lines{c.write + "\r", "G00700000,00000008,00FFFE17:FF0014\r"}));
        EXPECT_EQ(RecordText(), "older line\r\n" + c.entry);
    }
    ASSERT_TRUE(station().SerialNumber().has_value());
    EXPECT_EQ((*station().SerialNumber())[0], '1');
}

TEST_F(SerialNumber, RefusedBeforeAnythingIsSent) {
    EXPECT_EQ(Run("@SSN1234567"), msg::ChybnyPrikazSsn) << "checked before the record file";
    EXPECT_EQ(Run("@SSN12345678 x"), msg::AccessDenied) << "no record file";
    EXPECT_FALSE(std::filesystem::exists(record)) << "never created";

    WriteFile(record, std::string("kept\r\n"));
    EXPECT_EQ(Run("@SSN1234567"), msg::ChybnyPrikazSsn);
    {
        HeldLock other(record);
        EXPECT_EQ(Run("@SSN12345678 x"), msg::AccessDenied);
    }
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(RecordText(), "kept\r\n");
}

TEST_F(SerialNumber, TheCallReplyDecidesWhetherARecordIsWritten) {
    const struct {
        const char* reply;
        std::string error;
    } cases[] = {
        {">00000000xyz\r", ""},
        {">00000000", ""},
        {">0000000\r", msg::NegativeResponse},
        {">0000001\r", msg::NegativeResponse},
        {"*00000000\r", msg::NegativeResponse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        WriteFile(record, std::string());
        zv::Station::Faults f;
        f.replyText = c.reply;
        station().SetFaults(f);
        EXPECT_EQ(Run("@SSN12345678 t"), c.error);
        EXPECT_EQ(RecordText().empty(), !c.error.empty());
    }
}

TEST_F(SerialNumber, ARecordThatCannotBeWrittenFailsTheLine) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
    std::filesystem::create_symlink("/dev/full", record);
    EXPECT_EQ(Run("@SSN12345678 t"), msg::NelzeZapsatRekord);
    EXPECT_EQ(Commands().size(), 2u);
}

}  // namespace
