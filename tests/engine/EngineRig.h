#pragma once
// A worker on a pseudo-terminal with the simulated station on the far end, for the tests of
// the exchange, script lines, script files and jobs. Link settings are the test's own and
// may change between telegrams; the local time is fixed.
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/LinkAccess.h"
#include "engine/Prikazy.h"
#include "link/Tsigs.h"
#include "tests/engine/WorkerRig.h"
#include "tests/support/PtyStation.h"
#include "tests/support/TempDir.h"

namespace zv::enginetest {

using Lines = std::vector<std::string>;
using zv::msg::Cp;

// The settings the worker reads at each telegram. This rig runs no "@speed".
struct Link final : TLinkAccess {
    std::atomic<std::int32_t> station{127};
    std::atomic<std::int32_t> source{100};
    std::atomic<std::int32_t> timeoutMs{30};
    std::int32_t StationAddress() const override { return station; }
    std::int32_t SourceAddress() const override { return source; }
    std::int32_t ReplyTimeout() const override { return timeoutMs; }
    int SpeedIndex() const override { return -1; }
    void SelectSpeed(int) override { ADD_FAILURE() << "no speed change expected"; }
    void ApplySettings() override { ADD_FAILURE() << "no speed change expected"; }
};

// Station faults set by a function: With([](auto& f) { f.dropAll = true; }).
template <class Set>
zv::Station::Faults With(Set set) {
    zv::Station::Faults f;
    set(f);
    return f;
}

// 14 March 2024 13:05:09, shown by the C locale as "03/14/24 13:05:09".
inline std::tm FixedTime() {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 14;
    t.tm_hour = 13;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
}
inline const std::string kDone = Cp("=== Dokončeno: 03/14/24 13:05:09 ===");
inline const std::string kInterrupted = Cp("=== Přerušeno: 03/14/24 13:05:09 ===");

class EngineRig : public zv::test::WorkerRig {
protected:
    zv::test::PtyStation pty;
    Tsiocom port;
    Link link;
    std::unique_ptr<TPrikaz> worker;

    void SetUp() override {
        std::setlocale(LC_ALL, "C");
        zv::SetLocalTimeSource(FixedTime);
        port.Open(pty.Path(), 38400, 0, 290, false);
        worker = std::make_unique<TPrikaz>(port, link);
        Reports();
    }
    void TearDown() override {
        worker.reset();
        zv::SetLocalTimeSource({});
    }

    TPrikaz& TheWorker() override { return *worker; }
    zv::Station& station() override { return pty.station(); }
    void Faults(const zv::Station::Faults& f) { station().SetFaults(f); }
};

// A fresh folder for the test's files, removed with everything in it.
using zv::test::TempDir;

}  // namespace zv::enginetest
