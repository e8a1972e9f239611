// The window's status pump on the offscreen platform: Timer1Timer called directly.
//
// BM_TickIntoFullConsole: one tick that moves 10,000 waiting report lines into a console
// that already holds its 3000 lines.
// BM_IdleTick: one tick with nothing to do (console full, worker idle).
// BM_LongJob: a job of 100,000 script lines (each reports twice) against the simulated
// station, with the window's event loop running and the tick every 100 ms; the longest
// tick and the longest time the event loop went without a tick show whether the window
// stayed responsive.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/Main.h"
#include "bench/BenchRig.h"

namespace {

using namespace zv::bench;

constexpr int kConsoleLines = 3000;

void Queue(TPrikaz& worker, int n) {
    char line[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "Odes\xEDl\xE1 se s-blok 0x%06X", 0x010000 + 128 * i);
        worker.Report(line);
    }
}

// A window whose console is full, with no timer of its own running.
struct FullWindow {
    TForm1 form;
    FullWindow() {
        form.Timer1->stop();
        form.show();
        Queue(*form.Worker, kConsoleLines);
        form.Timer1Timer();
        QApplication::processEvents();
    }
};

void BM_TickIntoFullConsole(benchmark::State& state) {
    FullWindow w;
    for (auto _ : state) {
        state.PauseTiming();
        Queue(*w.form.Worker, 10'000);
        state.ResumeTiming();
        w.form.Timer1Timer();
    }
    state.counters["console_lines"] = w.form.Hlaseni->document()->blockCount();
}
BENCHMARK(BM_TickIntoFullConsole)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_IdleTick(benchmark::State& state) {
    FullWindow w;
    for (auto _ : state) w.form.Timer1Timer();
}
BENCHMARK(BM_IdleTick)->Unit(benchmark::kMicrosecond);

void BM_LongJob(benchmark::State& state) {
    TempDir dir;
    const std::string script = dir / "long.cmd";
    {
        // "~": sent without awaiting a reply, so the job is as fast as the window's
        // reports can come.
        std::ofstream file(script, std::ios::binary);
        for (int i = 0; i < 100'000; ++i) file << "~I000000\r\n";
    }
    zv::test::PtyStation pty;
    Tsiocom port;
    port.Open(pty.Path(), 38400, 0, 300, false);
    TForm1 form(port);
    form.Timer1->stop();
    form.show();

    double longestTick = 0, longestGap = 0, seconds = 0;
    for (auto _ : state) {
        QElapsedTimer job;
        job.start();
        form.StartFileJob(script);
        QEventLoop loop;
        QTimer tick;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, sinceTick.nsecsElapsed() / 1e6);
            QElapsedTimer t;
            t.start();
            form.Timer1Timer();
            longestTick = std::max(longestTick, t.nsecsElapsed() / 1e6);
            sinceTick.start();
            if (!form.Worker->FBusy && form.Worker->FReports.Count() == 0) loop.quit();
        });
        tick.start(100);
        loop.exec();
        seconds += job.nsecsElapsed() / 1e9;
        if (!form.Worker->FError.empty()) {
            state.SkipWithError("the job failed");
            return;
        }
    }
    state.counters["longest_tick_ms"] = longestTick;
    state.counters["longest_gap_ms"] = longestGap;  // 100 is the timer's own period
    state.counters["job_s"] = seconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LongJob)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    zv::gui::TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
