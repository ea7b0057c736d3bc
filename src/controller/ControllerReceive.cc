// The two receive loops: input is appended to rawBuffer, line feeds raise
// RawDataAvailable, and the prompt (and "done") are recognised at the end of what
// has been received so far.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/AsciiText.h"
#include "base/Clock.h"
#include "base/DialogueWords.h"
#include "controller/Controller.h"
#include "ports/PortSourceUtils.h"

namespace {

constexpr size_t kDoneLength = sizeof(DialogueWords::kDone) - 1;

// Finds the next occurrence of one byte in a chunk, remembering the last hit so
// that a chunk is scanned once per byte value however often it is asked.
class ByteFinder {
 public:
  ByteFinder(const char* data, size_t size, char byte) : mData(data), mSize(size), mByte(byte) {}

  // Position of the first occurrence at or after `from`, or the chunk size.
  size_t Next(size_t from) {
    if (mScanned && (mHit >= from)) return mHit;
    mScanned = true;
    if (from >= mSize) return mHit = mSize;
    const void* hit = std::memchr(mData + from, static_cast<unsigned char>(mByte), mSize - from);
    mHit = hit ? static_cast<size_t>(static_cast<const char*>(hit) - mData) : mSize;
    return mHit;
  }

 private:
  const char* mData;
  size_t mSize;
  char mByte;
  bool mScanned = false;
  size_t mHit = 0;
};

// How often `byte` occurs in `text`; memchr skips the bytes between hits at
// vector speed, which a byte loop does not.
int64_t CountByte(const std::string& text, char byte) {
  int64_t count = 0;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const void* hit =
        std::memchr(at, static_cast<unsigned char>(byte), static_cast<size_t>(end - at));
    if (hit == nullptr) break;
    ++count;
    at = static_cast<const char*>(hit) + 1;
  }
  return count;
}

}  // namespace

bool Controller::ReceivedEndsWith(const std::string& suffix) const {
  const size_t n = suffix.size();
  std::string tail;
  if (rawBuffer.size() >= n) {
    tail.assign(rawBuffer, rawBuffer.size() - n, n);
  } else {
    const size_t fromHanded = std::min(n - rawBuffer.size(), mHandedTail.size());
    tail.assign(mHandedTail, mHandedTail.size() - fromHanded, fromHanded);
    tail += rawBuffer;
  }
  return PortSourceUtils::endsWith(tail, suffix);
}

void Controller::RaiseRawDataAvailable() {
  mSinceEvent = 0;
  if (RawDataAvailable) RawDataAvailable(*this);
}

void Controller::HandOverLongLine(size_t promptLength) {
  const size_t keep = std::max(promptLength, kDoneLength);
  std::string tail =
      mHandedTail + rawBuffer.substr(rawBuffer.size() - std::min(keep, rawBuffer.size()));
  if (tail.size() > keep) tail.erase(0, tail.size() - keep);
  RaiseRawDataAvailable();
  // Only when the handler took the bytes do they leave rawBuffer; their tail stays
  // visible to the end tests so a prompt or "done" straddling the cut is still seen.
  if (rawBuffer.empty()) mHandedTail = std::move(tail);
}

bool Controller::StageChunk(const std::string& chunk, const std::string& prompt, bool watchDone,
                            bool& gotDone) {
  const char* data = chunk.data();
  const size_t size = chunk.size();
  ByteFinder lineFeeds(data, size, '\n');
  ByteFinder returns(data, size, '\r');
  ByteFinder nuls(data, size, '\0');
  // The prompt can only end at a byte equal to its last character, ignoring case.
  const char last = prompt.empty() ? '\0' : prompt.back();
  ByteFinder lastLower(data, size, AsciiText::Lower(last));
  ByteFinder lastUpper(data, size, AsciiText::Upper(last));

  size_t i = 0;
  try {
    while (i < size) {
      const char c = data[i];
      if (c == '\n' || c == '\r' || c == '\0') {
        if (watchDone && c != '\0' && ReceivedEndsWith(DialogueWords::kDone)) gotDone = true;
        rawBuffer.push_back(c);
        ++mSinceEvent;
        ++i;
        if (c == '\n') {
          RaiseRawDataAvailable();
        } else if (mSinceEvent >= kMaxBytesWithoutEvent) {
          HandOverLongLine(prompt.size());
        }
        continue;
      }
      // A run of ordinary bytes: append it in pieces that end at a possible prompt
      // end or at the hand-over limit.
      const size_t runEnd = std::min({lineFeeds.Next(i), returns.Next(i), nuls.Next(i)});
      while (i < runEnd) {
        const size_t limit = std::min(runEnd, i + (kMaxBytesWithoutEvent - mSinceEvent));
        const size_t candidate =
            prompt.empty() ? i : std::min({lastLower.Next(i), lastUpper.Next(i), limit});
        const size_t end = candidate < limit ? candidate + 1 : limit;
        rawBuffer.append(data + i, end - i);
        mSinceEvent += end - i;
        i = end;
        if (candidate < limit && ReceivedEndsWith(prompt)) return true;
        if (mSinceEvent >= kMaxBytesWithoutEvent) HandOverLongLine(prompt.size());
      }
    }
  } catch (...) {
    // A handler ended the run: the rest of the chunk has been taken from the
    // port already, so it stays in rawBuffer for the session file's last write.
    rawBuffer.append(data + i, size - i);
    throw;
  }
  return false;
}

Controller::ReplyBound Controller::BoundFor(int32_t records) {
  const int64_t c = std::max<int32_t>(records, 0);
  return {c, c * kReplyLinesPerRecord + kReplySlackLines,
          c * kReplyBytesPerRecord + kReplySlackBytes, c};
}

Controller::ReceiveResult Controller::Receive(const std::string& prompt, int32_t timeout,
                                              bool watchDone, const ReplyBound& bound) {
  ReceiveResult result;
  // Line ends of either kind, counted separately: a controller may end its lines
  // with CR alone.
  int64_t lineFeeds = 0, returns = 0, bytes = 0;
  Clock& clock = mClock;
  int64_t lastByteMs = clock.MonotonicMs();
  const int64_t silenceMs = PortSourceUtils::TimeoutMs(timeout);
  if (!mPort || !mPort->IsConnected()) {
    if (watchDone) {
      Log("WARNING", "waitfordoneprompt, socket/port not connected at start");
    } else {
      if (ConsoleSink) ConsoleSink("waitforprompt, socket/port not connected at start\n");
    }
    result.portError = true;
  }
  const std::string promptEnd = prompt.empty() ? ""
                                               : std::string{AsciiText::Lower(prompt.back()),
                                                             AsciiText::Upper(prompt.back())};
  // The time-out counts silence, not the length of the reply.
  while (mPort && mPort->IsConnected() && clock.MonotonicMs() - lastByteMs <= silenceMs) {
    std::string chunk;
    try {
      const size_t pending = mPort->LookAhead().size();
      if (pending > 0) {
        chunk = mPort->Read(static_cast<int32_t>(std::min<size_t>(pending, INT32_MAX)));
        lastByteMs = clock.MonotonicMs();
      }
    } catch (...) {
      if (watchDone) Log("WARNING", "waitfordoneprompt, unspecified error in port .Lookahead()");
      result.portError = true;
      break;
    }
    if (!chunk.empty() && StageChunk(chunk, prompt, watchDone, result.gotDone)) {
      result.gotPrompt = true;
      RaiseRawDataAvailable();
      mPort->Purge(100);
      if (GotPrompt) GotPrompt(*this);
      break;
    }
    if (!chunk.empty() && (bound.lines > 0 || bound.bytes > 0)) {
      bytes += static_cast<int64_t>(chunk.size());
      lineFeeds += CountByte(chunk, '\n');
      returns += CountByte(chunk, '\r');
      std::string exceeded;
      if (bound.lines > 0 && std::max(lineFeeds, returns) > bound.lines) {
        exceeded = std::to_string(bound.lines) + " lines";
      } else if (bound.bytes > 0 && bytes > bound.bytes) {
        exceeded = std::to_string(bound.bytes) + " bytes";
      }
      if (!exceeded.empty()) {
        // Not a reply any more: what came stays in rawBuffer; the caller ends it
        // like a time-out.
        result.overBound =
            "reply exceeded " + exceeded + " for " + std::to_string(bound.records) + " records";
        break;
      }
    }
    // What was just read goes to the session file now, not after the next wait,
    // which may gather for a while.
    if (!chunk.empty() && PendingEvents) PendingEvents();
    // The wait is a poll that returns as soon as data comes; while the controller
    // trickles, the port gathers its lines but stops at a byte that may end the
    // prompt, so a reply's end is seen the moment it arrives. A reply to a
    // request for C records holds at least C line ends before its prompt: until
    // they are in, the port need not wake for each line.
    const int64_t linesIn = std::max(lineFeeds, returns);
    const size_t linesAhead = bound.owed > linesIn ? static_cast<size_t>(bound.owed - linesIn) : 0;
    mPort->WaitForData(chunk.empty() ? 20 : 10, {promptEnd, linesAhead});
  }
  return result;
}

int32_t Controller::waitForPrompt(const std::string& prompt, int32_t timeout, uint8_t) {
  return PromptCode(Receive(prompt, timeout, false, ReplyBound{}));
}

int32_t Controller::waitForDonePrompt(const std::string& prompt, int32_t timeout, uint8_t) {
  return DonePromptCode(Receive(prompt, timeout, true, ReplyBound{}));
}

int32_t Controller::PromptCode(const ReceiveResult& r) {
  if (r.gotPrompt) {
    Log("DEBUG", "waitForPrompt: got prompt");
    return 0;
  }
  if (r.portError) {
    Log("DEBUG", "waitForPrompt port/socket error:" + std::to_string(PortErrorCode()));
    return -1;
  }
  Log("DEBUG", r.overBound.empty() ? "waitForPrompt: timed out" : "waitForPrompt: " + r.overBound);
  return 1;
}

int32_t Controller::DonePromptCode(const ReceiveResult& r) {
  if (r.gotPrompt && r.gotDone) {
    Log("DEBUG", "waitForDonePrompt: got done and prompt");
    return 1;
  }
  if (r.gotPrompt) {
    Log("DEBUG", "waitForDonePrompt: got prompt");
    return 2;
  }
  if (r.portError) {
    Log("DEBUG", "waitForDonePrompt port/socket error:" + std::to_string(PortErrorCode()));
    return -1;
  }
  Log("DEBUG",
      r.overBound.empty() ? "waitForDonePrompt: timed out" : "waitForDonePrompt: " + r.overBound);
  return 0;
}
