#pragma once
// SIGINT, SIGTERM and SIGHUP ask the simulator to stop. They stay blocked
// except inside Wait, so a signal can never slip in between the check of
// Requested() and the wait: it interrupts the wait instead. SIGPIPE is ignored
// so that a vanished peer shows up as EPIPE. One instance per process.

#include <poll.h>
#include <signal.h>

class StopSignal {
 public:
  StopSignal();   // raises SimError when the signal set-up fails
  ~StopSignal();  // restores the previous mask and handlers
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  bool Requested() const;
  // poll() with the stop signals let through; timeoutMs -1 waits without end.
  // Returns poll's result; -1 with EINTR when a signal arrived. Other failures
  // raise SimError.
  int Wait(pollfd* fds, nfds_t count, int timeoutMs);

 private:
  sigset_t mOldMask;
  sigset_t mWaitMask;
  struct sigaction mOld[4];
};
