// The command-line options, on ports that cannot open (every COMn points at a path that
// does not exist). The input is the argument vector, arguments split at NUL bytes. Only
// zv::Error escapes, and it is the message of the port selected at that moment; queued
// lines are arguments in command-line order; the settings stay inside their lists.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Check.h"
#include "app/LinkSettings.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "link/Tsigs.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (char n = '1'; n <= '9'; ++n)
        ::setenv((std::string("ZAVLO384_COM") + n).c_str(), "/nonexistent/zavlo384-fuzz", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    const std::string all(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= all.size() && args.size() < 64;) {
        const std::size_t end = std::min(all.find('\0', start), all.size());
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }

    static Tsiocom port;
    LinkSettings settings(port);
    TPendingLines pending;
    std::string error;
    try {
        settings.ProcessArguments(args, pending);
    } catch (const zv::Error& e) {
        error = e.what();
    }
    const LinkSettings::Values v = settings.Get();
    ZV_FUZZ_CHECK(v.port >= 0 && v.port < static_cast<int>(LinkSettings::kPorts.size()));
    ZV_FUZZ_CHECK(v.speed >= 0 && v.speed < static_cast<int>(LinkSettings::kSpeeds.size()));
    ZV_FUZZ_CHECK(v.parity >= 0 && v.parity < static_cast<int>(LinkSettings::kParities.size()));
    // No port opens, so the first reopening fails, at the latest the final one.
    ZV_FUZZ_CHECK(error == zv::msg::PortNelzeVybrat(std::string(LinkSettings::kPorts[static_cast<std::size_t>(v.port)])));
    ZV_FUZZ_CHECK(!port.IsOpen());

    std::size_t k = 0;
    for (const std::string& line : pending) {
        while (k < args.size() && args[k] != line) ++k;
        ZV_FUZZ_CHECK(k < args.size());  // queued lines keep the command line's order
        ++k;
    }
    bool addressOption = false;
    std::size_t dotted = 0;
    for (const std::string& a : args) {
        if (a.find('.') != std::string::npos) ++dotted;
        else if (!a.empty() && std::string("DdSs").find(a[0]) != std::string::npos) addressOption = true;
    }
    std::size_t queuedDotted = 0;
    for (const std::string& line : pending) queuedDotted += line.find('.') != std::string::npos;
    // Without an address option the whole command line is processed before the one apply.
    if (!addressOption) ZV_FUZZ_CHECK(queuedDotted == dotted);
    return 0;
}
