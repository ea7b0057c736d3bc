#pragma once
// Decides how many bytes may go out now on one connection, applying the fault
// options: close after B bytes, silence after B bytes, a rate limit and a
// largest write. Time is an input, so the rate limit can be tested exactly.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "SimOptions.h"

class FaultShaper {
 public:
  using Clock = std::chrono::steady_clock;

  struct Plan {
    size_t bytes = 0;    // write at most this many now (0: do not write)
    int waitMs = -1;     // with bytes 0 and data pending: retry after this long
    bool close = false;  // the connection must close now (--close-after reached)
    bool mute = false;   // nothing more may ever be sent (--silent-after reached)
  };

  explicit FaultShaper(const SimOptions& options);

  // Begins a connection at `now`: counters restart, the rate budget is empty.
  void Start(Clock::time_point now);
  // The plan for `pending` bytes waiting to go out at `now`.
  Plan Next(size_t pending, Clock::time_point now);
  // n bytes were written.
  void Sent(size_t n);

  int64_t SentTotal() const { return mSent; }

 private:
  int64_t mCloseAfter;
  int64_t mSilentAfter;
  int64_t mChunk;
  double mRate;   // bytes per second; 0 = unlimited
  double mBurst;  // most bytes the rate budget holds
  double mTokens = 0;
  Clock::time_point mLast;
  int64_t mSent = 0;
};
