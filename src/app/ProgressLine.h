#pragma once
// A one-line status display for long replies: lines and bytes received, rate and
// elapsed time, updated in place on standard error. It is shown only when standard
// error is a terminal (never in cron jobs, pipes or files, where the log must stay
// exactly as it is) and is erased before any log line is written. Time is the
// run's Clock.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Clock.h"

class ProgressLine {
 public:
  // `enabled`: whether this run may show it at all (a terminal and a chatty level).
  // `clock` must outlive it.
  explicit ProgressLine(Clock& clock, bool enabled = false) : mClock(&clock), mEnabled(enabled) {}

  // True when standard error is a terminal.
  static bool StderrIsTerminal();

  void Begin(const std::string& label);
  // Counts received bytes; redraws at most ten times a second.
  void Add(std::string_view bytes);
  // Removes the line from the screen (before a log line); the next Add redraws it.
  void Erase();
  // Erases it and ends the phase.
  void End();

 private:
  void Draw();

  Clock* mClock;
  bool mEnabled;
  bool mActive = false;
  bool mVisible = false;
  std::string mLabel;
  uint64_t mBytes = 0, mLines = 0;
  int64_t mStartMs = 0;
  int64_t mLastDrawMs = -1;  // -1: never drawn, draw with the next bytes
};
