#pragma once
// Three pseudo-terminals standing in for COM1..COM3, and a record of every open of
// their devices as the kernel sees it (inotify), so that a test can tell which port
// was opened and how often without looking inside the port object.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace zv::test {

class PtyPorts {
public:
    static constexpr int kCount = 3;

    // `missing` lists ports (1-based) whose variable names a device that does not exist.
    explicit PtyPorts(std::vector<int> missing = {}) {
        FWatch.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FWatch.fd < 0) throw std::runtime_error("inotify_init1");
        for (int n = 1; n <= kCount; ++n) {
            auto& pty = FPty[n - 1];
            pty.master.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (pty.master.fd < 0 || ::grantpt(pty.master.fd) != 0 || ::unlockpt(pty.master.fd) != 0)
                throw std::runtime_error("posix_openpt");
            pty.slave = ::ptsname(pty.master.fd);
            // Closes are watched too: inotify merges an event with an identical unread
            // one before it, which would hide the second of two opens in a row.
            pty.wd = ::inotify_add_watch(FWatch.fd, pty.slave.c_str(), IN_OPEN | IN_CLOSE);
            bool gone = false;
            for (int m : missing) gone = gone || m == n;
            const std::string device = gone ? "/nonexistent/zavlo384-COM" + std::to_string(n) : pty.slave;
            ::setenv(Variable(n).c_str(), device.c_str(), 1);
        }
    }
    ~PtyPorts() {
        for (int n = 1; n <= kCount; ++n) ::unsetenv(Variable(n).c_str());
    }
    PtyPorts(const PtyPorts&) = delete;
    PtyPorts& operator=(const PtyPorts&) = delete;

    // The ports opened since the last call, in order ("COM1", "COM3", ...).
    std::vector<std::string> Opens() {
        std::vector<std::string> opened;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(FWatch.fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                for (int p = 0; p < kCount; ++p)
                    if (FPty[p].wd == event->wd && (event->mask & IN_OPEN) != 0)
                        opened.push_back("COM" + std::to_string(p + 1));
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return opened;
    }

    // The line speed the device was last set to, read from the master side.
    unsigned Speed(int n) const {
        termios2 t{};
        if (::ioctl(FPty[n - 1].master.fd, TCGETS2, &t) != 0) return 0;
        return t.c_ospeed;
    }

    const std::string& Device(int n) const { return FPty[n - 1].slave; }
    int Master(int n) const { return FPty[n - 1].master.fd; }

    static std::string Variable(int n) { return "ZAVLO384_COM" + std::to_string(n); }

private:
    struct Fd {
        int fd = -1;
        Fd() = default;
        Fd(const Fd&) = delete;
        Fd& operator=(const Fd&) = delete;
        ~Fd() {
            if (fd >= 0) ::close(fd);
        }
    };
    struct Pty {
        Fd master;
        std::string slave;
        int wd = -1;
    };
    Fd FWatch;
    std::array<Pty, kCount> FPty;
};

}  // namespace zv::test
