#pragma once
// The one small interface behind a PortSource. The real backends are SerPort and
// NetPort; controller tests plug in a scripted in-memory port instead.
// Semantics are those that PortSource shows its callers: errors are raised as
// PortSourceUtils exceptions, texts are byte strings, LastErrorCode() is 0 or negative.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "ports/WaitCue.h"

namespace PortSourceUtils {

class PortBackend {
 public:
  virtual ~PortBackend() = default;

  virtual void Connect() = 0;
  virtual bool IsConnected() = 0;
  // Every byte received and not yet read, left in place.
  virtual std::string LookAhead() = 0;
  // Up to `count` bytes from the front of the receive buffer.
  virtual std::string Read(int32_t count) = 0;
  virtual std::string ReadAll() = 0;
  // Returns once the bytes are handed to the device (or the link is gone). While
  // it waits, pending events get a turn several times a second (they may throw).
  virtual void Write(const std::string& text) = 0;
  // Waits `ms` (when positive), then discards everything received so far.
  virtual void Purge(int32_t ms) = 0;
  // Moves pending data in both directions without waiting.
  virtual void Poll() = 0;
  virtual int32_t LastErrorCode() = 0;
  virtual void Close() = 0;
  // The longest a Connect may wait for the link to come up; backends that open
  // at once ignore it.
  virtual void SetConnectTimeoutMs(int32_t ms) { (void)ms; }
  // Waits up to `ms` for the port to become readable, moving what arrives into the
  // receive buffer; returns early when data came. While the peer trickles, a
  // wait may gather several small pieces before it returns, but never past a
  // byte of `cue.end` (such as the end of a prompt), and it may let the
  // `cue.bytesAhead` bytes that must come first collect unseen. Never spins.
  virtual void WaitForData(int32_t ms, const WaitCue& cue) = 0;

  // The application's turn at pending events (a stop signal, for one), taken
  // while a Write or a Connect waits. It may throw to end the wait's caller; an
  // empty function does nothing.
  void SetPendingEvents(std::function<void()> turn) { mPendingEvents = std::move(turn); }

 protected:
  void PendingEvents() {
    if (mPendingEvents) mPendingEvents();
  }

 private:
  std::function<void()> mPendingEvents;
};

}  // namespace PortSourceUtils
