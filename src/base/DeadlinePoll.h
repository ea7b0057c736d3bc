#pragma once
// Waiting on one descriptor until something happens or a deadline passes.

#include <cstdint>
#include <functional>

// Waits until `fd` reports one of `events` or the Clock's MonotonicMs() reaches
// `deadlineMs`. EINTR resumes the wait against the same deadline. With a `turn`,
// the wait is cut into slices of at most `sliceMs` and `turn` runs after each
// slice and after each interruption; it may throw, which ends the wait.
// Waited-out slices count against the deadline as well, so a clock that stands
// still (a test's) cannot stretch the wait.
// Returns the events that came (non-zero), 0 at the deadline, -1 when poll()
// failed (errno tells why).
int PollUntil(int fd, short events, int64_t deadlineMs, const std::function<void()>& turn = nullptr,
              int32_t sliceMs = 200);
