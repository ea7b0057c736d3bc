#include "ports/posix/FdStream.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>

#include "base/Clock.h"
#include "base/DeadlinePoll.h"
#include "ports/PortSourceUtils.h"

namespace PortSourceUtils::Posix {
namespace {

constexpr size_t kReadBlock = 64 * 1024;
// Bounds one Poll when a fast peer keeps the OS buffer full, so callers get a
// turn, and bounds the receive queue (and the copies callers take of it), so
// memory stays flat however long the stream.
constexpr size_t kMaxDrainPerPoll = 1024 * 1024;
// A wait that brings fewer bytes than this means the peer sends slowly.
constexpr size_t kTrickleBytes = 1024;
// How long a wait on a slow peer gathers its bytes: under 500 bytes even at
// 230400 bit/s, far below any OS input buffer.
constexpr int32_t kTricklePauseMs = 20;
// Once the pause is over, a gathering that holds bytes ends at the next arrival
// rather than at a timer of its own, so a steady trickle costs one wake-up per
// arrival and no more; when the stream pauses, it ends this long after it began.
constexpr int32_t kTrickleHoldMs = 40;
// How long a socket that holds back bytes which must come before the reply can
// end (its receive low-water mark) waits before it hands over what came. The
// bytes wait in the OS, not here, and the prompt cannot come among them, so the
// pause costs no latency: at 11,520 bytes/s it is ten wake-ups a second
// instead of one per line or per write of the peer. It also bounds how long a
// piece waits unread, and so how late it reaches the session file: no longer
// than the pause the dialogue takes after every prompt.
constexpr int32_t kSocketGatherMs = 100;
// The most a socket is asked to hold back before it reports input.
constexpr size_t kMaxLowWater = 16 * 1024;

}  // namespace

void FdStream::Attach(UniqueFd fd) {
  mFd = std::move(fd);
  mReceived.Clear();
  mToSend.Clear();
  mLastError = 0;
  mInputError = 0;
  mInputEnded = false;
  mTrickling = false;
  mLowWater = 1;
}

void FdStream::Close() {
  mFd.Reset();
  mToSend.Clear();
}

void FdStream::Poll() {
  if (!mFd.Valid()) return;
  Flush();
  Drain();
  SurfaceInputError();
}

void FdStream::Flush() {
  while (!mToSend.Empty()) {
    std::string_view pending = mToSend.View();
    ssize_t n = mKind == Kind::kSocket
                    ? ::send(mFd.Get(), pending.data(), pending.size(), MSG_NOSIGNAL)
                    : ::write(mFd.Get(), pending.data(), pending.size());
    if (n > 0) {
      mToSend.Drop(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // A failed link takes nothing more: drop the queue so writers stop waiting.
    // The first error is kept: it tells why the link failed.
    if (mLastError == 0) mLastError = CodeFromErrno(n < 0 ? errno : EIO);
    mToSend.Clear();
    return;
  }
}

void FdStream::Drain() {
  size_t moved = 0;
  while (!mInputEnded && moved < kMaxDrainPerPoll) {
    char* room = mReceived.Reserve(kReadBlock);
    ssize_t n = mKind == Kind::kSocket ? ::recv(mFd.Get(), room, kReadBlock, 0)
                                       : ::read(mFd.Get(), room, kReadBlock);
    if (n > 0) {
      mReceived.Commit(static_cast<size_t>(n));
      moved += static_cast<size_t>(n);
      // A short read emptied the OS buffer: asking again would only say so.
      if (static_cast<size_t>(n) < kReadBlock) return;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    mInputEnded = true;
    if (n < 0) {
      mInputError = CodeFromErrno(errno);
    } else if (mKind == Kind::kTerminal) {
      // A terminal in this mode reads 0 bytes only when it has been hung up.
      mInputError = CodeFromErrno(EIO);
    }
  }
}

void FdStream::SurfaceInputError() {
  if (mInputError != 0 && mReceived.Empty() && mLastError == 0) mLastError = mInputError;
}

void FdStream::WaitReadable(int32_t ms, const WaitCue& cue) {
  SurfaceInputError();
  if (ms <= 0) {
    Poll();
    return;
  }
  Clock& clock = Clock::Get();
  const bool gather = mTrickling && mToSend.Empty();
  const int64_t start = clock.MonotonicMs();
  // One millisecond more: readings are whole milliseconds, and the wait must not
  // end before the time asked for.
  const int64_t pauseEnd = start + (gather ? std::max(ms, kTricklePauseMs) : ms) + 1;
  const size_t before = mReceived.Size();
  bool pausedOut = false;
  if (mFd.Valid() && !mInputEnded) {
    if (SetLowWater(gather ? cue.bytesAhead : 1)) {
      pausedOut = GatherInSocket(gather ? start + std::max(ms, kSocketGatherMs) + 1 : pauseEnd);
    } else {
      GatherByPolling(start, pauseEnd, gather, cue.end);
    }
  }
  const size_t got = mReceived.Size() - before;
  // Nothing at all: the next wait returns on the first byte again.
  // A socket's pause that ran out before its mark was reached saw a trickle,
  // however many bytes it gathered.
  mTrickling = got > 0 && (got < kTrickleBytes || pausedOut);
  if (got == 0 && (!mFd.Valid() || mInputEnded)) {
    // Nothing left to wait on: the caller still gets the pause it asked for.
    Sleep(static_cast<int32_t>(std::max<int64_t>(0, pauseEnd - clock.MonotonicMs())));
  }
}

bool FdStream::GatherInSocket(int64_t pauseEnd) {
  // Woken by the mark, an error or the end of the input; at the end of the
  // pause whatever came is taken as well.
  const bool pausedOut = PollCounted(POLLIN, pauseEnd) == 0;
  Poll();
  return pausedOut;
}

int FdStream::PollCounted(short events, int64_t deadline) {
  const int revents = PollUntil(mFd.Get(), events, deadline);
  if (revents > 0) ++mWakeUps.byInput;
  if (revents == 0) ++mWakeUps.byTimer;
  return revents;
}

void FdStream::GatherByPolling(int64_t start, int64_t pauseEnd, bool gather, std::string_view end) {
  Clock& clock = Clock::Get();
  const size_t before = mReceived.Size();
  int64_t deadline = pauseEnd;
  while (mFd.Valid() && !mInputEnded) {
    short events = POLLIN | (mToSend.Empty() ? 0 : POLLOUT);
    if (PollCounted(events, deadline) <= 0) break;
    const size_t seen = mReceived.Size();
    Poll();
    const size_t got = mReceived.Size() - before;
    const int64_t now = clock.MonotonicMs();
    if (got == 0) {
      if (now >= deadline) break;
      continue;
    }
    if (!gather || got >= kTrickleBytes || mInputEnded || now >= pauseEnd ||
        mReceived.View().substr(seen).find_first_of(end) != std::string_view::npos) {
      break;
    }
    deadline = std::max(deadline, start + kTrickleHoldMs);
  }
}

bool FdStream::SetLowWater(size_t bytes) {
  if (mKind != Kind::kSocket) return false;
  // A power of two at most `bytes`: a mark a little low only wakes a little
  // early, and a mark that seldom changes is seldom set.
  const int want = static_cast<int>(std::bit_floor(std::clamp<size_t>(bytes, 1, kMaxLowWater)));
  if (want != mLowWater &&
      ::setsockopt(mFd.Get(), SOL_SOCKET, SO_RCVLOWAT, &want, sizeof want) == 0) {
    mLowWater = want;
  }
  return mLowWater > 1;
}

void FdStream::WaitWritable(int32_t ms) {
  if (!mFd.Valid() || mToSend.Empty()) return;
  PollUntil(mFd.Get(), POLLOUT, Clock::Get().MonotonicMs() + ms);
}

std::string FdStream::LookAhead() {
  SurfaceInputError();
  return std::string(mReceived.View());
}

std::string FdStream::Read(int32_t count) {
  SurfaceInputError();
  return count > 0 ? mReceived.Take(static_cast<size_t>(count)) : std::string();
}

std::string FdStream::ReadAll() {
  SurfaceInputError();
  return mReceived.Take(mReceived.Size());
}

void FdStream::Purge() {
  if (mFd.Valid()) Drain();
  mReceived.Clear();
  SurfaceInputError();
}

void FdStream::Write(const std::string& bytes) {
  if (!mFd.Valid()) {
    if (mLastError == 0) mLastError = CodeFromErrno(EBADF);
    return;
  }
  // A command expects its reply promptly: wait on the first byte again.
  mTrickling = false;
  mToSend.Append(bytes);
  Flush();
}

int32_t FdStream::BytesLeftToSend() const {
  return mToSend.Size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mToSend.Size());
}

}  // namespace PortSourceUtils::Posix
