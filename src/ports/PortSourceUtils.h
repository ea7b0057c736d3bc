#pragma once
// Free helpers of the port subsystem: clocks, waiting, a suffix test, baud codes,
// the serial/network rule and the table of the host's serial devices.

#include <cstdint>
#include <map>
#include <string>

namespace PortSourceUtils {

// Time is read through the installed Clock (base/Clock.h).
// Local time as "YYYY-MM-DD HH:MM:SS".
std::string now();
// A monotonic count of whole seconds (despite the name): a change of the system
// clock never cuts or stretches a time-out.
uint32_t nowUsecs();
// A time-out of whole seconds in milliseconds. 0 is a bound under one second
// (kSubSecondTimeoutMs): with whole-second time-outs it means "less than a
// second", and it still leaves time for at least one read pass.
inline constexpr int64_t kSubSecondTimeoutMs = 500;
int64_t TimeoutMs(int32_t seconds);
// Sleeps at least `ms` milliseconds on the Clock; returns at once for 0 or less.
void Sleep(int32_t ms);
// True when the last characters of `text` equal `suffix`, ignoring letter case.
bool endsWith(const std::string& text, const std::string& suffix);
// The code of a text of the speed table (ports/SerialSettings.h), "300" -> 0 ...
// "230400" -> 15; kUnknownBaudCode (-1) for any other text, blanks included.
int32_t BaudStringToConstant(const std::string& text);
// The text of a baud code: 0 -> "300" ... 15 -> "230400"; "" for any other code.
std::string BaudConstantToString(int32_t code);
// True unless the text holds "(\d+).(\d+).(\d+).(\d+):(\d+)".
bool isSerialPortRequested(const std::string& portText);
// Serial device name -> index in the host's device list.
std::map<std::string, int32_t> scanSerialPortsToDictionary();

}  // namespace PortSourceUtils
