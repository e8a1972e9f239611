#pragma once
// What the worker rigs (EngineRig, StationRig, FaultRig) share: reading the worker's
// reports and the station's requests, running a line on the test thread, and running a
// job on the worker's own thread until it ends. Each rig owns its pseudo-terminal, port,
// link settings and worker, and hands them over through TheWorker() and station().
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "common/Error.h"
#include "engine/Prikazy.h"
#include "station/Station.h"

namespace zv::test {

class WorkerRig : public ::testing::Test {
protected:
    using Lines = std::vector<std::string>;

    virtual TPrikaz& TheWorker() = 0;
    virtual zv::Station& station() = 0;

    // The reports queued since the last drain.
    Lines Reports() {
        Lines out;
        TheWorker().FReports.Drain([&](std::string&& l) { out.push_back(std::move(l)); });
        return out;
    }

    // The command bytes of every request the station has taken, in order.
    Lines Commands() {
        Lines out;
        for (const auto& r : station().Requests()) out.push_back(r.Command());
        return out;
    }

    // Runs the line on the test thread; its error text, "" when it succeeded.
    std::string Run(const std::string& line) {
        try {
            TheWorker().ExecuteLine(line);
        } catch (const zv::Error& e) {
            return e.what();
        }
        return "";
    }

    // Waits for the job on the worker's thread to end; its reports, drained as they come.
    // Gives up after `limit`.
    Lines WaitForJob(std::chrono::seconds limit = std::chrono::seconds(60)) {
        TPrikaz& worker = TheWorker();
        Lines out;
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const bool busy = worker.FBusy.load(std::memory_order_acquire);
            worker.FReports.Drain([&](std::string&& l) { out.push_back(std::move(l)); });
            if (!busy) return out;
            if (std::chrono::steady_clock::now() > until) {
                ADD_FAILURE() << "the job did not end";
                return out;
            }
            worker.FReports.WaitForActivity(1000);
        }
    }
    Lines LineJob(const std::string& line) {
        TheWorker().StartLine(line);
        return WaitForJob();
    }
    Lines FileJob(const std::string& file) {
        TheWorker().StartFile(file);
        return WaitForJob();
    }
};

}  // namespace zv::test
