#include "ports/PortSourceUtils.h"

#include <time.h>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <utility>

#include "ports/NetworkPortText.h"
#include "ports/posix/SerialDeviceList.h"

namespace PortSourceUtils {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string now() {
  time_t t = ::time(nullptr);
  struct tm local {};
  char text[32] = "";
  if (::localtime_r(&t, &local) != nullptr) {
    ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  }
  return text;
}

uint32_t nowUsecs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  // Seconds since boot: 32 bits last some 136 years.
  return static_cast<uint32_t>(ts.tv_sec);
}

void Sleep(int32_t ms) {
  if (ms <= 0) return;
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  // An absolute deadline makes a resumed sleep after EINTR end on time.
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

namespace {
std::function<void()>& PendingEventsHandler() {
  static std::function<void()> handler;
  return handler;
}
}  // namespace

void SetPendingEventsHandler(std::function<void()> handler) {
  PendingEventsHandler() = std::move(handler);
}

void ProcessPendingEvents() {
  if (PendingEventsHandler()) PendingEventsHandler()();
}

bool endsWith(const std::string& text, const std::string& suffix) {
  if (suffix.size() > text.size()) return false;
  size_t offset = text.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (Lower(text[offset + i]) != Lower(suffix[i])) return false;
  }
  return true;
}

int32_t BaudStringToConstant(const std::string& text) {
  static const char* const kTexts[] = {"300",   "600",   "1200",   "1800",  "2400",  "3600",
                                       "4800",  "7200",  "9600",   "14400", "19200", "28800",
                                       "38400", "57600", "115200", "230400"};
  for (int32_t code = 0; code < 16; ++code) {
    if (text == kTexts[code]) return code;
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
