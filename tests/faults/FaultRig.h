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

// Whether another thread can take the port lock at once (it gives it back).
struct TsiocomProbe {
    static bool LockFree(Tsiocom& s) {
        bool free = false;
        std::thread([&] {
            free = s.FLock.WaitFor(0);
            if (free) s.FLock.Release();
        }).join();
        return free;
    }
};

namespace zv::faulttest {

using namespace zv::enginetest;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
namespace msg = zv::msg;
using F = zv::Station::Faults;

inline std::string Hex2(unsigned v) {
    char t[3];
    std::snprintf(t, sizeof t, "%02X", v & 0xFF);
    return t;
}

// An "S2" record line with its check sum.
inline std::string Rec(std::uint32_t address, const Bytes& data) {
    char head[16];
    std::snprintf(head, sizeof head, "S2%02X%06X", static_cast<unsigned>(data.size() + 4), address);
    unsigned sum = static_cast<unsigned>(data.size() + 4) + (address & 0xFF) + ((address >> 8) & 0xFF) + (address >> 16);
    std::string line = head;
    for (auto b : data) {
        line += Hex2(b);
        sum += b;
    }
    return line + Hex2(~sum);
}

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
