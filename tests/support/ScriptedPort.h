#pragma once
// An in-memory port backend that plays a scripted controller and records what it
// was asked. Input arrives as chunks: each LookAhead on an empty receive buffer
// takes the next chunk whose delay has passed, so every chunk is one read of the
// receive loop. Replies can be tied to writes: the n-th Write queues the n-th reply.
// Time is the fake clock's: waiting for data advances it to the next chunk's
// arrival, so scripted delays cost no wall-clock time.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ports/PortBackend.h"
#include "ports/PortSourceExceptions.h"
#include "support/FakeClock.h"

class ScriptedPort : public PortSourceUtils::PortBackend {
 public:
  explicit ScriptedPort(FakeClock& clock) : clock(clock), lastArrival(clock.MonotonicMs()) {}

  enum class ConnectOutcome { kConnect, kStayDown, kRefuse, kInvalid };

  struct Chunk {
    std::string data;
    int delayMs = 0;       // after the previous chunk arrived (or the write)
    int32_t failCode = 0;  // non-zero: LookAhead raises with this code instead
  };

  // Input that arrives without being asked for.
  void Arrive(std::string data, int delayMs = 0) {
    pending.push_back({std::move(data), delayMs, 0});
  }
  // The next look at the port fails with `code`.
  void FailLookAhead(int32_t code) { pending.push_back({"", 0, code}); }
  // The reply to the next Write that has none yet.
  void ReplyToWrite(std::vector<std::string> chunks) {
    replies.emplace_back();
    for (std::string& data : chunks) replies.back().push_back({std::move(data), 0, 0});
  }
  // After the last reply queued so far, the next look at the port fails with `code`.
  void FailAfterReply(int32_t code) { replies.back().push_back({"", 0, code}); }

  void Connect() override {
    ++connectCalls;
    ConnectOutcome outcome = ConnectOutcome::kConnect;
    if (!connectPlan.empty()) {
      outcome = connectPlan.front();
      connectPlan.pop_front();
    }
    if (outcome == ConnectOutcome::kConnect) connected = true;
    if (outcome == ConnectOutcome::kRefuse) {
      lastError = -111;
      throw PortSourceUtils::ConnectionException("NetPort.Connect(): refused");
    }
    if (outcome == ConnectOutcome::kInvalid) {
      throw PortSourceUtils::InvalidPortException("SerPort.Connect(): no such device");
    }
  }

  bool IsConnected() override {
    if (dropWhenDrained && pending.empty() && buffer.empty()) connected = false;
    return connected;
  }

  std::string LookAhead() override {
    ++lookAheads;
    if (buffer.empty() && !pending.empty() && clock.MonotonicMs() >= Due()) {
      Chunk chunk = std::move(pending.front());
      pending.pop_front();
      lastArrival = clock.MonotonicMs();
      if (chunk.failCode != 0) {
        lastError = chunk.failCode;
        throw PortSourceUtils::PortSourceException("LookAhead failed. LastError:" +
                                                   std::to_string(chunk.failCode));
      }
      buffer = std::move(chunk.data);
    }
    return buffer;
  }

  std::string Read(int32_t count) override {
    std::string out = buffer.substr(0, static_cast<size_t>(count));
    buffer.erase(0, out.size());
    return out;
  }

  std::string ReadAll() override {
    std::string out;
    out.swap(buffer);
    return out;
  }

  void Write(const std::string& text) override {
    writes.push_back(text);
    lastArrival = clock.MonotonicMs();
    if (replies.empty()) return;
    for (Chunk& chunk : replies.front()) pending.push_back(std::move(chunk));
    replies.pop_front();
  }

  void Purge(int32_t ms) override {
    purges.push_back(ms);
    buffer.clear();
  }

  void Poll() override {
    ++polls;
    if (connectAfterPolls > 0 && --connectAfterPolls == 0) connected = true;
  }

  int32_t LastErrorCode() override { return lastError; }
  void SetConnectTimeoutMs(int32_t ms) override { connectTimeoutMs = ms; }
  void Close() override { connected = false; }

  // Returns at once when input is waiting; otherwise advances the clock to the
  // next chunk's arrival, or by `ms` when none is due sooner, as a real wait would.
  void WaitForData(int32_t ms, const PortSourceUtils::WaitCue& cue) override {
    ++waits;
    bytesAhead.push_back(cue.bytesAhead);
    if (!buffer.empty()) return;
    const int64_t limit = clock.MonotonicMs() + (ms > 0 ? ms : 0);
    clock.AdvanceTo(!pending.empty() && Due() < limit ? Due() : limit);
  }

  int64_t Due() const { return lastArrival + pending.front().delayMs; }

  FakeClock& clock;
  std::deque<Chunk> pending;
  std::deque<std::vector<Chunk>> replies;
  std::string buffer;
  int64_t lastArrival;

  bool connected = true;
  bool dropWhenDrained = false;  // the link goes down once all input was read
  std::deque<ConnectOutcome> connectPlan;
  int connectAfterPolls = 0;  // > 0: Poll connects on this call
  int32_t connectTimeoutMs = -1;
  int32_t lastError = 0;

  std::vector<std::string> writes;
  std::vector<int32_t> purges;
  int connectCalls = 0;
  int lookAheads = 0;
  int polls = 0;
  int waits = 0;
  std::vector<size_t> bytesAhead;  // what each wait was told must come first
};
