#pragma once
// A worker on a real pseudo-terminal with the simulated station at the far end, for the
// download, memory and service command tests. The tests drive the worker's script calls
// directly from the test thread; its own thread stays idle unless a job is started.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Error.h"
#include "engine/LinkAccess.h"
#include "engine/Prikazy.h"
#include "link/Tsigs.h"
#include "tests/support/PtyStation.h"

namespace zv::dltest {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// The link's speed list, by item index.
inline constexpr std::array<std::int32_t, 14> kSpeeds = {2400,  4800,  7200,  9600,   14400,  19200,  28800,
                                                         38400, 57600, 76800, 96000, 128000, 192000, 384000};

// The test's own link settings: fixed addresses, a reply time-out the test may shorten,
// and "@speed" carried out on the port directly.
struct TestLink final : TLinkAccess {
    Tsiocom& port;
    std::string path;
    std::int32_t timeoutMs = 300;
    int speedIndex = 7;
    std::vector<int> selected;  // every SelectSpeed, in order
    int applied = 0;

    TestLink(Tsiocom& p, std::string devicePath) : port(p), path(std::move(devicePath)) {}
    std::int32_t StationAddress() const override { return 127; }
    std::int32_t SourceAddress() const override { return 100; }
    std::int32_t ReplyTimeout() const override { return timeoutMs; }
    int SpeedIndex() const override { return speedIndex; }
    void SelectSpeed(int index) override {
        selected.push_back(index);
        speedIndex = index;
    }
    void ApplySettings() override {
        ++applied;
        port.Close();
        Open();
    }
    void Open() { port.Open(path, kSpeeds[static_cast<std::size_t>(speedIndex)], 0, 290, false); }
};

class StationRig : public ::testing::Test {
protected:
    zv::test::PtyStation pty;
    Tsiocom port;
    TestLink link{port, pty.Path()};
    std::unique_ptr<TPrikaz> worker;

    void SetUp() override {
        link.Open();
        worker = std::make_unique<TPrikaz>(port, link);
        Reports();  // whatever the construction reported
    }
    void TearDown() override { worker.reset(); }

    zv::Station& station() { return pty.station(); }

    Lines Reports() {
        Lines out;
        worker->FReports.Drain([&](std::string&& l) { out.push_back(std::move(l)); });
        return out;
    }

    // The command bytes of every request the station has taken, in order.
    Lines Commands() {
        Lines out;
        for (const auto& r : station().Requests()) out.push_back(r.Command());
        return out;
    }

    // Runs the line and returns its error text, "" when it succeeded.
    std::string Run(const std::string& line) {
        try {
            worker->ExecuteLine(line);
        } catch (const zv::Error& e) {
            return e.what();
        }
        return "";
    }

    // Starts a file job on the worker's own thread and waits for its end.
    void RunFileJob(const std::string& file) {
        worker->StartFile(file);
        WaitForJob();
    }
    void RunLineJob(const std::string& line) {
        worker->StartLine(line);
        WaitForJob();
    }
    void WaitForJob() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (worker->FBusy.load(std::memory_order_acquire)) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "job did not end";
            worker->FReports.WaitForActivity(200);
        }
    }
};

// A fresh folder for the test's files, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zv-dl-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        FPath = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteFile(const std::string& path, const Bytes& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}
inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Holds an exclusive lock on a file, as another program would.
class HeldLock {
public:
    explicit HeldLock(const std::string& path) : FFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (FFd < 0 || ::flock(FFd, LOCK_EX | LOCK_NB) != 0) ADD_FAILURE() << "cannot lock " << path;
    }
    ~HeldLock() {
        if (FFd >= 0) ::close(FFd);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int FFd;
};

}  // namespace zv::dltest
