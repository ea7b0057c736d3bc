#pragma once
// A non-blocking byte stream over one descriptor (a terminal or a connected TCP
// socket) with its own receive buffer and send queue. Poll moves every byte the
// OS holds into the receive buffer and hands queued bytes to the OS; look-ahead
// and reads work on the receive buffer only. Bytes are never translated.
//
// Errors: LastError() is 0 or a negative code from errno; the first one is kept
// until the next Attach. A write error is reported at once and drops the send queue.
// The end of the input (hang-up, reset, orderly close) is reported only once the
// bytes received before it have been taken, so nothing received is lost to it.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/SysError.h"
#include "base/UniqueFd.h"
#include "ports/WaitCue.h"
#include "ports/posix/ByteQueue.h"

namespace PortSourceUtils::Posix {

class FdStream {
 public:
  enum class Kind { kTerminal, kSocket };

  explicit FdStream(Kind kind) : mKind(kind) {}
  virtual ~FdStream() = default;
  FdStream(const FdStream&) = delete;
  FdStream& operator=(const FdStream&) = delete;

  bool IsOpen() const { return mFd.Valid(); }
  // True once no more input can come (hang-up, error, orderly close).
  bool InputEnded() const { return mInputEnded; }
  int32_t LastError() const { return mLastError; }
  // Bytes received and not yet taken.
  size_t Buffered() const { return mReceived.Size(); }

  // Hands queued bytes to the OS and moves every byte it holds into the receive
  // buffer, without waiting.
  void Poll();
  // Waits up to `ms` for input, then polls; returns early when bytes came. When
  // closed or when the input has ended it only sleeps. While the peer trickles
  // (the last wait brought only a few bytes, and nothing was written since) it
  // gathers for `ms`, but at least 20 ms, so a slow stream costs the caller some
  // 50 passes a second instead of one for every few bytes:
  //  - a socket told that `cue.bytesAhead` bytes must come before the reply can
  //    end holds them back itself (its receive low-water mark) for up to 100 ms,
  //    so that pause costs one wake-up however many pieces arrive in it;
  //  - otherwise the wait reads pieces as they come, and once the pause is over
  //    returns at the next arrival (at most 40 ms after the wait began).
  // A byte of `cue.end`, a burst or the end of the input ends the gathering at
  // once. Every wait is a poll on the descriptor, never a blind sleep.
  void WaitReadable(int32_t ms, const WaitCue& cue = {});
  // How the polls of WaitReadable have ended so far: woken by the descriptor
  // (input, room to send, an error, the end of the input) or by the end of a pause.
  struct WakeUps {
    uint64_t byInput = 0;
    uint64_t byTimer = 0;
  };
  const WakeUps& WaitWakeUps() const { return mWakeUps; }
  // Waits up to `ms` until the OS takes more bytes to send (or the stream fails).
  void WaitWritable(int32_t ms);

  std::string LookAhead();
  std::string Read(int32_t count);
  std::string ReadAll();
  // Discards every byte received so far, including what the OS still holds.
  void Purge();

  // Queues `bytes` and hands what the OS takes at once.
  void Write(const std::string& bytes);
  int32_t BytesLeftToSend() const;

  void Close();

 protected:
  // Takes ownership of a non-blocking descriptor and resets the buffers and errors.
  void Attach(UniqueFd fd);
  void SetError(int32_t code) { mLastError = code; }
  int Fd() const { return mFd.Get(); }

 private:
  void Flush();
  void Drain();
  // Makes a recorded end-of-input error visible once the receive buffer is empty.
  void SurfaceInputError();
  // Asks a socket to report input only once about `bytes` are in (a power of
  // two, at least 1, at most 16 KiB, never more than `bytes`); returns whether a
  // mark above one byte is in force. A terminal reports every byte. Should a
  // socket refuse a change, its old mark stays: a wait then ends at its pause,
  // having read what came, so nothing is lost, only time.
  bool SetLowWater(size_t bytes);
  // The two ways a wait gathers (see WaitReadable): one poll against the
  // socket's low-water mark, or a poll for every piece.
  // GatherInSocket returns whether its pause ran out before the mark was reached.
  bool GatherInSocket(int64_t pauseEnd);
  void GatherByPolling(int64_t start, int64_t pauseEnd, bool gather, std::string_view end);
  // One poll of WaitReadable, counted in mWakeUps; returns as PollUntil does.
  int PollCounted(short events, int64_t deadline);

  Kind mKind;
  UniqueFd mFd;
  ByteQueue mReceived;
  ByteQueue mToSend;
  int32_t mLastError = 0;
  int32_t mInputError = 0;
  bool mInputEnded = false;
  bool mTrickling = false;
  int mLowWater = 1;
  WakeUps mWakeUps;
};

}  // namespace PortSourceUtils::Posix
