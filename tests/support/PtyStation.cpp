#include "tests/support/PtyStation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "station/Pty.h"

namespace zv::test {

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name.c_str())) FOld = old;
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (FOld)
        setenv(FName.c_str(), FOld->c_str(), 1);
    else
        unsetenv(FName.c_str());
}

PtyStation::PtyStation() : PtyStation(Station::Config{}) {}
PtyStation::PtyStation(const Station::Config& config) : FStation(std::make_unique<Station>(config)) {}
PtyStation::~PtyStation() {
    FStation.reset();
    while (!FEnv.empty()) FEnv.pop_back();   // newest first, so the oldest value comes back
}
void PtyStation::Export(const std::string& variable) {
    FEnv.push_back(std::make_unique<ScopedEnv>(variable, Path()));
}

PtyPair::PtyPair() : FPty(std::make_unique<station::Pty>()) {}
PtyPair::~PtyPair() {
    while (!FEnv.empty()) FEnv.pop_back();
}
int PtyPair::Master() const { return FPty->Master(); }
const std::string& PtyPair::SlavePath() const { return FPty->SlavePath(); }
void PtyPair::Export(const std::string& variable) {
    FEnv.push_back(std::make_unique<ScopedEnv>(variable, SlavePath()));
}
void PtyPair::CloseMaster() { FPty->CloseMaster(); }

void PtyPair::WriteMaster(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = write(Master(), bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p{Master(), POLLOUT, 0};
            poll(&p, 1, 1000);
        } else if (!(w < 0 && errno == EINTR)) {
            ADD_FAILURE() << "write to pty master: " << std::strerror(errno);
            return;
        }
    }
}

Bytes PtyPair::ReadMaster(std::size_t n, std::chrono::milliseconds timeout) {
    return ReadFd(Master(), n, timeout);
}

Bytes ReadFd(int fd, std::size_t n, std::chrono::milliseconds timeout) {
    Bytes out;
    std::uint8_t buf[512];
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(timeout.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        const ssize_t got = read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) break;
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

Bytes ReadFrame(int fd, std::chrono::milliseconds timeout) {
    Bytes f = ReadFd(fd, 1, timeout);
    if (f.empty()) return f;
    auto more = [&](std::size_t n) {
        const Bytes b = ReadFd(fd, n, timeout);
        f.insert(f.end(), b.begin(), b.end());
        return b.size() == n;
    };
    if (f[0] == 0x10) {
        more(5);
    } else if (f[0] == 0x68 && more(3)) {
        more(std::size_t{f[1]} + 2);
    }
    return f;
}

RawPort::RawPort(const std::string& path) {
    FFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) {
        ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
        return;
    }
    termios t{};
    tcgetattr(FFd, &t);
    cfmakeraw(&t);
    tcsetattr(FFd, TCSANOW, &t);
}

RawPort::~RawPort() {
    if (FFd >= 0) close(FFd);
}

void RawPort::Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (FFd >= 0 && done < bytes.size()) {
        const ssize_t w = write(FFd, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p{FFd, POLLOUT, 0};
            poll(&p, 1, 1000);
        } else if (!(w < 0 && errno == EINTR)) {
            ADD_FAILURE() << "write to port: " << std::strerror(errno);
            return;
        }
    }
}

void RawPort::Write(const std::string& bytes) { Write(Bytes(bytes.begin(), bytes.end())); }

Bytes RawPort::Read(std::size_t n, std::chrono::milliseconds timeout) {
    if (FFd < 0) return {};
    return ReadFd(FFd, n, timeout);
}

Bytes RawPort::ReadAll(std::chrono::milliseconds quiet) { return Read(SIZE_MAX, quiet); }

namespace {
Bytes Sd2(std::uint8_t da, std::uint8_t sa, std::uint8_t fc, const std::string& data) {
    const auto le = static_cast<std::uint8_t>(data.size() + 3);
    Bytes f;
    f.reserve(data.size() + 9);
    for (std::uint8_t b : {std::uint8_t{0x68}, le, le, std::uint8_t{0x68}, da, sa, fc}) f.push_back(b);
    for (char c : data) f.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (std::size_t i = 4; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x16);
    return f;
}
}  // namespace

Bytes Request(const std::string& command, std::uint8_t da, std::uint8_t sa) {
    return Sd2(da, sa, 0x47, "\xF5" + command);
}

Bytes Reply(const std::string& text, std::uint8_t da, std::uint8_t sa) {
    return Sd2(da, sa, 0x07, "\xF5" + text);
}

std::string Hex(const Bytes& bytes) {
    std::string s;
    char b[4];
    for (auto v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

}  // namespace zv::test
