// The worker: its thread, the report queue, job start and the job body with its closing lines.
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <string>
#include <utility>

#include "common/Clock.h"
#include "common/Cp1250.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"

namespace {

bool IsAscii(const std::string& text) {
    for (const unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

bool IsUtf8Codeset(std::string codeset) {
    std::string plain;
    for (const char c : codeset)
        if (c != '-' && c != '_') plain += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return plain == "UTF8";
}

// strftime writes in the locale's charset; the report lines are CP1250.
std::string LocaleTextToCp1250(const std::string& text) {
    if (IsAscii(text)) return text;
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || IsUtf8Codeset(codeset)) return zv::Utf8ToCp1250(text);

    iconv_t cd = iconv_open("CP1250", codeset);
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string out(text.size() * 4 + 4, '\0');
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        char* dst = out.data();
        std::size_t outLeft = out.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
        iconv_close(cd);
        if (rc != static_cast<std::size_t>(-1) && inLeft == 0) {
            out.resize(out.size() - outLeft);
            return out;
        }
    }
    // A charset we cannot convert: keep the ASCII and mark the rest.
    std::string out;
    for (const unsigned char c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string DateAndTime() {
    const std::tm now = zv::LocalNow();
    return LocaleTextToCp1250(zv::ShortDate(now)) + " " + LocaleTextToCp1250(zv::LongTime(now));
}

}  // namespace

// ---- TReportList ----

void TReportList::Add(std::string line) {
    {
        std::lock_guard lock(FMutex);
        FLines.push_back(std::move(line));
        FUnwoken = false;
    }
    FCond.notify_all();
}

void TReportList::AddQuietly(std::string line) {
    std::lock_guard lock(FMutex);
    FLines.push_back(std::move(line));
    FUnwoken = true;
}

void TReportList::WakeReader() {
    {
        std::lock_guard lock(FMutex);
        if (!FUnwoken) return;
        FUnwoken = false;
    }
    FCond.notify_all();
}

void TReportList::Drain(const std::function<void(std::string&&)>& take) {
    std::lock_guard lock(FMutex);
    while (!FLines.empty()) {
        std::string line = std::move(FLines.front());
        FLines.pop_front();
        take(std::move(line));
    }
}

std::size_t TReportList::Count() const {
    std::lock_guard lock(FMutex);
    return FLines.size();
}

void TReportList::Notify() {
    {
        std::lock_guard lock(FMutex);
        ++FNotifications;
        FUnwoken = false;
    }
    FCond.notify_all();
}

// A notification stays pending until a wait consumes it, so one given between the
// waiter's last look at the worker and its next wait is not lost.
void TReportList::WaitForActivity(int timeoutMs) {
    std::unique_lock lock(FMutex);
    const auto ready = [this] { return !FLines.empty() || FNotifications != 0; };
    if (timeoutMs < 0)
        FCond.wait(lock, ready);
    else
        FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    FNotifications = 0;
}

// ---- TPrikaz: life and jobs ----

TPrikaz::TPrikaz(Tsiocom& port, TLinkAccess& link) : FPort(port), FLink(link) {
    FBlockBase = 0;
    SendBlock();  // with no pending block: the empty block state, nothing sent
    FThread = std::thread([this] { Execute(); });
}

TPrikaz::~TPrikaz() {
    FStop = true;  // a job under way ends at its next attempt or line
    FTerminated = true;
    FStartEvent.Set();
    if (FThread.joinable()) FThread.join();
    FReports.Notify();
}

void TPrikaz::StartLine(const std::string& line) {
    FBusy = true;
    FFileJob = false;
    FFile.clear();
    FLine = line;
    FStop = false;
    FLinesTotal = 0;
    FLinesDone = 0;
    FStartEvent.Set();
}

void TPrikaz::StartFile(const std::string& file) {
    FBusy = true;
    FFileJob = true;
    FLine.clear();
    FFile = file;
    FStop = false;
    FLinesTotal = 0;
    FLinesDone = 0;
    FStartEvent.Set();
}

void TPrikaz::Report(std::string text) { FReports.Add(std::move(text)); }
void TPrikaz::ReportQuietly(std::string text) { FReports.AddQuietly(std::move(text)); }

void TPrikaz::Execute() {
    while (!FTerminated) {
        try {
            FStartEvent.WaitFor(-1);
        } catch (const std::exception&) {
            // Without its start event the worker can never be handed a job; end the
            // thread rather than spin on a wait that fails at once.
            break;
        }
        if (FTerminated) break;

        FError.clear();
        FLinesDone = 0;
        try {
            if (!FLine.empty()) {
                ExecuteLine(FLine);
                if (FResponse.find_first_of("!?") != std::string::npos)
                    throw zv::Error(zv::msg::NegativniOdpoved);
            }
            // A file job runs its file even when the name is empty, so that "#" alone in the
            // console fails on the missing file instead of ending as done.
            if (FFileJob) ExecuteFile(FFile);
            // A download's last block is still pending: send it before the job counts as done.
            if (FError.empty()) FlushBlock();
        } catch (const std::exception& e) {
            FError = std::string(e.what()) + " " + FError;
        }
        if (!FError.empty()) {
            try {
                DropBlock();
            } catch (const std::exception& e) {
                FError = std::string(e.what()) + " " + FError;
            }
        }

        if (FError.empty()) {
            if (FFileJob)
                Report(zv::msg::Zpracovano + std::to_string(FLinesTotal.load()) + zv::msg::Radek);
            Report(zv::msg::Dokonceno + DateAndTime() + zv::msg::KonecUlohy);
        } else {
            Report(FError);
            Report(zv::msg::Preruseno + DateAndTime() + zv::msg::KonecUlohy);
        }
        FBusy.store(false, std::memory_order_release);
        FReports.Notify();
    }
    FReports.Notify();
}
