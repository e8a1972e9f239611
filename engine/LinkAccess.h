#pragma once
// What the worker reads of the link settings and asks of them. The front ends' model
// (app/LinkSettings) implements it; the engine never sees a window.
#include <cstdint>

class TLinkAccess {
public:
    // Read at each telegram, by the text-to-integer rule with the exchange's fallbacks.
    virtual std::int32_t StationAddress() const = 0;  // fallback 127
    virtual std::int32_t SourceAddress() const = 0;   // fallback 100
    virtual std::int32_t ReplyTimeout() const = 0;    // fallback 260

    // "@speed": the selected speed item (-1: none), selecting one, and applying the
    // settings to the port. The last two run on the front end's thread and return when
    // done; ApplySettings raises the port's error.
    virtual int SpeedIndex() const = 0;
    virtual void SelectSpeed(int index) = 0;
    virtual void ApplySettings() = 0;

protected:
    ~TLinkAccess() = default;
};
