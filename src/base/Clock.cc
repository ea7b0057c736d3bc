#include "base/Clock.h"

#include <time.h>

#include <cerrno>

namespace {

Clock* gInstalled = nullptr;

}  // namespace

std::tm Clock::LocalTimeOf(int64_t wallSeconds) {
  const time_t t = static_cast<time_t>(wallSeconds);
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) local = std::tm{};
  return local;
}

std::string Clock::LocalTimeText() {
  std::tm local = LocalTime();
  char text[32] = "";
  ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

Clock& Clock::Get() {
  static RealClock real;
  return gInstalled != nullptr ? *gInstalled : real;
}

void Clock::Substitute(Clock* clock) { gInstalled = clock; }

int64_t RealClock::MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void RealClock::SleepMs(int32_t ms) {
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

int64_t RealClock::WallSeconds() { return static_cast<int64_t>(::time(nullptr)); }
