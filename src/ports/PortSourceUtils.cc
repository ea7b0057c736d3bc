#include "ports/PortSourceUtils.h"

#include <cstddef>
#include <ctime>

#include "base/AsciiText.h"
#include "base/Clock.h"
#include "ports/NetworkPortText.h"
#include "ports/SerialSettings.h"
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

std::string BaudConstantToString(int32_t code) {
  const SerialSpeed* speed = SpeedOfCode(code);
  return speed ? speed->text : "";
}

int32_t BaudStringToConstant(const std::string& text) {
  for (const SerialSpeed& speed : kSerialSpeeds)
    if (text == speed.text) return speed.code;
  return kUnknownBaudCode;
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
