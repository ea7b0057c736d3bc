#pragma once
// Clock: every reading of time and every sleep of the download side goes through
// one Clock, so time is an input. The application owns a RealClock and installs
// it at start; tests install a fake one that they advance by hand.

#include <cstdint>
#include <ctime>

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds on a clock that never goes back (unaffected by changes of the
  // system time); the origin is arbitrary.
  virtual int64_t MonotonicMs() = 0;
  // Waits at least `ms` milliseconds; returns at once for 0 or less.
  virtual void SleepMs(int32_t ms) = 0;
  // Wall time: seconds since 1970-01-01 UTC.
  virtual int64_t WallSeconds() = 0;

  // WallSeconds() as local time.
  std::tm LocalTime() { return LocalTimeOf(WallSeconds()); }
  // A wall-time reading as local time.
  static std::tm LocalTimeOf(int64_t wallSeconds);

  // The installed clock, or the process's real clock when none is installed.
  static Clock& Get();
  // Makes `clock` the one Get() returns (null: the real clock again). The caller
  // keeps ownership and must uninstall it before it is destroyed.
  static void Install(Clock* clock);
};

// The operating system's clocks: CLOCK_MONOTONIC, clock_nanosleep, time().
class RealClock : public Clock {
 public:
  int64_t MonotonicMs() override;
  void SleepMs(int32_t ms) override;
  int64_t WallSeconds() override;
};
