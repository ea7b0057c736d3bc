// Port acquisition, the wake-up and the controller's commands.

#include "controller/Controller.h"

#include <algorithm>

#include "base/Clock.h"
#include "base/DialogueWords.h"
#include "ports/PortSourceExceptions.h"
#include "ports/PortSourceUtils.h"
#include "recovery/RequestPlan.h"

using PortSourceUtils::PortSource;
using PortSourceUtils::PortSourceException;
using PortSourceUtils::TimeoutException;

Controller::Controller(Clock& clock, ControllerSettings settings)
    : LogSink([](const std::string&, const std::string&) {}),
      PortFactory([](const std::string& name, const PortSourceUtils::SerialSettings& serial) {
        return std::make_unique<PortSource>(name, serial);
      }),
      mClock(clock),
      mSettings(std::move(settings)) {}

void Controller::Log(const char* severity, const std::string& text) {
  if (LogSink) LogSink(severity, text);
}

PortSource& Controller::Port() {
  if (!mPort) throw PortSourceException("Controller: no port, GetPort() has not been called.");
  return *mPort;
}

int32_t Controller::PortErrorCode() { return mPort ? mPort->LastErrorCode() : 0; }

void Controller::GetPort() {
  // The old port is released first, so a factory that raises leaves none behind.
  mPort.reset();
  mPort = PortFactory(mSettings.portName, mSettings.serial);
  PortSource& port = Port();
  port.SetPendingEvents(PendingEvents);
  port.SetConnectTimeout(mSettings.connectAttemptTimeout);
  for (int32_t attempt = 1; attempt <= mSettings.connectAttemptMaxTries; ++attempt) {
    Log("DEBUG", "getPort: Attempt " + std::to_string(attempt) + " of " +
                     std::to_string(mSettings.connectAttemptMaxTries));
    // The attempt's time counts from before the connect, which may itself wait.
    const int64_t start = mClock.MonotonicMs();
    try {
      port.Connect();
    } catch (const PortSourceUtils::ConnectionException&) {
      // A refused or failed connect still waits out its time-out, then retries.
    }
    while (!port.IsConnected() && mClock.MonotonicMs() - start <=
                                      PortSourceUtils::TimeoutMs(mSettings.connectAttemptTimeout)) {
      port.WaitForData(10);
      mClock.SleepMs(25);
      port.Poll();
    }
    if (port.IsConnected()) {
      port.Purge(500);
      return;
    }
  }
  throw TimeoutException("getPort(): Timed out, could not connect.\nLastErrorCode:" +
                         std::to_string(port.LastErrorCode()));
}

void Controller::GetPrompt(int32_t count, int32_t timeout) {
  PortSource& port = Port();
  for (int32_t attempt = 1; attempt <= count; ++attempt) {
    Log("DEBUG", "GetPrompt(): Attempt " + std::to_string(attempt) + " of " +
                     std::to_string(count) + " Port.Write: \\r ");
    port.Write("\r");
    if (waitForPrompt(mSettings.prompt, timeout, 13) == 0) return;
  }
  throw PortSourceException("getPeloxPrompt(): Timed out, could not connect.\nLastErrorCode:" +
                            std::to_string(port.LastErrorCode()));
}

void Controller::SendLine(const std::string& line) {
  PortSource& port = Port();
  Log("DEBUG", "Port.Write: " + line);
  port.Write(line + "\r");
}

int32_t Controller::GetLogs(int32_t timeout) {
  SendLine(DialogueWords::kLogs);
  return waitForPrompt(mSettings.prompt, timeout, 13);
}

Controller::ReceiveResult Controller::RequestRecords(int32_t first, int32_t count,
                                                     int32_t timeout) {
  SendLine(RecordRecoveryUtils::RecordRequest{first, count}.Command());
  ++mRequestCounts.getlog;
  mRequestCounts.records += count;
  return Receive(mSettings.prompt, timeout, false, BoundFor(count));
}

int32_t Controller::GetDataByRecordNumber(int32_t first, int32_t count, int32_t timeout) {
  return PromptCode(RequestRecords(first, count, timeout));
}

void Controller::GetRecentData(int32_t count, int32_t timeout) {
  const std::string line = std::string(DialogueWords::kGetData) + " " + std::to_string(count);
  // A controller that keeps answering without "done" must not hold the run forever.
  const int32_t maxSends = std::max<int32_t>(1, mSettings.connectAttemptMaxTries);
  ReplyBound bound = BoundFor(count);
  // A controller holding fewer records than asked for sends only those: its
  // prompt must not wait behind lines that never come.
  if (mRecordsLogged >= 0) bound.owed = std::min<int64_t>(bound.owed, mRecordsLogged);
  for (int32_t send = 1; send <= maxSends; ++send) {
    SendLine(line);
    ++mRequestCounts.getdata;
    mRequestCounts.records += count;
    const ReceiveResult r = Receive(mSettings.prompt, timeout, true, bound);
    const int32_t rc = DonePromptCode(r);
    if (rc == 1) return;
    if (rc == -1) {
      const std::string text =
          "GetRecentData() port error.  LastErrorCode was: " + std::to_string(PortErrorCode());
      Log("FATAL", text);
      throw PortSourceException(text + "\n");
    }
    if (!r.overBound.empty()) {
      const std::string text = "GetRecentData() " + r.overBound + " after " + line;
      Log("FATAL", text);
      throw TimeoutException(text + "\n");
    }
    if (rc != 2) break;  // timed out
  }
  Log("FATAL", "GetRecentData() lost contact after getdata ");
  throw TimeoutException("GetRecentData() lost contact after getdata attempt:\n");
}

std::string Controller::ReadRawData() {
  std::string data;
  data.swap(rawBuffer);
  mHandedTail.clear();
  return data;
}

void Controller::SendQuit() { SendLine(DialogueWords::kQuit); }
