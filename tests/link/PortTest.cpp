#include <sys/wait.h>

#include "LinkFixture.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "link/posix/SerialPort.h"

namespace {

namespace posix = zv::posix;

std::string OpenError(Tsiocom& sio, const std::string& name, std::int32_t speed, std::int32_t parity) {
    try {
        sio.Open(name, speed, parity, 290, false);
    } catch (const zv::Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(DeviceForPort, ComNamesGoThroughTheEnvironmentOrTtyS) {
    setenv("ZAVLO384_COM4", "/dev/pts/77", 1);
    unsetenv("ZAVLO384_COM3");
    setenv("ZAVLO384_COM5", "", 1);
    const std::pair<const char*, const char*> cases[] = {
        {"COM4", "/dev/pts/77"}, {"com4", "/dev/pts/77"}, {"COM3", "/dev/ttyS2"},
        {"COM5", "/dev/ttyS4"},  {"COM1", "/dev/ttyS0"},  {"COM10", "COM10"},
        {"COM0", "COM0"},        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
    };
    unsetenv("ZAVLO384_COM1");
    for (const auto& [name, device] : cases) EXPECT_EQ(DeviceForPort(name), device) << name;
    unsetenv("ZAVLO384_COM4");
    unsetenv("ZAVLO384_COM5");
}

class PortTest : public ::testing::Test {
protected:
    Pty pty;
    Tsiocom sio;
};

TEST_F(PortTest, OpenResetCloseAndTheSettingsGiveBack) {
    ASSERT_TRUE(pty.SlaveTermios().c_lflag & ICANON);  // a fresh terminal is cooked

    sio.Open("COM1", 19200, posix::kParityNone, 290, false);
    EXPECT_TRUE(sio.IsOpen());
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
    EXPECT_FALSE(pty.SlaveTermios().c_lflag & ICANON);
    EXPECT_EQ(posix::SpeedOf(TsiocomProbe::Device(sio)), 19200);

    sio.Reset();
    EXPECT_TRUE(sio.IsOpen());
    EXPECT_EQ(posix::SpeedOf(TsiocomProbe::Device(sio)), 19200);

    sio.Close();
    EXPECT_FALSE(sio.IsOpen());
    EXPECT_TRUE(pty.SlaveTermios().c_lflag & ICANON);  // given back as found
    sio.Close();  // nothing to do, nothing raised
    sio.Reset();
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));

    sio.Open("COM1", 9600, posix::kParityEven, 290, true);  // and again
    EXPECT_TRUE(sio.IsOpen());
}

TEST_F(PortTest, FailedOpenLeavesThePortClosedAndTheLockFree) {
    setenv("ZAVLO384_COM9", "/nonexistent/tty", 1);
    struct Case {
        const char* name;
        std::int32_t speed, parity;
        std::string message;
    } const cases[] = {
        {"/nonexistent/tty", 19200, 0, "Port /nonexistent/tty nelze vybrat."},
        {"COM9", 19200, 0, "Port COM9 nelze vybrat."},
        {"/dev/null", 19200, 0, zv::msg::Cp("Nelze získat nastavení portu /dev/null.")},
        {"COM1", 0, 0, "Nelze nastavit parametry."},
        {"COM1", -9600, 0, "Nelze nastavit parametry."},
        {"COM1", 9600, 3, "Nelze nastavit parametry."},
        {"COM1", 9600, -1, "Nelze nastavit parametry."},
    };
    for (const auto& c : cases) {
        sio.Open("COM1", 19200, 0, 290, false);  // an open port is closed first
        ASSERT_TRUE(sio.IsOpen());
        EXPECT_EQ(OpenError(sio, c.name, c.speed, c.parity), c.message) << c.name;
        EXPECT_FALSE(sio.IsOpen()) << c.name;
        EXPECT_TRUE(TsiocomProbe::LockFree(sio)) << c.name;
    }
    unsetenv("ZAVLO384_COM9");
}

TEST_F(PortTest, APortHeldByAnotherProgramCannotBeTaken) {
    int up[2], down[2];
    ASSERT_EQ(pipe(up), 0);
    ASSERT_EQ(pipe(down), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // another program holding the port until told to end
        close(down[1]);
        Tsiocom other;
        char c = 'n';
        try {
            other.Open("COM1", 19200, 0, 290, false);
            c = 'y';
        } catch (...) {
        }
        (void)!write(up[1], &c, 1);
        (void)!read(down[0], &c, 1);
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(up[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');
    EXPECT_EQ(OpenError(sio, "COM1", 19200, 0), "Port COM1 nelze vybrat.");
    EXPECT_FALSE(sio.IsOpen());
    EXPECT_TRUE(TsiocomProbe::LockFree(sio));
    close(down[1]);
    int status = -1;
    waitpid(child, &status, 0);

    // Free again once the other program has ended; now we hold it.
    sio.Open("COM1", 19200, 0, 290, false);
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Tsiocom other;
        try {
            other.Open("COM1", 19200, 0, 290, false);
        } catch (const zv::Error& e) {
            _exit(std::string(e.what()) == "Port COM1 nelze vybrat." ? 0 : 3);
        }
        _exit(2);
    }
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    close(up[0]);
    close(up[1]);
    close(down[0]);
}

TEST_F(PortTest, EverySpeedOfTheListReachesTheDevice) {
    for (std::int32_t speed : {2400, 4800, 7200, 9600, 14400, 19200, 28800, 38400, 57600, 76800,
                               96000, 128000, 192000, 384000}) {
        sio.Open("COM1", speed, posix::kParityOdd, 290, false);
        const posix::LineSettings d = TsiocomProbe::Device(sio);
        EXPECT_EQ(d.ospeed, static_cast<std::uint32_t>(speed));
        EXPECT_EQ(d.ispeed, static_cast<std::uint32_t>(speed));
    }
}

TEST_F(PortTest, TimeoutsFollowTheCharacterTime) {
    struct Case {
        std::int32_t speed, parity;
        std::uint32_t readPerByte, writePerByte;
    } const cases[] = {
        {2400, 0, 12, 8},  {2400, 2, 12, 8}, {1200, 0, 24, 16}, {1200, 1, 27, 18}, {4800, 0, 6, 4},
        {7200, 0, 3, 2},   {9600, 2, 3, 2},  {19200, 0, 3, 2},  {384000, 1, 3, 2},
    };
    for (const auto& c : cases) {
        sio.Open("COM1", c.speed, c.parity, 123, false);
        const posix::Timeouts t = TsiocomProbe::Timeouts(sio);
        EXPECT_EQ(t.readMultiplier, c.readPerByte) << c.speed << "/" << c.parity;
        EXPECT_EQ(t.writeMultiplier, c.writePerByte) << c.speed << "/" << c.parity;
        EXPECT_EQ(t.readConstant, 123u);
        EXPECT_EQ(t.writeConstant, 500u);
    }
}

TEST(LineSettings, ParityAndFlowControlFlags) {
    posix::LineSettings cooked;
    cooked.iflag = ICRNL | IXON | IXOFF | ISTRIP | IGNPAR | IGNBRK | BRKINT;
    cooked.oflag = OPOST | ONLCR;
    cooked.lflag = ICANON | ECHO | ISIG | IEXTEN;
    cooked.cflag = CSTOPB | CS7 | PARENB | PARODD | CRTSCTS | HUPCL | B9600;
    cooked.ispeed = cooked.ospeed = 9600;
    for (std::int32_t parity : {0, 1, 2}) {
        for (bool flow : {false, true}) {
            const posix::LineSettings s = posix::BuildLineSettings(76800, parity, flow, cooked);
            SCOPED_TRACE(::testing::Message() << "parity " << parity << " flow " << flow);
            EXPECT_EQ(posix::ParityOf(s), parity);
            EXPECT_EQ((s.cflag & PARENB) != 0, parity != 0);
            EXPECT_EQ((s.cflag & PARODD) != 0, parity == 1);
            EXPECT_EQ(s.iflag & (INPCK | PARMRK), parity != 0 ? (INPCK | PARMRK) : 0u);
            EXPECT_EQ((s.cflag & CRTSCTS) != 0, flow);
            EXPECT_EQ(s.cflag & CSIZE, static_cast<std::uint32_t>(CS8));
            EXPECT_EQ(s.cflag & (CSTOPB | CIBAUD), 0u);
            EXPECT_EQ(s.cflag & CBAUD, static_cast<std::uint32_t>(CBAUDEX));  // speed in ospeed
            EXPECT_EQ(s.cflag & (CREAD | CLOCAL | HUPCL), static_cast<std::uint32_t>(CREAD | CLOCAL | HUPCL));
            EXPECT_EQ(s.iflag & (ICRNL | IXON | IXOFF | ISTRIP | IGNPAR | IGNBRK | BRKINT), 0u);
            EXPECT_EQ(s.oflag & OPOST, 0u);
            EXPECT_EQ(s.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
            EXPECT_EQ(s.cc[VMIN], 1);
            EXPECT_EQ(s.cc[VTIME], 0);
            EXPECT_EQ(posix::SpeedOf(s), 76800);
            EXPECT_EQ(s.ispeed, 76800u);
        }
    }
}

TEST(ParityMarks, MarksAreUndoneAcrossReads) {
    struct Case {
        std::vector<Bytes> chunks;
        Bytes data;
        bool error;
    } const cases[] = {
        {{{0x41, 0xFF, 0xFF, 0x42}}, {0x41, 0xFF, 0x42}, false},
        {{{0x41, 0xFF}, {0xFF, 0x42}}, {0x41, 0xFF, 0x42}, false},
        {{{0xFF, 0x00, 0x41, 0x42}}, {0x42}, true},
        {{{0xFF}, {0x00}, {0x41}, {0x00}}, {0x00}, true},
        {{{0x00, 0x16, 0x68}}, {0x00, 0x16, 0x68}, false},
    };
    for (const auto& c : cases) {
        posix::ParityMarkDecoder d;
        Bytes out;
        for (Bytes chunk : c.chunks) {
            const std::size_t n = d.Decode(chunk.data(), chunk.size());
            out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
        }
        EXPECT_EQ(out, c.data);
        EXPECT_EQ(d.Error(), c.error);
    }
}

}  // namespace
