#pragma once
// TPrikaz, the worker: its thread runs one job at a time (one script line or one script
// file), talks to the station through the serial port and reports what it does.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/LinkAccess.h"
#include "link/Tsigs.h"

// The report queue from the worker to the front end: lines are never merged, dropped or
// reordered.
class TReportList {
public:
    void Add(std::string line);
    // Queues the line without waking a waiter of WaitForActivity: for lines the worker
    // reports just before a request goes out, so that waking the reader does not hold
    // the request back. WakeReader, Add or Notify wakes it later.
    void AddQuietly(std::string line);
    // Wakes the waiters if lines were queued quietly since the last wake.
    void WakeReader();
    // Holds the lock while `take` is called for every waiting line in order; each line is
    // removed after it was taken, also when `take` raises.
    void Drain(const std::function<void(std::string&&)>& take);
    std::size_t Count() const;
    // Wakes waiters of WaitForActivity (a job ended, or the worker is shutting down).
    void Notify();
    // Returns when lines are waiting, Notify was called, or timeoutMs (-1: no limit) passed.
    // A Notify stays pending until a wait returns, so one given just before the wait counts.
    void WaitForActivity(int timeoutMs);

private:
    mutable std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<std::string> FLines;
    std::uint64_t FNotifications = 0;
    bool FUnwoken = false;
};

class TPrikaz {
public:
    TPrikaz(Tsiocom& port, TLinkAccess& link);
    ~TPrikaz();  // orderly: stop request, termination, FStartEvent, join
    TPrikaz(const TPrikaz&) = delete;
    TPrikaz& operator=(const TPrikaz&) = delete;

    void StartLine(const std::string& line);
    void StartFile(const std::string& file);
    void Report(std::string text);
    // For a line reported on the way to a request: the reader is woken once the request
    // has gone out (or by the next Report or the end of the job).
    void ReportQuietly(std::string text);

    TReportList FReports;
    std::atomic<std::int32_t> FLinesTotal{0};
    std::atomic<std::int32_t> FLinesDone{0};
    std::atomic<bool> FStop{false};
    std::atomic<bool> FBusy{false};
    // Data bytes of download blocks the station has acknowledged, over the worker's life;
    // the front ends show a rate from it.
    std::atomic<std::uint64_t> FBytesAcknowledged{0};
    std::string FLine;
    std::string FFile;
    bool FFileJob = false;  // started by StartFile, even with an empty name
    std::string FError;     // read by the front end only while FBusy is false
    std::string FResponse;  // the last accepted reply text

    // Script language, on the worker thread (public for the tests that drive it directly).
    void ExecuteLine(const std::string& line);
    void ExecuteFile(const std::string& name);
    bool Exchange(const std::uint8_t* data, std::int32_t n);
    void LoadSRecord(const std::string& line);
    void PutByte(std::int32_t address, std::uint8_t byte);
    void SendBlock();
    // Sends the pending block at the end of a download; drops it after a failed job.
    void FlushBlock();
    void DropBlock();

    // Block-download state.
    std::int32_t FBlockBase = 0;
    std::array<std::uint8_t, 16> FBlockMap{};
    std::array<std::uint8_t, 128> FBlockData{};
    bool FNoReply = false;

private:
    void Execute();
    void RunFile(const std::string& name, int depth);
    void BinGet(std::int32_t address, std::int32_t count, const std::string& file);
    void BinPut(std::int32_t address, const std::string& file);
    // The whole "@binget" / "@binput" script line: parse it, then BinGet / BinPut.
    void BinGetLine(const std::string& line);
    void BinPutLine(const std::string& line);
    void Speed(const std::string& line);
    void Srtc();
    void Ssn(const std::string& line);

    Tsiocom& FPort;
    TLinkAccess& FLink;
    TSAutoEvent FStartEvent;
    std::atomic<bool> FTerminated{false};
    int FFileDepth = 0;
    std::thread FThread;  // last: started after every member exists
};
