// zavlo384-station: a simulated controller station on a pseudo-terminal, for demos and
// trials. The host program opens the path it prints (or the --link symlink to it).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Error.h"
#include "common/TextToInt.h"
#include "station/Station.h"

namespace {

const char* kUsage =
    "Usage: zavlo384-station [options]\n"
    "Serves one simulated controller station on a pseudo-terminal until SIGINT or SIGTERM.\n"
    "\n"
    "  --link PATH     make PATH a symlink to the terminal (a stale symlink is replaced)\n"
    "  --address N     station address, 0 to 255 (default 127)\n"
    "  --load FILE     memory image to start with (binary, from address 0)\n"
    "  --save FILE     write the memory image here on exit\n"
    "  --pace          pace the line at its speed, 10 bits a byte\n"
    "  --speed N       pacing speed until a speed command changes it (default 38400)\n"
    "  --parity        pace at 11 bits a byte (a line with parity)\n"
    "  --drop-replies  receive everything, answer nothing\n"
    "  --delay MS      answer every request this late\n"
    "  -h, --help      this text\n"
    "\n"
    "Prints the path to open on standard output.\n";

[[noreturn]] void Fail(const std::string& why) {
    std::cerr << "zavlo384-station: " << why << "\n";
    std::exit(2);
}

std::int32_t Number(const std::string& option, const char* text, std::int32_t lo, std::int32_t hi) {
    const auto v = zv::TextToInt(text ? text : "");
    if (!v || *v < lo || *v > hi) Fail("bad value for " + option + ": " + (text ? text : ""));
    return *v;
}

// Replaces PATH with a symlink to target; refuses to remove anything but a symlink.
void MakeLink(const std::string& path, const std::string& target) {
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) Fail(path + " exists and is not a symlink");
        if (unlink(path.c_str()) != 0) Fail("cannot remove " + path + ": " + std::strerror(errno));
    }
    if (symlink(target.c_str(), path.c_str()) != 0)
        Fail("cannot create " + path + ": " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
    zv::Station::Config config;
    std::string link, load, save;
    bool drop = false;
    int delay = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Fail(a + " needs a value");
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--link") {
            link = value();
        } else if (a == "--address") {
            config.address = static_cast<std::uint8_t>(Number(a, value(), 0, 255));
        } else if (a == "--load") {
            load = value();
        } else if (a == "--save") {
            save = value();
        } else if (a == "--pace") {
            config.pace = true;
        } else if (a == "--parity") {
            config.parity = true;
        } else if (a == "--speed") {
            config.speed = Number(a, value(), 1, 10'000'000);
        } else if (a == "--drop-replies") {
            drop = true;
        } else if (a == "--delay") {
            delay = Number(a, value(), 0, 600'000);
        } else {
            std::cerr << kUsage;
            Fail("unknown option " + a);
        }
    }

    // Block the stop signals before the station's thread exists, so that only the
    // signalfd below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) Fail("cannot block signals");
    const int sfd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (sfd < 0) Fail(std::string("signalfd: ") + std::strerror(errno));

    int rc = 0;
    bool linked = false;
    try {
        zv::Station station(config);
        if (!load.empty()) station.LoadMemory(load);
        zv::Station::Faults faults;
        faults.dropAll = drop;
        faults.delayMs = delay;
        station.SetFaults(faults);

        if (!link.empty()) {
            MakeLink(link, station.SlavePath());
            linked = true;
        }
        std::cout << (link.empty() ? station.SlavePath() : link) << std::endl;

        signalfd_siginfo info{};
        while (read(sfd, &info, sizeof info) < 0 && errno == EINTR) {
        }
        station.Stop();
        if (linked) unlink(link.c_str());
        linked = false;
        if (!save.empty()) station.SaveMemory(save);
    } catch (const zv::Error& e) {
        if (linked) unlink(link.c_str());
        std::cerr << "zavlo384-station: " << e.what() << "\n";
        rc = 1;
    }
    close(sfd);
    return rc;
}
