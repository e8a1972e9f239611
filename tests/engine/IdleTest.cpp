// An idle worker and a front end waiting for reports use no CPU: the worker sleeps on its
// start event between jobs, the waiting front end on the report queue. A busy-wait on
// either would use the whole idle time, orders of magnitude above the bound here.
#include <gtest/gtest.h>

#include <time.h>

#include <chrono>
#include <thread>

#include "tests/engine/EngineRig.h"

namespace {

using namespace zv::enginetest;

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

class Idle : public EngineRig {};

TEST_F(Idle, WorkerAndWaitingFrontEndUseNoCpu) {
    // After a job, so that the worker is back in its wait rather than never having left it.
    const Lines job = LineJob("I000000");
    ASSERT_FALSE(job.empty());
    EXPECT_EQ(job.back(), kDone);

    std::thread frontEnd([this] { worker->FReports.WaitForActivity(-1); });
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the idle time measured
    const double used = ProcessCpuMs() - before;
    worker->FReports.Notify();
    frontEnd.join();

    // The station thread, waiting on its line, is part of the process too.
    EXPECT_LT(used, 15.0) << "CPU time over 300 ms of idle, in ms";
}

}  // namespace
