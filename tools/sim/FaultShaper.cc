#include "FaultShaper.h"

#include <algorithm>
#include <cmath>

FaultShaper::FaultShaper(const SimOptions& options)
    : mCloseAfter(options.closeAfter),
      mSilentAfter(options.silentAfter),
      mChunk(options.chunk),
      mRate(static_cast<double>(options.throttle)),
      // A budget of 1/50 s keeps the rate smooth without a write per byte.
      mBurst(std::max(1.0, mRate / 50)) {}

void FaultShaper::Start(Clock::time_point now) {
  mSent = 0;
  mTokens = 0;
  mLast = now;
}

FaultShaper::Plan FaultShaper::Next(size_t pending, Clock::time_point now) {
  Plan plan;
  if (mCloseAfter >= 0 && mSent >= mCloseAfter) {
    plan.close = true;
    return plan;
  }
  if (mSilentAfter >= 0 && mSent >= mSilentAfter) {
    plan.mute = true;
    return plan;
  }
  if (pending == 0) return plan;
  int64_t limit = static_cast<int64_t>(std::min<size_t>(pending, INT64_MAX));
  if (mCloseAfter >= 0) limit = std::min(limit, mCloseAfter - mSent);
  if (mSilentAfter >= 0) limit = std::min(limit, mSilentAfter - mSent);
  if (mChunk > 0) limit = std::min(limit, mChunk);
  if (mRate > 0) {
    std::chrono::duration<double> elapsed = now - mLast;
    mLast = now;
    mTokens = std::min(mBurst, mTokens + elapsed.count() * mRate);
    // Write a whole budget (or all that is pending, when less) at once, as a
    // device does, rather than a few bytes each time one more is allowed.
    const double wanted = std::min(std::floor(mBurst), static_cast<double>(limit));
    if (mTokens < wanted) {
      plan.waitMs = std::max(1, static_cast<int>(std::ceil((wanted - mTokens) / mRate * 1000)));
      return plan;
    }
    limit = std::min(limit, static_cast<int64_t>(mTokens));
  }
  plan.bytes = static_cast<size_t>(limit);
  return plan;
}

void FaultShaper::Sent(size_t n) {
  mSent += static_cast<int64_t>(n);
  if (mRate > 0) mTokens -= static_cast<double>(n);
}
