#include "StopSignal.h"

#include <cerrno>
#include <ctime>

#include "SysIo.h"

namespace {

volatile sig_atomic_t gStop = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void OnStop(int) { gStop = 1; }

}  // namespace

StopSignal::StopSignal() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int i = 0; i < 3; ++i) sigaddset(&stops, kSignals[i]);
  if (sigprocmask(SIG_BLOCK, &stops, &mOldMask) != 0) ThrowErrno("sigprocmask", errno);
  mWaitMask = mOldMask;
  for (int i = 0; i < 3; ++i) sigdelset(&mWaitMask, kSignals[i]);
  for (int i = 0; i < 4; ++i) {
    struct sigaction action {};
    action.sa_handler = kSignals[i] == SIGPIPE ? SIG_IGN : OnStop;
    sigemptyset(&action.sa_mask);
    if (sigaction(kSignals[i], &action, &mOld[i]) != 0) ThrowErrno("sigaction", errno);
  }
}

StopSignal::~StopSignal() {
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &mOld[i], nullptr);
  sigprocmask(SIG_SETMASK, &mOldMask, nullptr);
}

bool StopSignal::Requested() const { return gStop != 0; }

int StopSignal::Wait(pollfd* fds, nfds_t count, int timeoutMs) {
  timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
  int rc = ppoll(fds, count, timeoutMs < 0 ? nullptr : &timeout, &mWaitMask);
  if (rc < 0 && errno != EINTR) ThrowErrno("ppoll", errno);
  return rc;
}
