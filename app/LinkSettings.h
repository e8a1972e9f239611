#pragma once
// The seven link settings shared by the window and the batch front end: their item
// lists and start values, the command-line options, and COMportChange, which applies
// them to the port. No Qt here.
#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/LinkAccess.h"

class Tsiocom;

// Script lines waiting to be started, in insertion order.
using TPendingLines = std::deque<std::string>;

class LinkSettings final : public TLinkAccess {
public:
    static const std::array<std::string_view, 9> kPorts;    // "COM1".."COM9"
    static const std::array<std::string_view, 14> kSpeeds;  // "2400".."384000"
    static const std::array<std::string_view, 3> kParities; // "none", "odd", "even"
    static constexpr int kStartPort = 0, kStartSpeed = 7, kStartParity = 0;

    explicit LinkSettings(Tsiocom& port);

    // Snapshot of all seven values, taken under the model's lock.
    struct Values {
        int port = -1;      // item index, -1: no selection
        int speed = -1;
        int parity = -1;
        std::string timeout = "290";
        bool rts = false;
        std::string station = "127";
        std::string source = "100";
    };
    Values Get() const;

    // Setters change the value only; the caller decides whether COMportChange runs
    // (a user's change does, a selection by the program does not).
    void SetPort(int index);
    void SetSpeed(int index);
    void SetParity(int index);
    void SetTimeout(std::string text);
    void SetRts(bool on);
    void SetStation(std::string text);
    void SetSource(std::string text);

    // Applies the settings: Close, then Open with port, speed (fallback 38400), parity,
    // timeout (fallback 290) and CTS/RTS. Raises Open's error.
    void COMportChange();

    // FormCreate steps 1 to 3: selects the start items, processes the arguments (every
    // one that is no option goes to `pending`), then applies the settings once. An error
    // from Open ends the processing there and is passed on; what was set and queued stays.
    void ProcessArguments(const std::vector<std::string>& args, TPendingLines& pending);

    // The front end's side of "@speed". The window sets both to run on its own thread
    // (blocking) and to show the new selection; by default they run directly.
    // RunOnFrontEnd must return only when the call is done and pass on what it raises
    // (ApplySettings raises Open's error into the worker's job). SpeedSelected is told
    // of a selection made by "@speed"; showing it is no user's change.
    std::function<void(const std::function<void()>&)> RunOnFrontEnd;
    std::function<void(int speedIndex)> SpeedSelected;

    // TLinkAccess
    std::int32_t StationAddress() const override;
    std::int32_t SourceAddress() const override;
    std::int32_t ReplyTimeout() const override;
    int SpeedIndex() const override;
    void SelectSpeed(int index) override;
    void ApplySettings() override;

private:
    void OnFrontEnd(const std::function<void()>& call);

    Tsiocom& FPort;
    mutable std::mutex FMutex;
    Values FValues;
};
