#pragma once
// Clock: every reading of time and every sleep of the download side goes through
// a Clock, so time is an input. Programs make a RealClock and hand it to what
// needs it (the App, the Controller, the tools' commands); tests hand in a fake
// one that they advance by hand.

#include <cstdint>
#include <ctime>
#include <string>

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
  // WallSeconds() as local time in the text of log lines, "YYYY-MM-DD HH:MM:SS".
  std::string LocalTimeText();
  // A wall-time reading as local time.
  static std::tm LocalTimeOf(int64_t wallSeconds);

  // The clock of the port layer's free helpers (PortSourceUtils::now, nowUsecs,
  // Sleep) and the platform waits below the ports: the process's real clock,
  // unless a test of that layer has put a fake in its place (Substitute). Code
  // above the ports is given its clock instead.
  static Clock& Get();
  // For tests of the port layer only: makes `clock` the one Get() returns
  // (null: the real clock again). The caller keeps ownership and must undo it
  // before `clock` is destroyed. No program calls it.
  static void Substitute(Clock* clock);
};

// The operating system's clocks: CLOCK_MONOTONIC, clock_nanosleep, time().
class RealClock : public Clock {
 public:
  int64_t MonotonicMs() override;
  void SleepMs(int32_t ms) override;
  int64_t WallSeconds() override;
};
