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
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/LinkAccess.h"
#include "engine/Prikazy.h"
#include "link/Tsigs.h"
#include "tests/engine/WorkerRig.h"
#include "tests/support/PtyStation.h"
#include "tests/support/TempDir.h"

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

class StationRig : public zv::test::WorkerRig {
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

    TPrikaz& TheWorker() override { return *worker; }
    zv::Station& station() override { return pty.station(); }

    // Starts a file job on the worker's own thread and waits for its end. Unlike FileJob
    // and LineJob, its reports stay queued for Reports().
    void RunFileJob(const std::string& file) {
        worker->StartFile(file);
        WaitUntilIdle();
    }
    void RunLineJob(const std::string& line) {
        worker->StartLine(line);
        WaitUntilIdle();
    }
    // Waits for the job to end, draining nothing; fails the test after a minute.
    void WaitUntilIdle() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (worker->FBusy.load(std::memory_order_acquire)) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "job did not end";
            worker->FReports.WaitForActivity(200);
        }
    }
};

// A fresh folder for the test's files, removed with everything in it.
using zv::test::TempDir;

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
