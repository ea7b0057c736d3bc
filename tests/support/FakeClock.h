#pragma once
// A clock that moves only when told: sleeps advance it at once, and tests (or a
// scripted port) advance it to the moment the next thing happens. It is handed
// to what takes a clock; for the port layer's free helpers it also stands in for
// the real clock during its lifetime (the one before it comes back after).

#include <cstdint>

#include "base/Clock.h"

class FakeClock : public Clock {
 public:
  FakeClock() : mPrevious(&Clock::Get()) { Clock::Substitute(this); }
  ~FakeClock() override { Clock::Substitute(mPrevious); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  int64_t MonotonicMs() override { return mNowMs; }
  void SleepMs(int32_t ms) override {
    ++sleeps;
    if (ms > 0) Advance(ms);
  }
  int64_t WallSeconds() override { return mWallBase + mNowMs / 1000; }

  void Advance(int64_t ms) { mNowMs += ms; }
  // Moves to `ms` unless that lies in the past.
  void AdvanceTo(int64_t ms) {
    if (ms > mNowMs) mNowMs = ms;
  }
  void SetWallSeconds(int64_t seconds) { mWallBase = seconds - mNowMs / 1000; }

  int sleeps = 0;

 private:
  Clock* mPrevious;
  // Not zero, so code that treats 0 as "unset" is not flattered.
  int64_t mNowMs = 1000000;
  int64_t mWallBase = 1780000000;
};
