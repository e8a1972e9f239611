#include "station/Station.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

#include "common/Error.h"
#include "station/Frame.h"
#include "station/Monitor.h"
#include "station/Pty.h"

namespace zv {

using Clock = std::chrono::steady_clock;

std::string Station::Request::Command() const {
    if (!data.empty() && static_cast<std::uint8_t>(data[0]) == 0xF5) return data.substr(1);
    return data;
}

struct Station::Impl {
    explicit Impl(const Config& c) : config(c) {
        state.address = c.address;
        state.memory.assign(kMemorySize, 0xFF);
        speed = c.speed;
        pace = c.pace;
        parity = c.parity;
        wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake < 0) throw Error(std::string("eventfd: ") + std::strerror(errno));
    }
    ~Impl() {
        if (wake >= 0) close(wake);
    }

    void Run();
    void Serve(const station::Sd2Frame& f, Clock::time_point arrived);
    // `ready`: when the request's last byte crossed the paced line (epoch: not paced).
    void Reply(const station::Sd2Frame& req, const std::string& text, Clock::time_point ready);
    bool WaitUntil(Clock::time_point t);
    bool WriteAll(const std::uint8_t* p, std::size_t n);
    Clock::duration CharTime();
    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto r = write(wake, &one, sizeof one);
    }
    void CountSkipped() {
        const std::uint64_t now = reader.Skipped();
        std::lock_guard lk(m);
        counters.skippedBytes += now - skippedSeen;
        skippedSeen = now;
    }
    bool Interrupted() const { return stopping.load() || vanishing.load(); }

    Config config;
    station::Pty pty;
    int wake = -1;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> vanishing{false};

    mutable std::mutex m;
    mutable std::condition_variable cv;
    station::MonitorState state;
    Faults faults;
    bool pace = false;
    bool parity = false;
    std::int32_t speed = 38400;
    std::vector<Request> log;
    Counters counters;
    bool vanished = false;
    bool ended = false;

    // Used by the station thread only.
    station::FrameReader reader;
    std::deque<std::pair<std::uint64_t, Clock::time_point>> chunks;  // stream position, arrival
    std::uint64_t received = 0;
    std::uint64_t skippedSeen = 0;
    std::size_t logged = 0;  // the log's size after the request being served was added
    Clock::time_point rxFree{};
};

Clock::duration Station::Impl::CharTime() {
    std::int32_t baud;
    bool parity;
    {
        std::lock_guard lk(m);
        baud = speed;
        parity = this->parity;
    }
    if (baud <= 0) baud = 38400;
    return std::chrono::nanoseconds((parity ? 11 : 10) * 1'000'000'000LL / baud);
}

bool Station::Impl::WaitUntil(Clock::time_point t) {
    for (;;) {
        if (Interrupted()) return false;
        const auto now = Clock::now();
        if (now >= t) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t - now).count();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd p{wake, POLLIN, 0};
        ppoll(&p, 1, &ts, nullptr);
    }
}

bool Station::Impl::WriteAll(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(pty.Master(), p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return false;
        // The host is not reading: wait for room, or for a stop.
        pollfd fds[2] = {{pty.Master(), POLLOUT, 0}, {wake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (Interrupted()) return false;
    }
    return true;
}

void Station::Impl::Run() {
    // Pacing sleeps to the microsecond; the default slack of 50 us a sleep would stretch
    // every paced exchange by a few percent at the highest speeds.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::uint8_t buf[4096];
    for (;;) {
        pollfd fds[2] = {{wake, POLLIN, 0}, {pty.Master(), POLLIN, 0}};
        const nfds_t n = pty.Master() >= 0 ? 2 : 1;
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t v;
            [[maybe_unused]] auto r = read(wake, &v, sizeof v);
        }
        if (stopping) break;
        if (vanishing) {
            pty.CloseMaster();
            std::lock_guard lk(m);
            vanished = true;
            cv.notify_all();
            continue;
        }
        if (n < 2 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t r = read(pty.Master(), buf, sizeof buf);
        if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (r <= 0) {
            // Not expected while the station holds the slave open; stop reading the line.
            pty.CloseMaster();
            continue;
        }
        const auto now = Clock::now();
        chunks.emplace_back(received, now);
        received += static_cast<std::uint64_t>(r);
        reader.Push(buf, static_cast<std::size_t>(r));
        while (auto f = reader.Next()) {
            CountSkipped();
            auto arrived = now;
            for (const auto& [pos, t] : chunks)
                if (pos <= f->start) arrived = t;
            Serve(*f, arrived);
            if (Interrupted()) break;
        }
        CountSkipped();
        const std::uint64_t base = received - reader.Pending();
        while (chunks.size() > 1 && chunks[1].first <= base) chunks.pop_front();
    }
    std::lock_guard lk(m);
    ended = true;
    cv.notify_all();
}

void Station::Impl::Serve(const station::Sd2Frame& f, Clock::time_point arrived) {
    bool paced;
    {
        std::lock_guard lk(m);
        paced = pace;
        if (f.da != state.address) {
            ++counters.otherAddress;
            return;
        }
    }
    Clock::time_point ready{};
    if (paced) {
        // The request is complete only when its last byte would have crossed the line.
        const auto start = std::max(arrived, rxFree);
        rxFree = start + CharTime() * static_cast<long>(f.length);
        if (!WaitUntil(rxFree)) return;
        ready = rxFree;
    }
    std::optional<std::string> reply;
    {
        std::lock_guard lk(m);
        const bool command = f.fc == 0x47 && !f.data.empty() &&
                             static_cast<std::uint8_t>(f.data[0]) == 0xF5;
        if (command) {
            reply = station::Execute(state, f.data.substr(1));
            if (state.newSpeed) {
                speed = *state.newSpeed;
                state.newSpeed.reset();
            }
        } else {
            ++counters.notCommand;
        }
        ++counters.requests;
        counters.requestBytes += f.length;
        log.push_back(Request{f.da, f.sa, f.fc, f.data, arrived, {}});
        logged = log.size();
        cv.notify_all();
    }
    if (reply) Reply(f, *reply, ready);
}

void Station::Impl::Reply(const station::Sd2Frame& req, const std::string& text, Clock::time_point ready) {
    Faults fl;
    bool paced;
    {
        std::lock_guard lk(m);
        if (faults.dropNext > 0) {
            --faults.dropNext;
            return;
        }
        if (faults.dropAll) return;
        fl = faults;
        paced = pace;
    }
    const std::uint8_t da = fl.wrongDa ? static_cast<std::uint8_t>(req.sa + 1) : req.sa;
    const std::uint8_t fc = fl.wrongFc ? 0x08 : 0x07;
    std::vector<std::uint8_t> frame;
    if (fl.form == Faults::Form::Sc) {
        frame = {station::kSc};
    } else if (fl.form == Faults::Form::Sd1) {
        frame = station::BuildSd1(da, config.address, fc);
    } else {
        std::string data(1, static_cast<char>(fl.wrongF5 ? 0xF4 : 0xF5));
        data += fl.replyText.value_or(text);
        if (data.size() > 252) data.resize(252);
        frame = station::BuildSd2(da, config.address, fc, data);
        if (fl.leMismatch) frame[2] = static_cast<std::uint8_t>(frame[2] + 1);
    }
    if (fl.badFcs && frame.size() >= 2) frame[frame.size() - 2] = static_cast<std::uint8_t>(frame[frame.size() - 2] + 1);
    if (fl.noEndByte && frame.size() >= 2) frame.back() = 0x00;
    frame.resize(frame.size() - std::min(fl.cutShort, frame.size()));
    std::vector<std::uint8_t> out(fl.garbageFirst.begin(), fl.garbageFirst.end());
    out.insert(out.end(), frame.begin(), frame.end());

    if (fl.delayMs > 0 && !WaitUntil(Clock::now() + std::chrono::milliseconds(fl.delayMs))) return;

    std::size_t piece = fl.splitWrites > 0 ? fl.splitWrites : (paced ? 16 : out.size());
    const auto ct = paced ? CharTime() : Clock::duration{};
    // The reply follows the request on the line without a gap: its bytes are due from the
    // moment the request ended, so a late wake-up of this thread is made up and does not
    // stretch the line. A reply delayed on purpose starts when the delay is over.
    const auto start = paced && fl.delayMs <= 0 && ready != Clock::time_point{} ? ready : Clock::now();
    for (std::size_t done = 0; done < out.size();) {
        const std::size_t len = std::min(piece, out.size() - done);
        if (paced && !WaitUntil(start + ct * static_cast<long>(done + len))) return;
        if (!WriteAll(out.data() + done, len)) return;
        done += len;
    }
    const auto written = Clock::now();
    std::lock_guard lk(m);
    ++counters.replies;
    counters.replyBytes += out.size();
    if (logged != 0 && logged <= log.size()) log[logged - 1].replied = written;
    cv.notify_all();
}

Station::Station() : Station(Config{}) {}

Station::Station(Config config) : d(std::make_unique<Impl>(config)) {
    d->thread = std::thread([this] { d->Run(); });
}

Station::~Station() { Stop(); }

void Station::Stop() {
    if (!d->thread.joinable()) return;
    d->stopping = true;
    d->Wake();
    d->thread.join();
}

const std::string& Station::SlavePath() const { return d->pty.SlavePath(); }
std::uint8_t Station::Address() const { return d->config.address; }

void Station::SetFaults(const Faults& faults) {
    std::lock_guard lk(d->m);
    d->faults = faults;
}
Station::Faults Station::GetFaults() const {
    std::lock_guard lk(d->m);
    return d->faults;
}

void Station::SetPacing(bool on) {
    std::lock_guard lk(d->m);
    d->pace = on;
}
bool Station::Pacing() const {
    std::lock_guard lk(d->m);
    return d->pace;
}
void Station::SetSpeed(std::int32_t baud) {
    std::lock_guard lk(d->m);
    d->speed = baud;
}
void Station::SetParity(bool on) {
    std::lock_guard lk(d->m);
    d->parity = on;
}
std::int32_t Station::Speed() const {
    std::lock_guard lk(d->m);
    return d->speed;
}

std::vector<Station::Request> Station::Requests() const {
    std::lock_guard lk(d->m);
    return d->log;
}
Station::Counters Station::GetCounters() const {
    std::lock_guard lk(d->m);
    return d->counters;
}
void Station::ClearLog() {
    std::lock_guard lk(d->m);
    d->log.clear();
    d->counters = Counters{};
}
bool Station::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lk(d->m);
    return d->cv.wait_for(lk, timeout, [&] { return d->log.size() >= n; });
}

bool Station::WaitForReplies(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lk(d->m);
    return d->cv.wait_for(lk, timeout, [&] { return d->counters.replies >= n; });
}

bool Station::WaitForHostInput(std::size_t bytes, std::chrono::milliseconds timeout) const {
    // The station's own slave descriptor shares the host's input queue; it is only
    // looked at here, never read. The kernel signals no change of the queue's level once
    // it holds something, so the level is looked at again every millisecond.
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int waiting = 0;
        if (::ioctl(d->pty.Slave(), FIONREAD, &waiting) == 0 && static_cast<std::size_t>(waiting) >= bytes)
            return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        ::poll(nullptr, 0, 1);
    }
}

std::vector<std::uint8_t> Station::ReadMemory(std::uint32_t address, std::size_t n) const {
    std::lock_guard lk(d->m);
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = d->state.memory[(address + i) % kMemorySize];
    return out;
}
void Station::WriteMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lk(d->m);
    for (std::size_t i = 0; i < bytes.size(); ++i) d->state.memory[(address + i) % kMemorySize] = bytes[i];
}
std::vector<std::uint8_t> Station::MemoryImage() const {
    std::lock_guard lk(d->m);
    return d->state.memory;
}
void Station::FillMemory(std::uint8_t value) {
    std::lock_guard lk(d->m);
    std::fill(d->state.memory.begin(), d->state.memory.end(), value);
}

void Station::LoadMemory(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Cannot open file " + path);
    std::vector<std::uint8_t> image(kMemorySize, 0xFF);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (in.bad()) throw Error("Cannot read file " + path);
    std::lock_guard lk(d->m);
    d->state.memory = std::move(image);
}
void Station::SaveMemory(const std::string& path) const {
    const auto image = MemoryImage();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw Error("Cannot create file " + path);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) throw Error("Cannot write file " + path);
}

std::string Station::ClockText() const {
    std::lock_guard lk(d->m);
    return d->state.clock;
}
std::optional<std::array<std::uint8_t, 8>> Station::SerialNumber() const {
    std::lock_guard lk(d->m);
    return d->state.serial;
}

void Station::Vanish() {
    d->vanishing = true;
    d->Wake();
    std::unique_lock lk(d->m);
    d->cv.wait(lk, [&] { return d->vanished || d->ended; });
}
bool Station::Vanished() const {
    std::lock_guard lk(d->m);
    return d->vanished;
}

}  // namespace zv
