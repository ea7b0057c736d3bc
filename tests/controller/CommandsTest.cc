// Port acquisition, the wake-up, and the lines the commands send.

#include <algorithm>

#include "ControllerFixture.h"
#include "support/MessageOf.h"

namespace {

using Outcome = ScriptedPort::ConnectOutcome;
using PortSourceUtils::PortSourceException;
using PortSourceUtils::TimeoutException;

class CommandsTest : public ControllerFixture {
 protected:
  // Makes GetPort build a scripted port that connects as `plan` says.
  void ScriptGetPort(std::deque<Outcome> plan) {
    controller.PortFactory = [this, plan](const std::string& name,
                                          const PortSourceUtils::SerialSettings& serial) {
      factoryArgs = name + " " + std::to_string(serial.baud) + " " +
                    std::to_string(static_cast<int32_t>(serial.parity)) + " " +
                    std::to_string(static_cast<int32_t>(serial.dataBits)) + " " +
                    std::to_string(static_cast<int32_t>(serial.stopBits)) + " " +
                    std::to_string(static_cast<int32_t>(serial.flow));
      auto backend = std::make_unique<ScriptedPort>(clock);
      backend->connected = false;
      backend->connectPlan = plan;
      port = backend.get();
      return std::make_unique<PortSourceUtils::PortSource>(std::move(backend));
    };
  }

  std::string factoryArgs;
};

TEST_F(CommandsTest, GetPortSwallowsRefusalsAndRetries) {
  ScriptGetPort({Outcome::kRefuse, Outcome::kStayDown, Outcome::kConnect});
  controller.SetSettings(
      {.portName = "10.0.0.5:4001", .connectAttemptMaxTries = 5, .connectAttemptTimeout = 2});
  const int64_t begin = clock.MonotonicMs();
  controller.GetPort();
  // Two failed attempts wait out their time-out; the third connects at once.
  EXPECT_GE(clock.MonotonicMs() - begin, 2 * 2000);
  EXPECT_LT(clock.MonotonicMs() - begin, 2 * 2000 + 1000);
  EXPECT_EQ(factoryArgs, "10.0.0.5:4001 8 0 3 0 0");
  EXPECT_EQ(port->connectTimeoutMs, 2000);  // the connect itself waits no longer
  EXPECT_EQ(port->connectCalls, 3);
  EXPECT_EQ(port->purges, std::vector<int32_t>{500});
  EXPECT_TRUE(Logged("DEBUG getPort: Attempt 1 of 5"));
  EXPECT_TRUE(Logged("DEBUG getPort: Attempt 3 of 5"));
  EXPECT_FALSE(Logged("DEBUG getPort: Attempt 4 of 5"));
}

TEST_F(CommandsTest, GetPortWaitsForAConnectionThatCompletesWhilePolling) {
  ScriptGetPort({Outcome::kStayDown});
  controller.SetSettings({.connectAttemptTimeout = 2});
  controller.PortFactory = [inner = controller.PortFactory, this](auto&&... args) {
    auto made = inner(args...);
    port->connectAfterPolls = 3;
    return made;
  };
  controller.GetPort();
  EXPECT_EQ(port->connectCalls, 1);
  EXPECT_EQ(port->polls, 3);
}

TEST_F(CommandsTest, GetPortTimesOutAfterTheLastAttempt) {
  ScriptGetPort({Outcome::kRefuse, Outcome::kRefuse, Outcome::kRefuse});
  controller.SetSettings({.connectAttemptMaxTries = 3, .connectAttemptTimeout = 1});
  try {
    controller.GetPort();
    FAIL() << "no exception";
  } catch (const TimeoutException& e) {
    EXPECT_EQ(e.Message, "getPort(): Timed out, could not connect.\nLastErrorCode:-111");
  }
  EXPECT_EQ(port->connectCalls, 3);
  ASSERT_NE(controller.mPort, nullptr);
}

TEST_F(CommandsTest, GetPortPassesOtherErrorsThrough) {
  ScriptGetPort({Outcome::kInvalid});
  EXPECT_THROW(controller.GetPort(), PortSourceUtils::InvalidPortException);

  controller.PortFactory = [](auto&&...) -> std::unique_ptr<PortSourceUtils::PortSource> {
    throw PortSourceUtils::InvalidPortException("PortSource.Constructor():nope");
  };
  EXPECT_THROW(controller.GetPort(), PortSourceUtils::InvalidPortException);
  EXPECT_EQ(controller.mPort, nullptr);
}

TEST_F(CommandsTest, GetPromptWakesUntilThePromptShows) {
  port->ReplyToWrite({});
  port->ReplyToWrite({"\r\nPELOX>"});
  controller.GetPrompt(3, 0);
  EXPECT_EQ(port->writes, (std::vector<std::string>{"\r", "\r"}));
  EXPECT_TRUE(Logged("DEBUG GetPrompt(): Attempt 2 of 3 Port.Write: \\r "));
  EXPECT_EQ(captured, "\r\nPELOX>");
}

TEST_F(CommandsTest, GetPromptGivesUpAfterCountAttempts) {
  port->lastError = -5;
  try {
    controller.GetPrompt(2, 1);
    FAIL() << "no exception";
  } catch (const TimeoutException&) {
    FAIL() << "must be the base port exception";
  } catch (const PortSourceException& e) {
    EXPECT_EQ(e.Message, "getPeloxPrompt(): Timed out, could not connect.\nLastErrorCode:-5");
  }
  EXPECT_EQ(port->writes.size(), 2u);
}

TEST_F(CommandsTest, CommandsWriteTheirLinesAndLogThem) {
  port->ReplyToWrite({"Records logged: 120\r\nPELOX>"});
  EXPECT_EQ(controller.GetLogs(1), 0);
  port->ReplyToWrite({"PELOX>"});
  EXPECT_EQ(controller.GetDataByRecordNumber(10, 30, 1), 0);
  const int lookAheads = port->lookAheads;
  port->Arrive("unread");
  controller.SendQuit();
  EXPECT_EQ(port->lookAheads, lookAheads);  // "quit" waits for nothing

  EXPECT_EQ(port->writes, (std::vector<std::string>{"logs\r", "getlog 10 30\r", "quit\r"}));
  EXPECT_EQ(controller.mRequestCounts.getlog, 1);
  EXPECT_EQ(controller.mRequestCounts.getdata, 0);
  EXPECT_EQ(controller.mRequestCounts.records, 30);
  EXPECT_TRUE(Logged("DEBUG Port.Write: logs"));
  EXPECT_TRUE(Logged("DEBUG Port.Write: getlog 10 30"));
  EXPECT_TRUE(Logged("DEBUG Port.Write: quit"));
  EXPECT_EQ(captured, "Records logged: 120\r\nPELOX>PELOX>");
}

TEST_F(CommandsTest, GetLogsReportsSilenceAndPortErrors) {
  EXPECT_EQ(controller.GetLogs(0), 1);
  port->FailLookAhead(-104);
  EXPECT_EQ(controller.GetLogs(0), -1);
}

TEST_F(CommandsTest, CommandsWithoutAPortRaise) {
  controller.mPort.reset();
  EXPECT_THROW(controller.SendQuit(), PortSourceException);
  EXPECT_THROW(controller.GetPrompt(1, 1), PortSourceException);
}

TEST_F(CommandsTest, GetRecentDataSendsAgainUntilDone) {
  port->ReplyToWrite({"rec 1\r\n", "PELOX>"});
  port->ReplyToWrite({"rec 1\r\nrec 2\r\ndone\r\n", "PELOX>"});
  controller.GetRecentData(30, 1);
  EXPECT_EQ(port->writes, (std::vector<std::string>{"getdata 30\r", "getdata 30\r"}));
  EXPECT_TRUE(Logged("DEBUG Port.Write: getdata 30"));
  EXPECT_EQ(captured, "rec 1\r\nPELOX>rec 1\r\nrec 2\r\ndone\r\nPELOX>");
  EXPECT_EQ(controller.mRequestCounts.getdata, 2);
  EXPECT_EQ(controller.mRequestCounts.records, 60);
}

TEST_F(CommandsTest, ARecordReplyOwesALineEndPerRecordUntilItsRecordsAreIn) {
  port->ReplyToWrite({});
  port->Arrive("\r\nrec 1\r\n", 100);
  port->Arrive("rec 2\r\n", 100);
  port->Arrive("rec 3\r\n", 100);
  port->Arrive("done\r\nPELOX>", 100);
  controller.GetRecentData(3, 5);
  const std::vector<size_t>& owed = port->bytesAhead;
  ASSERT_FALSE(owed.empty());
  EXPECT_EQ(owed.front(), 3u);
  EXPECT_EQ(owed.back(), 0u);  // the prompt can come next: nothing may hold it back
  EXPECT_TRUE(std::is_sorted(owed.rbegin(), owed.rend()));

  // A controller that logged fewer records than asked for owes only those.
  for (int32_t logged : {0, 2, 5}) {
    controller.mRecordsLogged = logged;
    port->bytesAhead.clear();
    port->ReplyToWrite({});
    port->Arrive("\r\nrec 1\r\nrec 2\r\ndone\r\nPELOX>", 100);
    controller.GetRecentData(3, 5);
    ASSERT_FALSE(owed.empty());
    EXPECT_EQ(owed.front(), static_cast<size_t>(std::min(logged, 3))) << logged;
  }
}

TEST_F(CommandsTest, GetRecentDataGivesUpOnAControllerThatNeverSaysDone) {
  controller.SetSettings({.connectAttemptMaxTries = 3});
  for (int i = 0; i < 5; ++i) port->ReplyToWrite({"rec\r\nPELOX>"});
  try {
    controller.GetRecentData(30, 1);
    FAIL() << "no exception";
  } catch (const TimeoutException& e) {
    EXPECT_EQ(e.Message, "GetRecentData() lost contact after getdata attempt:\n");
  }
  EXPECT_EQ(port->writes.size(), 3u);
  EXPECT_TRUE(Logged("FATAL GetRecentData() lost contact after getdata "));
}

TEST_F(CommandsTest, GetRecentDataRaisesOnSilenceAndOnPortErrors) {
  EXPECT_THROW(controller.GetRecentData(30, 0), TimeoutException);
  EXPECT_TRUE(Logged("FATAL GetRecentData() lost contact after getdata "));

  port->FailLookAhead(-104);
  try {
    controller.GetRecentData(30, 1);
    FAIL() << "no exception";
  } catch (const TimeoutException&) {
    FAIL() << "a port error is not a time-out";
  } catch (const PortSourceException& e) {
    EXPECT_EQ(e.Message, "GetRecentData() port error.  LastErrorCode was: -104\n");
  }
  EXPECT_TRUE(Logged("FATAL GetRecentData() port error.  LastErrorCode was: -104"));
}

// Replies bounded by what their records can hold.

TEST_F(CommandsTest, AnEndlessStreamOfRecordLinesEndsLikeATimeOutKeepingEveryByte) {
  // One record line every 47 ms: what a 9600 bit/s line carries.
  const std::string record = "R000001,2026-01-01 00:00:00,0.37,0.53,919   \r\n";
  std::string sent;
  port->ReplyToWrite({});
  for (int i = 0; i < 1000; ++i) {
    port->Arrive(record, 47);
    sent += record;
  }
  const int64_t begin = clock.MonotonicMs();
  EXPECT_EQ(MessageOf<TimeoutException>([&] { controller.GetRecentData(30, 25); }),
            "GetRecentData() reply exceeded 184 lines for 30 records after getdata 30\n");
  EXPECT_LT(clock.MonotonicMs() - begin, 30000);
  EXPECT_TRUE(
      Logged("FATAL GetRecentData() reply exceeded 184 lines for 30 records after getdata 30"));
  EXPECT_EQ(port->writes.size(), 1u);
  const std::string kept = captured + controller.ReadRawData();
  EXPECT_EQ(kept, sent.substr(0, kept.size()));
  EXPECT_EQ(kept.size(), 185 * record.size());
}

TEST_F(CommandsTest, ARecordReplyIsBoundedInBytesAndALegitimateOneIsNeverCut) {
  // Two records of 256 KiB each, slowly: within the bound, so the reply completes.
  const std::string longRecord = std::string(256 * 1024 - 2, 'x') + "\r\n";
  port->ReplyToWrite({});
  port->Arrive("\r\n" + longRecord, 20000);
  port->Arrive(longRecord, 20000);
  port->Arrive("done\r\nPELOX>", 20000);
  controller.GetRecentData(2, 25);
  EXPECT_EQ(captured.size(), 2 + 2 * longRecord.size() + 12);

  // A getlog reply without line ends that goes past the bound counts as timed out.
  captured.clear();
  port->ReplyToWrite({std::string(2 * 256 * 1024 + 1024 * 1024 + 1, 'z')});
  EXPECT_EQ(controller.GetDataByRecordNumber(1, 2, 25), 1);
  EXPECT_TRUE(Logged("DEBUG waitForPrompt: reply exceeded 1572864 bytes for 2 records"));
  EXPECT_EQ(captured + controller.ReadRawData(),
            std::string(2 * 256 * 1024 + 1024 * 1024 + 1, 'z'));
}

}  // namespace
