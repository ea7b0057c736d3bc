#include "base/DeadlinePoll.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "base/Clock.h"

int PollUntil(int fd, short events, int64_t deadlineMs, const std::function<void()>& turn,
              int32_t sliceMs) {
  Clock& clock = Clock::Get();
  int64_t budget = deadlineMs - clock.MonotonicMs();
  for (;;) {
    const int64_t left = std::max<int64_t>(0, std::min(deadlineMs - clock.MonotonicMs(), budget));
    const int64_t slice = turn ? std::min<int64_t>(left, std::max(sliceMs, 1)) : left;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(slice, INT_MAX)));
    if (n > 0) return p.revents;
    if (n < 0 && errno != EINTR) return -1;
    if (n == 0) {
      budget -= slice;
      if (slice >= left) return 0;
    }
    if (turn) turn();
  }
}
