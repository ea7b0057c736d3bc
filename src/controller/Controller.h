#pragma once
// Controller: speaks the controller's line-oriented text dialogue over one
// PortSource. It opens the port, wakes the controller until it shows its prompt,
// sends the commands of a download run and collects every byte of the replies in
// rawBuffer, which the subscribers of RawDataAvailable and GotPrompt drain with
// ReadRawData.
//
// Single-threaded. Events and log lines are raised synchronously from inside the
// running call; a handler may call ReadRawData but must not start another command.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/Clock.h"
#include "base/DialogueWords.h"
#include "controller/ControllerSettings.h"
#include "ports/PortSource.h"
#include "recovery/RecordLog.h"

class Controller {
 public:
  // The requests a run has written, for its journal.
  struct RequestCounts {
    int32_t getdata = 0;
    int32_t getlog = 0;
    int64_t records = 0;  // the counts asked for by getdata and getlog
  };

  // The most a reply to a request for C records can legitimately hold: a few
  // lines per record plus slack for the echo, "done" and the prompt, and bytes
  // very generously (records of the longest kind, many times over). A reply
  // that goes past either bound is not a reply: it ends like a time-out.
  static constexpr int64_t kReplyLinesPerRecord = 4;
  static constexpr int64_t kReplySlackLines = 64;
  static constexpr int64_t kReplyBytesPerRecord = 256 * 1024;
  static constexpr int64_t kReplySlackBytes = 1024 * 1024;

  // Receives (severity, text); severities are "FATAL", "WARNING", "INFO", "DEBUG".
  using LogSinkFunction = std::function<void(const std::string&, const std::string&)>;
  // Receives a text shown outside the log, with its line end.
  using TextSinkFunction = std::function<void(const std::string&)>;
  using EventFunction = std::function<void(Controller&)>;
  using PendingEventsFunction = std::function<void()>;
  // Builds the port for GetPort from the port name and the serial line settings.
  using PortFactoryFunction = std::function<std::unique_ptr<PortSourceUtils::PortSource>(
      const std::string&, const PortSourceUtils::SerialSettings&)>;

  // `clock` times every wait and pause of the dialogue; it must outlive the
  // Controller.
  explicit Controller(Clock& clock = Clock::Get(), ControllerSettings settings = {});
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  const ControllerSettings& Settings() const { return mSettings; }
  // Takes effect from the next call (a port already made keeps its line settings).
  void SetSettings(ControllerSettings settings) { mSettings = std::move(settings); }

  // Replaces mPort with a new port from PortFactory and connects it, trying up to
  // connectAttemptMaxTries times, each taking up to connectAttemptTimeout
  // seconds (the limit of the connect itself included). A ConnectionException
  // from Connect is swallowed; other exceptions
  // (the factory's InvalidPortException among them) pass through, leaving mPort
  // null when the factory raised. Raises TimeoutException when no attempt connected.
  void GetPort();

  // Sends a carriage return and waits for the prompt, up to `count` times.
  // Raises PortSourceException when no attempt saw the prompt.
  void GetPrompt(int32_t count, int32_t timeout);

  // Collects input until `prompt` ends rawBuffer (letter case ignored) or `timeout`
  // seconds pass without a byte arriving (0: under one second, see
  // PortSourceUtils::TimeoutMs). Input after the prompt is discarded.
  // Returns 0 prompt seen, 1 timed out (a port that drops counts as timed out),
  // -1 port not connected at the start or a read error. `terminator` is unused.
  int32_t waitForPrompt(const std::string& prompt, int32_t timeout, uint8_t terminator);

  // As waitForPrompt, and also notes a "done" that stands right before a carriage
  // return or line feed. Returns 1 "done" and prompt seen, 2 prompt without "done",
  // 0 timed out, -1 port not connected at the start or a read error.
  int32_t waitForDonePrompt(const std::string& prompt, int32_t timeout, uint8_t terminator);

  // Sends "getdata <count>" until the reply ends with "done" and the prompt, at
  // most connectAttemptMaxTries times (at least once). Raises TimeoutException
  // on silence, when every reply lacked "done" or when a reply went past what
  // `count` records can hold (the message names the bound), PortSourceException
  // on a port error; all after a FATAL log line. Every byte received stays in
  // rawBuffer or has been handed to the subscribers.
  void GetRecentData(int32_t count, int32_t timeout);

  // Sends "logs" and waits once for the prompt: 0 prompt seen, 1 timed out,
  // -1 port error.
  int32_t GetLogs(int32_t timeout);

  // Sends "getlog <first> <count>" and waits once for the prompt; results as
  // GetLogs. A reply that goes past what `count` records can hold counts as
  // timed out.
  int32_t GetDataByRecordNumber(int32_t first, int32_t count, int32_t timeout);

  // Hands over everything gathered since the last call and empties rawBuffer.
  std::string ReadRawData();

  // Asks again, in requests of at most `requestSize` records (at least 1), for the
  // records that `log` lists as missing, up to mRecordsLogged (the plan of
  // recovery/RequestPlan.h). Logs a warning and does nothing when `log` is null
  // or has no received ranges, or mRecordsLogged is not known yet. Stops at the
  // first request that gets no prompt: TimeoutException on silence or a reply
  // past its bound, PortSourceException on a port error; the message names the
  // request and how many requests were left unsent ("...; 3 requests left").
  void GetMissingRecords(const RecordRecoveryUtils::RecordLog* log, int32_t requestSize,
                         int32_t timeout);

  // Sends "quit" without waiting for a reply.
  void SendQuit();

  // Every byte received since the last ReadRawData, in arrival order.
  std::string rawBuffer;
  // The port; null until GetPort. Owned.
  std::unique_ptr<PortSourceUtils::PortSource> mPort;
  // The controller's logged-record count; -1 until the application learns it.
  int32_t mRecordsLogged = -1;

  // Raised after a line feed was appended to rawBuffer, after 64 KiB arrived
  // without one, and once more just before GotPrompt. Empty = nobody subscribed.
  EventFunction RawDataAvailable;
  // Raised when the prompt was recognised and the remaining input discarded.
  EventFunction GotPrompt;
  // Where log lines go; the default discards them.
  LogSinkFunction LogSink;
  // Where the one report the dialogue shows outside the log goes (the prompt
  // wait finding the port not connected); the default discards it.
  TextSinkFunction ConsoleSink;
  // Replaceable so tests can hand in a port with a scripted backend.
  PortFactoryFunction PortFactory;
  // The application's turn at pending events, given to every port GetPort
  // makes (see PortSource::SetPendingEvents), and taken by the receive loops
  // after each read, so what came is stored before the next wait; empty: none.
  PendingEventsFunction PendingEvents;
  // Counted when a getdata or getlog command has been written.
  RequestCounts mRequestCounts;

  // Input without a line feed is handed over in pieces of this size at most.
  static constexpr size_t kMaxBytesWithoutEvent = 64 * 1024;

 private:
  struct ReceiveResult {
    bool gotPrompt = false;
    bool gotDone = false;
    bool portError = false;
    // Set when the reply went past its bound, e.g. "reply exceeded 184 lines for 30 records".
    std::string overBound;
  };
  // Limits of one reply; 0 = none.
  struct ReplyBound {
    int64_t records = 0;
    int64_t lines = 0;
    int64_t bytes = 0;
    // The records the reply surely holds (a line end each) before its prompt:
    // the port may let them collect unseen. At most `records`.
    int64_t owed = 0;
  };
  static ReplyBound BoundFor(int32_t records);

  // The loop shared by waitForPrompt and waitForDonePrompt.
  ReceiveResult Receive(const std::string& prompt, int32_t timeout, bool watchDone,
                        const ReplyBound& bound);
  // The results and DEBUG lines of waitForPrompt and waitForDonePrompt.
  int32_t PromptCode(const ReceiveResult& r);
  int32_t DonePromptCode(const ReceiveResult& r);
  // GetDataByRecordNumber, with the details of how the wait ended.
  ReceiveResult RequestRecords(int32_t first, int32_t count, int32_t timeout);
  // Appends `chunk` to rawBuffer byte by byte in effect, raising the events; returns
  // true when the prompt was recognised (the rest of the chunk is then dropped).
  bool StageChunk(const std::string& chunk, const std::string& prompt, bool watchDone,
                  bool& gotDone);
  // Whether what the controller sent, up to now, ends with `suffix` (letter case
  // ignored), counting the bytes already handed over while no line feed came.
  bool ReceivedEndsWith(const std::string& suffix) const;
  void RaiseRawDataAvailable();
  // Hands over a long line without a line feed, keeping its tail for the end tests.
  void HandOverLongLine(size_t promptLength);

  void Log(const char* severity, const std::string& text);
  // The port, or PortSourceException when GetPort has not made one.
  PortSourceUtils::PortSource& Port();
  int32_t PortErrorCode();
  void SendLine(const std::string& line);

  // The last bytes handed over by HandOverLongLine: a line-feed-free prefix of
  // rawBuffer that ReceivedEndsWith still takes into account.
  std::string mHandedTail;
  Clock& mClock;
  ControllerSettings mSettings;
  // Bytes appended since RawDataAvailable was last raised.
  size_t mSinceEvent = 0;
};
