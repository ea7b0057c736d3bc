#include "app/ProgressLine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/Clock.h"
#include "base/WriteAll.h"

namespace {

const char* kEraseLine = "\r\033[K";

}  // namespace

bool ProgressLine::StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void ProgressLine::Begin(const std::string& label) {
  if (!mEnabled) return;
  mActive = true;
  mLabel = label;
  mBytes = mLines = 0;
  mStartMs = mClock->MonotonicMs();
  mLastDrawMs = -1;
}

void ProgressLine::Add(std::string_view bytes) {
  if (!mActive) return;
  mBytes += bytes.size();
  mLines += static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  const int64_t now = mClock->MonotonicMs();
  if (mLastDrawMs < 0 || now - mLastDrawMs >= 100) {
    mLastDrawMs = now;
    Draw();
  }
}

void ProgressLine::Draw() {
  double seconds = static_cast<double>(mClock->MonotonicMs() - mStartMs) / 1000.0;
  double rate = seconds > 0 ? static_cast<double>(mBytes) / seconds : 0.0;
  int whole = static_cast<int>(seconds);
  char text[160];
  std::snprintf(text, sizeof text, "%s%s: %llu lines, %.1f kB, %.1f kB/s, %02d:%02d", kEraseLine,
                mLabel.c_str(), static_cast<unsigned long long>(mLines),
                static_cast<double>(mBytes) / 1000.0, rate / 1000.0, whole / 60, whole % 60);
  WriteAll(STDERR_FILENO, text);
  mVisible = true;
}

void ProgressLine::Erase() {
  if (!mVisible) return;
  WriteAll(STDERR_FILENO, kEraseLine);
  mVisible = false;
  mLastDrawMs = -1;  // redraw with the next bytes
}

void ProgressLine::End() {
  Erase();
  mActive = false;
}
