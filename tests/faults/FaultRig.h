#pragma once
// A worker on a pseudo-terminal with the simulated station at the far end, driven only
// through jobs on the worker's own thread. The station can be replaced, as when another
// adapter is plugged in after one was pulled.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/EngineRig.h"
#include "tests/support/SRecordLine.h"
#include "tests/support/TsiocomProbe.h"

namespace zv::faulttest {

using namespace zv::enginetest;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
namespace msg = zv::msg;
using F = zv::Station::Faults;

using zv::test::Hex2;
using zv::test::Rec;

inline std::string Joined(const Lines& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return text;
}

inline bool Has(const Lines& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

class FaultRig : public zv::test::WorkerRig {
protected:
    std::unique_ptr<zv::test::PtyStation> pty = std::make_unique<zv::test::PtyStation>();
    Tsiocom port;
    Link link;
    std::unique_ptr<TPrikaz> worker;
    TempDir dir;

    void SetUp() override {
        std::setlocale(LC_ALL, "C");
        zv::SetLocalTimeSource(FixedTime);
        // Generous: a reply that is due must not miss it on a loaded machine. Tests that
        // wait out silent or spoilt replies shorten it.
        link.timeoutMs = 500;
        Reopen();
        worker = std::make_unique<TPrikaz>(port, link);
    }
    void TearDown() override {
        worker.reset();
        zv::SetLocalTimeSource({});
    }

    TPrikaz& TheWorker() override { return *worker; }
    zv::Station& station() override { return pty->station(); }
    void Reopen() { port.Open(pty->Path(), 38400, 0, 290, false); }
    // A new station on a new pseudo-terminal, and the port opened on it.
    void NewStation() {
        pty = std::make_unique<zv::test::PtyStation>();
        Reopen();
    }
    bool LockFree() { return TsiocomProbe::LockFree(port); }
};

}  // namespace zv::faulttest
