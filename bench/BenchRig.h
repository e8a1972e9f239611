#pragma once
// What the line benchmarks share: S-record image files, fixed link settings, and a
// worker on a pseudo-terminal with the simulated station at the far end, run the way the
// batch front end runs it (a file job, its reports drained as they come).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/LinkAccess.h"
#include "engine/Prikazy.h"
#include "link/Tsigs.h"
#include "tests/support/PtyStation.h"
#include "tests/support/TempDir.h"

namespace zv::bench {

using Clock = std::chrono::steady_clock;

// A fresh folder, removed with everything in it.
using zv::test::TempDir;

// Writes an image of `bytes` data bytes from `start` as a header record, "S2" records of
// 32 data bytes (76 characters) and an "S8" end record, lines ended by CR LF. Written as
// it is made, so that even a big file costs the writer no memory. Returns the file size.
inline std::uint64_t WriteImage(const std::string& path, std::uint32_t start, std::uint64_t bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    std::uint64_t size = 0;
    auto put = [&](const char* line) {
        size += static_cast<std::uint64_t>(std::fprintf(f, "%s\r\n", line));
    };
    put("S0030000FC");
    std::uint32_t seed = 1;
    char line[96];
    for (std::uint64_t done = 0; done < bytes;) {
        const int n = static_cast<int>(std::min<std::uint64_t>(32, bytes - done));
        const auto address = static_cast<std::uint32_t>(start + done);
        int at = std::snprintf(line, sizeof line, "S2%02X%06X", n + 4, address);
        unsigned sum = static_cast<unsigned>(n + 4) + (address & 0xFF) + ((address >> 8) & 0xFF) + (address >> 16);
        for (int i = 0; i < n; ++i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned b = (seed >> 16) & 0xFF;
            at += std::snprintf(line + at, sizeof line - static_cast<std::size_t>(at), "%02X", b);
            sum += b;
        }
        std::snprintf(line + at, sizeof line - static_cast<std::size_t>(at), "%02X", ~sum & 0xFF);
        put(line);
        done += static_cast<std::uint64_t>(n);
    }
    char end[32];
    const unsigned s8sum = ~(4u + (start & 0xFF) + ((start >> 8) & 0xFF) + (start >> 16)) & 0xFF;
    std::snprintf(end, sizeof end, "S804%06X%02X", start, s8sum);
    put(end);
    if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
    return size;
}

struct BenchLink final : TLinkAccess {
    std::int32_t StationAddress() const override { return 127; }
    std::int32_t SourceAddress() const override { return 100; }
    std::int32_t ReplyTimeout() const override { return 300; }
    int SpeedIndex() const override { return -1; }
    void SelectSpeed(int) override {}
    void ApplySettings() override {}
};

// The worker on one end of the line and the station on the other.
class LineRig {
public:
    explicit LineRig(const Station::Config& config) : FPty(config) {
        FPort.Open(FPty.Path(), config.speed, 0, 300, false);
        FWorker = std::make_unique<TPrikaz>(FPort, FLink);
        Drain();
    }
    ~LineRig() { FWorker.reset(); }

    Station& station() { return FPty.station(); }
    TPrikaz& worker() { return *FWorker; }

    // Runs the file as a job and returns how long it took, from its start to the moment
    // the worker was idle again; its error text in `error`.
    Clock::duration FileJob(const std::string& path, std::string& error) {
        const auto start = Clock::now();
        FWorker->StartFile(path);
        for (;;) {
            const bool busy = FWorker->FBusy.load(std::memory_order_acquire);
            Drain();
            if (!busy) break;
            FWorker->FReports.WaitForActivity(-1);
        }
        const auto took = Clock::now() - start;
        error = FWorker->FError;
        return took;
    }

private:
    void Drain() {
        FWorker->FReports.Drain([](std::string&& line) { benchmark::DoNotOptimize(line); });
    }

    test::PtyStation FPty;
    Tsiocom FPort;
    BenchLink FLink;
    std::unique_ptr<TPrikaz> FWorker;
};

// The value below which the fraction q of the samples lie (nearest rank).
inline double Quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(rank, samples.size() - 1)];
}

}  // namespace zv::bench
