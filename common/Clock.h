#pragma once
// Local time through one replaceable function, so that closing lines, the clock
// command and the production record can be tested with a fixed time.
#include <ctime>
#include <functional>
#include <string>

namespace zv {

// The current local time, broken down.
std::tm LocalNow();

// Replaces the source of LocalNow(); an empty function restores the system clock.
void SetLocalTimeSource(std::function<std::tm()> source);

// The user's short date and long time ("%x" and "%X" of the current C locale).
std::string ShortDate(const std::tm& t);
std::string LongTime(const std::tm& t);

}  // namespace zv
