// The download over a pseudo-terminal against the simulated station.
//
// BM_HostTurnaround: the station answers at once (no pacing); the time from the last
// byte of a reply leaving the station to the first byte of the next request reaching it
// is the host's turnaround (the station's own wake-up included), as the station's
// request log shows it. Median and 99th percentile in microseconds.
//
// BM_PacedDownload: the station paces both directions at 384000 Bd; the job's time is
// compared with the wire time of every telegram and reply of the job (10 bits a byte).
// Where the time beyond the wire went is split into the station's side and the host's,
// and the same telegrams are sent by a host that does nothing else (the floor).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchRig.h"

namespace {

using namespace zv::bench;

constexpr std::uint32_t kImageStart = 0x010000;
constexpr std::uint64_t kImageBytes = 256 * 1024;
constexpr std::int32_t kWireSpeed = 384000;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// The wire time of everything a station took and sent since its log was cleared.
double WireSeconds(const zv::Station& station) {
    const auto c = station.GetCounters();
    return static_cast<double>(c.requestBytes + c.replyBytes) * 10.0 / kWireSpeed;
}

// Reply-to-next-request gaps of the logged requests, in microseconds.
std::vector<double> Turnarounds(const std::vector<zv::Station::Request>& log) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < log.size(); ++i) {
        if (log[i - 1].replied == Clock::time_point{}) continue;
        gaps.push_back(Micros(log[i].arrived - log[i - 1].replied));
    }
    return gaps;
}

void BM_HostTurnaround(benchmark::State& state) {
    TempDir dir;
    const std::string image = dir / "image.s24";
    WriteImage(image, kImageStart, kImageBytes);
    LineRig rig(zv::Station::Config{});

    std::vector<double> gaps;
    for (auto _ : state) {
        rig.station().ClearLog();
        std::string error;
        rig.FileJob(image, error);
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        const auto more = Turnarounds(rig.station().Requests());
        gaps.insert(gaps.end(), more.begin(), more.end());
    }
    state.counters["turnaround_median_us"] = Quantile(gaps, 0.5);
    state.counters["turnaround_p99_us"] = Quantile(gaps, 0.99);
    state.counters["exchanges"] = static_cast<double>(gaps.size());
}
BENCHMARK(BM_HostTurnaround)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same measurement with the least host there can be: a test port on the slave that
// sends the next request as soon as it has read a reply frame. The floor that the
// pseudo-terminal and the station's own wake-up put under BM_HostTurnaround.
void BM_BareTurnaround(benchmark::State& state) {
    zv::test::PtyStation pty;
    zv::test::RawPort port(pty.Path());
    const auto request = zv::test::Request("I000000\r");
    std::vector<double> gaps;
    for (auto _ : state) {
        pty.station().ClearLog();
        for (int i = 0; i < 2048; ++i) {
            port.Write(request);
            if (port.ReadFrame().empty()) {
                state.SkipWithError("no reply");
                return;
            }
        }
        const auto more = Turnarounds(pty.station().Requests());
        gaps.insert(gaps.end(), more.begin(), more.end());
    }
    state.counters["turnaround_median_us"] = Quantile(gaps, 0.5);
    state.counters["turnaround_p99_us"] = Quantile(gaps, 0.99);
}
BENCHMARK(BM_BareTurnaround)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PacedDownload(benchmark::State& state) {
    TempDir dir;
    const std::string image = dir / "image.s24";
    WriteImage(image, kImageStart, kImageBytes);
    zv::Station::Config config;
    config.pace = true;
    config.speed = kWireSpeed;
    LineRig rig(config);
    // The floor: the job's own telegrams, sent by a test port that writes the next one as
    // soon as it has read a reply frame, to a second pacing station. What this needs beyond
    // the wire is the pseudo-terminal's and the station's cost on this machine at the time;
    // what the job needs beyond the floor is the host's.
    zv::test::PtyStation floorPty(config);
    zv::test::RawPort floorPort(floorPty.Path());
    double floorTook = 0, floorWire = 0;
    std::vector<double> floorTurnarounds;

    double took = 0, wire = 0, atStation = 0;
    std::vector<double> gaps, excess, cycles;
    for (auto _ : state) {
        rig.station().ClearLog();
        std::string error;
        took += std::chrono::duration<double>(rig.FileJob(image, error)).count();
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        wire += WireSeconds(rig.station());
        const auto log = rig.station().Requests();
        floorPty.station().ClearLog();
        const auto floorStart = Clock::now();
        for (const auto& r : log) {
            floorPort.Write(zv::test::Request(r.Command(), r.da, r.sa));
            if (floorPort.ReadFrame().empty()) {
                state.SkipWithError("the floor's station did not answer");
                return;
            }
        }
        floorTook += std::chrono::duration<double>(Clock::now() - floorStart).count();
        const auto floorGaps = Turnarounds(floorPty.station().Requests());
        floorTurnarounds.insert(floorTurnarounds.end(), floorGaps.begin(), floorGaps.end());
        floorWire += WireSeconds(floorPty.station());
        const auto more = Turnarounds(log);
        gaps.insert(gaps.end(), more.begin(), more.end());
        for (std::size_t i = 0; i + 1 < log.size(); ++i) {
            // One block's cycle, from its request to the next, against its wire time.
            const auto c = log[i].Command();
            if (c.empty() || (c[0] != 's' && c[0] != 'n')) continue;
            const double wireUs = static_cast<double>(log[i].data.size() + 9 + 18) * 10 * 1e6 / kWireSpeed;
            cycles.push_back(Micros(log[i + 1].arrived - log[i].arrived) / wireUs);
        }
        for (const auto& r : log) {
            if (r.replied == Clock::time_point{}) continue;
            atStation += std::chrono::duration<double>(r.replied - r.arrived).count();
            // A block's request frame and its 18-byte acknowledgement "*AAAAAA\r".
            const auto c = r.Command();
            if (!c.empty() && (c[0] == 's' || c[0] == 'n'))
                excess.push_back(Micros(r.replied - r.arrived) - static_cast<double>(r.data.size() + 9 + 18) * 10 * 1e6 / kWireSpeed);
        }
    }
    // Where the time beyond the wire went: the station's side (from a request's first byte
    // to its reply's last, wire time included) and the host's (the turnarounds).
    // How much longer than the wire a block took at the station.
    state.counters["station_excess_median_us"] = Quantile(excess, 0.5);
    state.counters["station_excess_p99_us"] = Quantile(excess, 0.99);
    state.counters["station_s"] = atStation / static_cast<double>(state.iterations());
    double host = 0;
    for (const double g : gaps) host += g / 1e6;
    state.counters["host_s"] = host / static_cast<double>(state.iterations());
    state.counters["wire_s"] = wire / static_cast<double>(state.iterations());
    state.counters["job_s"] = took / static_cast<double>(state.iterations());
    state.counters["ratio"] = wire > 0 ? took / wire : 0;
    state.counters["floor_ratio"] = floorWire > 0 ? floorTook / floorWire : 0;
    state.counters["floor_turnaround_median_us"] = Quantile(floorTurnarounds, 0.5);
    state.counters["host_share"] = floorTook > 0 ? took / floorTook : 0;
    // The typical block, untouched by the odd long wait for a busy processor.
    state.counters["block_ratio_median"] = Quantile(cycles, 0.5);
    state.counters["turnaround_median_us"] = Quantile(gaps, 0.5);
    state.counters["turnaround_p99_us"] = Quantile(gaps, 0.99);
}
BENCHMARK(BM_PacedDownload)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

// --hold-idle: keeps the processors out of their idle halt while the benchmarks run (a
// PM QoS request of 0 us on /dev/cpu_dma_latency, held until the process ends; root only).
// On a virtual machine, waking a halted processor costs more than a block's share of
// the target, so this shows what the line costs where that wake-up is cheap.
int main(int argc, char** argv) {
    struct Hold {
        int fd = -1;
        ~Hold() {
            if (fd >= 0) ::close(fd);
        }
    } hold;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--hold-idle") {
            argv[kept++] = argv[i];
            continue;
        }
        if (hold.fd < 0) hold.fd = ::open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
        const std::int32_t none = 0;
        if (hold.fd < 0 || ::write(hold.fd, &none, sizeof none) != sizeof none) {
            std::fprintf(stderr, "--hold-idle: /dev/cpu_dma_latency: %s\n", std::strerror(errno));
            return 2;
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
