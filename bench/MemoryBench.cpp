// The resident memory of the batch front end while it downloads a 40 MB S-record file
// (about 512,000 records of 32 data bytes, nearly the whole 24-bit address space) to a
// station that acknowledges every block at once. The program runs as its own process, so
// that its peak resident set (ru_maxrss) is its own and not the station's or this one's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "bench/BenchRig.h"

extern char** environ;

namespace {

using namespace zv::bench;

constexpr std::uint32_t kStart = 0x000080;       // the window at 0 is never sent
constexpr std::uint64_t kDataBytes = 16'400'000;  // 40 MB of record text

void BM_BigFileResidentMemory(benchmark::State& state) {
    TempDir dir;
    const std::string image = dir / "big.s24";
    const double fileMiB = static_cast<double>(WriteImage(image, kStart, kDataBytes)) / (1 << 20);
    zv::test::PtyStation pty;
    pty.Export();

    double peakMiB = 0;
    for (auto _ : state) {
        pty.station().ClearLog();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args{ZAVLO384_CLI, "b384000", "#" + image};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int spawned = ::posix_spawn(&pid, ZAVLO384_CLI, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            state.SkipWithError("cannot start zavlo384-cli");
            return;
        }
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the download did not end as done");
            return;
        }
        peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
    }
    state.counters["file_MiB"] = fileMiB;
    state.counters["peak_rss_MiB"] = peakMiB;
    state.counters["rss_per_file_size"] = peakMiB / fileMiB;
    state.counters["blocks"] = static_cast<double>(pty.station().GetCounters().requests);
}
BENCHMARK(BM_BigFileResidentMemory)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
