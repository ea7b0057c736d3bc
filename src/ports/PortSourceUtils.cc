#include "ports/PortSourceUtils.h"

#include <cstddef>
#include <ctime>

#include "base/AsciiText.h"
#include "base/Clock.h"
#include "ports/NetworkPortText.h"
#include "ports/posix/SerialDeviceList.h"

namespace PortSourceUtils {
std::string now() { return Clock::Get().LocalTimeText(); }

uint32_t nowUsecs() {
  // Seconds on the monotonic clock: 32 bits last some 136 years.
  return static_cast<uint32_t>(Clock::Get().MonotonicMs() / 1000);
}

int64_t TimeoutMs(int32_t seconds) {
  return seconds == 0 ? kSubSecondTimeoutMs : int64_t{seconds} * 1000;
}

void Sleep(int32_t ms) { Clock::Get().SleepMs(ms); }

bool endsWith(const std::string& text, const std::string& suffix) {
  return AsciiText::EndsWithIgnoringCase(text, suffix);
}

namespace {
const char* const kBaudTexts[] = {"300",   "600",   "1200",   "1800",  "2400",  "3600",
                                  "4800",  "7200",  "9600",   "14400", "19200", "28800",
                                  "38400", "57600", "115200", "230400"};
}  // namespace

std::string BaudConstantToString(int32_t code) {
  return code >= 0 && code < 16 ? kBaudTexts[code] : "";
}

int32_t BaudStringToConstant(const std::string& text) {
  for (int32_t code = 0; code < 16; ++code) {
    if (text == kBaudTexts[code]) return code;
  }
  return -1;
}

bool isSerialPortRequested(const std::string& portText) {
  return !ParseNetworkPortText(portText).has_value();
}

std::map<std::string, int32_t> scanSerialPortsToDictionary() {
  std::map<std::string, int32_t> table;
  std::vector<Posix::SerialDeviceEntry> devices = Posix::ListSerialDevices();
  for (size_t i = 0; i < devices.size(); ++i) table[devices[i].name] = static_cast<int32_t>(i);
  return table;
}

}  // namespace PortSourceUtils
