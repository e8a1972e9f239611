// zavlo384-cli: the batch front end for production lines. It takes the window's
// command line (link options and script lines), opens the port once, runs the queued
// lines one after another like the window's status pump and writes every report line
// to stdout. No window, no timer: it sleeps on the report queue.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/LinkSettings.h"
#include "common/Cp1250.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"
#include "link/Tsigs.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitDone = 0;         // every job ended "=== Dokončeno: "
constexpr int kExitInterrupted = 1;  // a job ended "=== Přerušeno: ", or a stop
constexpr int kExitNoPort = 2;       // the port could not be opened at start

const char kUsage[] =
    "Použití: zavlo384-cli [volby] [řádky skriptu...]\n"
    "\n"
    "Volby (velikost písmen nehraje roli; pozdější přepíše dřívější):\n"
    "  b2400 b4800 b7200 b9600 b14400 b19200 b28800 b38400 b56700 (= 57600)\n"
    "  b76800 b96000 b128000 b192000 b384000\n"
    "                rychlost linky, výchozí b38400\n"
    "  COM1 .. COM9  port, výchozí COM1; i4 a p3f8 = COM1, i3 a p2f8 = COM2\n"
    "  m0 m1 m2      parita none, odd, even; výchozí m0\n"
    "  D<text>       adresa stanice, výchozí 127 ($7F nebo 0x7F šestnáctkově)\n"
    "  S<text>       vlastní (zdrojová) adresa, výchozí 100\n"
    "\n"
    "Každý jiný argument, a každý, který obsahuje tečku, je řádek skriptu, např.\n"
    "I000000 nebo #init.cmd nebo program.s24 jako #program.s24. Řádky běží jeden po\n"
    "druhém; po chybě se zbytek zahodí. Hlášení jdou na standardní výstup.\n"
    "\n"
    "Port COMn otevírá zařízení z proměnné ZAVLO384_COMn, jinak /dev/ttyS<n-1>.\n"
    "\n"
    "Návratový kód: 0 vše dokončeno, 1 úloha přerušena (chyba nebo SIGINT/SIGTERM),\n"
    "2 port nelze otevřít.\n";

// The window's error display: a "." is appended when the message does not already end
// in "." or a character with a lower code.
void ShowError(const std::string& cp1250) {
    std::string text = cp1250;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    text = zv::Cp1250ToUtf8(text) + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : FFd(fd) {}
    ~FileDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return FFd; }

private:
    int FFd;
};

// Why the device behind a port that would not open is unusable, as one line of UTF-8,
// or empty when a look at the device finds nothing wrong (the failure was then in the
// line settings, and link's message says so).
std::string PortProblem(const std::string& device) {
    auto say = [](const std::string& cp1250) { return zv::Cp1250ToUtf8(cp1250); };
    auto system = [&](int error) { return device + ": " + std::strerror(error); };

    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return say(zv::msg::ZarizeniNeexistuje(device));
        if (error == EACCES) return say(zv::msg::ZarizeniBezPristupu(device));
        return system(error);
    }
    FileDescriptor fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        switch (error) {
            case EACCES:
            case EPERM: return say(zv::msg::ZarizeniBezPristupu(device));
            case EBUSY: return say(zv::msg::ZarizeniObsazeno(device));  // TIOCEXCL held
            case ENOENT:
            case ENODEV:
            case ENXIO:
            case EIO: return say(zv::msg::ZarizeniNeexistuje(device));  // node without hardware
            default: return system(error);
        }
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return say(zv::msg::ZarizeniObsazeno(device));
    if (!::isatty(fd.get())) return say(zv::msg::ZarizeniNeniPort(device));
    return {};
}

// SIGINT and SIGTERM are blocked in every thread and taken from a signalfd by a watcher
// thread, so nothing runs in signal context. The first asks the running job to stop;
// a second ends the program at once.
sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

class StopSignals {
public:
    // Call before any thread starts, so that every thread inherits the blocked mask.
    static void Block() {
        const sigset_t set = StopSignalSet();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }

    explicit StopSignals(std::function<void()> onStop) : FOnStop(std::move(onStop)) {
        const sigset_t set = StopSignalSet();
        FSignals = ::signalfd(-1, &set, SFD_CLOEXEC);
        FQuit = ::eventfd(0, EFD_CLOEXEC);
        if (FSignals < 0 || FQuit < 0) {
            Release();
            throw zv::Error(std::string("signalfd: ") + std::strerror(errno));
        }
        FThread = std::thread([this] { Watch(); });
    }
    ~StopSignals() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(FQuit, &one, sizeof one);
        FThread.join();
        Release();
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Requested() const { return FRequested.load(); }

private:
    void Watch() {
        pollfd fds[2] = {{FSignals, POLLIN, 0}, {FQuit, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            signalfd_siginfo info{};
            if (::read(FSignals, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            if (FRequested.exchange(true)) std::_Exit(128 + static_cast<int>(info.ssi_signo));
            FOnStop();
        }
    }
    void Release() {
        if (FSignals >= 0) ::close(FSignals);
        if (FQuit >= 0) ::close(FQuit);
        FSignals = FQuit = -1;
    }

    std::function<void()> FOnStop;
    std::atomic<bool> FRequested{false};
    int FSignals = -1;
    int FQuit = -1;
    std::thread FThread;
};

// The one-line progress display on a terminal's stderr: lines done of the job's total
// and, when the download reports acknowledged bytes, their rate. Off when stderr is no
// terminal, so that logs and pipes get only the report lines.
class Progress {
public:
    static constexpr auto kRedraw = std::chrono::milliseconds(100);

    // Hook for the download: the data bytes the station has acknowledged so far, or
    // nothing while no such count exists. The rate shown is taken over the running job.
    std::function<std::optional<std::uint64_t>()> AcknowledgedBytes;

    Progress() : FOn(::isatty(STDERR_FILENO) == 1) {}
    bool On() const { return FOn; }

    void JobStarted() {
        FJobStart = Clock::now();
        FBytesAtStart = AcknowledgedBytes ? AcknowledgedBytes() : std::nullopt;
    }

    // Redraws when the last drawing is old enough; a change in between waits for the
    // next call.
    void Update(std::int32_t done, std::int32_t total) {
        if (!FOn) return;
        const auto now = Clock::now();
        if (FShown && now - FLastDraw < kRedraw) return;
        std::string text = "[" + std::to_string(done) + "/" + std::to_string(total) + "]";
        if (AcknowledgedBytes) {
            const auto bytes = AcknowledgedBytes();
            const double seconds = std::chrono::duration<double>(now - FJobStart).count();
            // Shown once the job's download has had a block acknowledged.
            if (bytes && seconds > 0 && *bytes > FBytesAtStart.value_or(0)) {
                const auto sent = *bytes - FBytesAtStart.value_or(0);
                text += " " + std::to_string(static_cast<std::uint64_t>(sent / seconds)) + " B/s";
            }
        }
        text = "\r\033[K" + text;
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
        FShown = true;
        FLastDraw = now;
    }

    void Erase() {
        if (!FShown) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        FShown = false;
    }

private:
    bool FOn;
    bool FShown = false;
    Clock::time_point FLastDraw{};
    Clock::time_point FJobStart{};
    std::optional<std::uint64_t> FBytesAtStart;
};

void PrintReport(std::string&& cp1250, Progress& progress) {
    progress.Erase();
    std::string text = zv::Cp1250ToUtf8(cp1250);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// The status pump without a window: one queued line per job, the next one only after
// the job has ended, and the rest dropped after a job that failed.
int RunQueue(TPrikaz& worker, TPendingLines& pending, const StopSignals& signals, Progress& progress) {
    while (!pending.empty()) {
        if (signals.Requested()) return kExitInterrupted;
        worker.StartLine(pending.front());
        pending.pop_front();
        // StartLine clears FStop: a stop that came just before must be given again.
        if (signals.Requested()) worker.FStop = true;
        progress.JobStarted();
        for (;;) {
            // FBusy is cleared after the job's last line is queued, so a drain after
            // seeing it false takes everything the job reported.
            const bool busy = worker.FBusy.load();
            worker.FReports.Drain([&](std::string&& line) { PrintReport(std::move(line), progress); });
            if (!busy) break;
            progress.Update(worker.FLinesDone.load(), worker.FLinesTotal.load());
            // Reports and the job's end wake us; only a progress line on a terminal
            // also needs a wake-up now and then to follow the line count.
            worker.FReports.WaitForActivity(progress.On() ? 100 : -1);
        }
        progress.Erase();
        if (!worker.FError.empty()) {
            pending.clear();
            return kExitInterrupted;
        }
    }
    return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
        args.push_back(zv::Utf8ToCp1250(arg));
    }

    try {
        StopSignals::Block();
        LinkSettings settings(Sio);
        TPrikaz worker(Sio, settings);
        StopSignals signals([&worker] {
            worker.FStop = true;
            worker.FReports.Notify();
        });
        Progress progress;
        progress.AcknowledgedBytes = [&worker]() -> std::optional<std::uint64_t> {
            return worker.FBytesAcknowledged.load(std::memory_order_relaxed);
        };

        TPendingLines pending;
        try {
            settings.ProcessArguments(args, pending);
        } catch (const zv::Error& e) {
            ShowError(e.what());
            const auto v = settings.Get();
            if (v.port >= 0) {
                const std::string reason = PortProblem(DeviceForPort(std::string(LinkSettings::kPorts[v.port])));
                if (!reason.empty()) {
                    std::fputs((reason + '\n').c_str(), stderr);
                }
            }
            return kExitNoPort;
        }
        return RunQueue(worker, pending, signals, progress);
    } catch (const std::exception& e) {
        ShowError(e.what());
        return kExitNoPort;
    }
}
