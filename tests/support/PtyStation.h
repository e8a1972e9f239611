#pragma once
// Pseudo-terminal helpers for tests that involve the serial line.
//
//   PtyStation   a pty pair with a simulated Station on the master; the host opens Path()
//   PtyStationTest   the same as a GoogleTest fixture (members pty and station())
//   PtyPair      a raw pty pair without a station: the test is the far end (master)
//   RawPort      a device opened by path in raw mode, for speaking bytes to a station
//   ScopedEnv    sets an environment variable and restores it on destruction
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/Station.h"

namespace zv::station {
class Pty;
}

namespace zv::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string FName;
    std::optional<std::string> FOld;
};

class PtyStation {
public:
    PtyStation();
    explicit PtyStation(const Station::Config& config);
    ~PtyStation();

    Station& station() { return *FStation; }
    const std::string& Path() const { return FStation->SlavePath(); }
    // Points the variable (ZAVLO384_COMn) at Path() until this object goes.
    void Export(const std::string& variable = "ZAVLO384_COM1");

private:
    std::unique_ptr<Station> FStation;
    std::vector<std::unique_ptr<ScopedEnv>> FEnv;
};

class PtyStationTest : public ::testing::Test {
protected:
    Station& station() { return pty.station(); }
    PtyStation pty;
};

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    int Master() const;
    const std::string& SlavePath() const;
    void Export(const std::string& variable = "ZAVLO384_COM1");

    void WriteMaster(const Bytes& bytes);
    // Up to n bytes from the master; returns early with what came when timeout passes
    // without a new byte.
    Bytes ReadMaster(std::size_t n, std::chrono::milliseconds timeout = 1000ms);
    // Closes the master, as when the adapter is pulled.
    void CloseMaster();

private:
    std::unique_ptr<station::Pty> FPty;
    std::vector<std::unique_ptr<ScopedEnv>> FEnv;
};

// Reads up to n bytes from fd, giving up when timeout passes without a new byte.
Bytes ReadFd(int fd, std::size_t n, std::chrono::milliseconds timeout);

// Reads one frame by its first byte (E5: 1 byte, 10: 6 bytes, 68 LE: LE + 6 bytes; any
// other byte: just that byte); fewer bytes when the line goes quiet for timeout.
Bytes ReadFrame(int fd, std::chrono::milliseconds timeout = 1000ms);

class RawPort {
public:
    explicit RawPort(const std::string& path);   // raw, O_NOCTTY; fails the test if it cannot
    ~RawPort();
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;
    int Fd() const { return FFd; }

    void Write(const Bytes& bytes);
    void Write(const std::string& bytes);
    // Up to n bytes; returns early with what came when timeout passes without a new byte.
    Bytes Read(std::size_t n, std::chrono::milliseconds timeout = 1000ms);
    // Everything that arrives until the line is quiet for `quiet`.
    Bytes ReadAll(std::chrono::milliseconds quiet = 100ms);
    Bytes ReadFrame(std::chrono::milliseconds timeout = 1000ms) { return test::ReadFrame(FFd, timeout); }

private:
    int FFd = -1;
};

// A request telegram: 0x68 LE LE 0x68 DA SA 0x47 0xF5 command FCS 0x16, built here
// independently of the station's own frame code.
Bytes Request(const std::string& command, std::uint8_t da = 127, std::uint8_t sa = 100);

// The reply telegram a station sends: 0x68 LE LE 0x68 DA SA 0x07 0xF5 text FCS 0x16.
Bytes Reply(const std::string& text, std::uint8_t da = 100, std::uint8_t sa = 127);

// "68 0B ..." for messages.
std::string Hex(const Bytes& bytes);

}  // namespace zv::test
