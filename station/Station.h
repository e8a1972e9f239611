#pragma once
// The simulated controller station: the controller's monitor on the master side of a
// pseudo-terminal, served by a thread of its own. The host opens SlavePath().
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv {

class Station {
public:
    struct Config {
        std::uint8_t address = 127;   // the station address it answers to
        bool pace = false;            // pace both directions at the line speed
        std::int32_t speed = 38400;   // the pacing speed until a speed command changes it
        bool parity = false;          // pace at 11 bits a byte instead of 10 (a pty keeps
                                      // no parity setting, so the station cannot see it)
    };

    // Misbehaviour for tests. Each field applies to every reply while it is set, except
    // dropNext, which counts down. Requests that get no reply stay silent in any case.
    struct Faults {
        enum class Form { Sd2, Sc, Sd1 };
        bool dropAll = false;          // never reply
        int dropNext = 0;              // do not reply to the next N requests
        int delayMs = 0;               // reply this late
        Form form = Form::Sd2;         // reply with 0xE5, or an SD1 frame (DA SA FC 0x07)
        bool badFcs = false;           // FCS + 1
        bool wrongDa = false;          // DA = request's SA + 1
        bool wrongFc = false;          // FC 0x08 instead of 0x07
        bool wrongF5 = false;          // 0xF4 instead of 0xF5 before the text
        bool leMismatch = false;       // LEr = LE + 1
        bool noEndByte = false;        // end byte 0x00 instead of 0x16
        std::size_t cutShort = 0;      // leave this many bytes off the end of the frame
        std::string garbageFirst;      // bytes written just before the reply
        std::size_t splitWrites = 0;   // write the reply this many bytes at a time
        std::optional<std::string> replyText;  // this text instead of the command's reply
    };

    // One request addressed to this station, as it came off the wire.
    struct Request {
        std::uint8_t da = 0;
        std::uint8_t sa = 0;
        std::uint8_t fc = 0;
        std::string data;   // everything after FC: 0xF5 and the command bytes
        // When the frame's first byte was read off the line, and when the last byte of the
        // reply to it was written (left at the epoch when no reply went out).
        std::chrono::steady_clock::time_point arrived{};
        std::chrono::steady_clock::time_point replied{};
        // The command bytes (data after 0xF5), or all of data when it has no 0xF5.
        std::string Command() const;
    };

    struct Counters {
        std::uint64_t requests = 0;       // valid SD2 frames addressed to this station
        std::uint64_t otherAddress = 0;   // valid SD2 frames for another address (ignored)
        std::uint64_t notCommand = 0;     // for this station, but FC not 0x47 or no 0xF5
        std::uint64_t skippedBytes = 0;   // bytes that belonged to no valid frame
        std::uint64_t replies = 0;        // replies written
        std::uint64_t requestBytes = 0;   // whole frames of the requests counted above
        std::uint64_t replyBytes = 0;     // bytes of the replies written
    };

    static constexpr std::size_t kMemorySize = 0x1000000;  // 16 MiB, 24-bit addresses

    // Creates the pseudo-terminal and starts serving; raises zv::Error when it cannot.
    explicit Station(Config config);
    Station();
    ~Station();  // stops and joins the thread
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const std::string& SlavePath() const;
    std::uint8_t Address() const;

    void SetFaults(const Faults& faults);
    Faults GetFaults() const;
    void ClearFaults() { SetFaults(Faults{}); }

    void SetPacing(bool on);
    bool Pacing() const;
    void SetSpeed(std::int32_t baud);
    std::int32_t Speed() const;
    void SetParity(bool on);

    std::vector<Request> Requests() const;
    Counters GetCounters() const;
    void ClearLog();   // requests and counters
    // Waits until at least n requests have been logged since the last ClearLog.
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until at least n replies have been written whole since the last ClearLog.
    bool WaitForReplies(std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until at least `bytes` bytes wait in the host's input queue. A reply written
    // to the master reaches the host's side a little later, through the kernel's tty
    // worker; a test that must know its late replies have landed (before the host
    // empties its queue) waits for them here.
    bool WaitForHostInput(std::size_t bytes, std::chrono::milliseconds timeout) const;

    std::vector<std::uint8_t> ReadMemory(std::uint32_t address, std::size_t n) const;
    void WriteMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> MemoryImage() const;
    void FillMemory(std::uint8_t value);
    // A binary image of up to 16 MiB from address 0; raises zv::Error on failure.
    void LoadMemory(const std::string& path);
    void SaveMemory(const std::string& path) const;

    std::string ClockText() const;   // the last clock command, "" before any
    std::optional<std::array<std::uint8_t, 8>> SerialNumber() const;  // the last one written

    // Closes the master from the station's side, as when the adapter is pulled.
    void Vanish();
    bool Vanished() const;

    // Stops serving; idempotent, also done by the destructor.
    void Stop();

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

}  // namespace zv
