// Asking again for missing records: request splitting, the mRecordsLogged bound
// and the early returns.

#include <climits>

#include "ControllerFixture.h"
#include "recovery/RecordLog.h"
#include "recovery/RequestPlan.h"
#include "support/MessageOf.h"

namespace {

using RecordRecoveryUtils::RangeEntry;

class MissingRecordsTest : public ControllerFixture {
 protected:
  MissingRecordsTest() : log("unused.rcd") {
    log.receivedRanges.push_back(RangeEntry(1, 9));
    controller.mRecordsLogged = 1000;
    // Every request is answered at once so no wait runs into its time-out.
    for (int i = 0; i < 20; ++i) port->ReplyToWrite({"PELOX>"});
  }

  void Missing(std::vector<RangeEntry> ranges) { log.missingRanges = std::move(ranges); }

  RecordRecoveryUtils::RecordLog log;
};

TEST_F(MissingRecordsTest, SplitsARangeIntoRequestsOfAtMostTheRequestSize) {
  Missing({RangeEntry(10, 74)});
  controller.GetMissingRecords(&log, 30, 1);
  EXPECT_EQ(port->writes,
            (std::vector<std::string>{"getlog 10 30\r", "getlog 40 30\r", "getlog 70 5\r"}));
  EXPECT_TRUE(Logged("INFO GetMissingRecords() requesting records in range 10-74"));
  EXPECT_TRUE(Logged("INFO GetMissingRecords(): nextmin:70  nextmax:74 n2get:5"));
}

TEST_F(MissingRecordsTest, RangesBeyondTheControllersRecordsWarnOnceAndAreNotWalked) {
  controller.mRecordsLogged = 50;
  std::vector<RangeEntry> ranges = {RangeEntry(20, 25)};
  for (int32_t min = 60; min < 6000000; min += 20) ranges.push_back(RangeEntry(min, min + 9));
  Missing(ranges);
  controller.GetMissingRecords(&log, 30, 1);
  EXPECT_EQ(port->writes, std::vector<std::string>{"getlog 20 6\r"});
  EXPECT_EQ(logs, (std::vector<std::string>{
                      "INFO GetMissingRecords() requesting records in range 20-25",
                      "INFO GetMissingRecords(): nextmin:20  nextmax:25 n2get:6",
                      "DEBUG Port.Write: getlog 20 6", "DEBUG waitForPrompt: got prompt",
                      "INFO GetMissingRecords() requesting records in range 60-69",
                      "WARNING GetMissingRecords(): is requesting records beyond last record the "
                      "controller has in memory: requested start:60  lastrecord:50",
                      "WARNING GetMissingRecords():your controller's extract.rcd file appears to "
                      "be out-of-sync with what is presently on the controller."}));
}

TEST_F(MissingRecordsTest, RangePartlyBeyondStopsWhereARequestWouldStartPastIt) {
  controller.mRecordsLogged = 45;
  Missing({RangeEntry(10, 100)});
  controller.GetMissingRecords(&log, 30, 1);
  EXPECT_EQ(port->writes, (std::vector<std::string>{"getlog 10 30\r", "getlog 40 30\r"}));
  EXPECT_TRUE(Logged(
      "WARNING GetMissingRecords(): is requesting records beyond last record the controller has "
      "in memory: requested start:70  lastrecord:45"));
}

TEST_F(MissingRecordsTest, RangesAtTheTopOfTheInt32RangeDoNotWrap) {
  controller.mRecordsLogged = INT32_MAX;
  Missing({RangeEntry(INT32_MAX - 7, INT32_MAX)});
  controller.GetMissingRecords(&log, 5, 1);
  controller.GetMissingRecords(&log, INT32_MAX, 1);
  EXPECT_EQ(port->writes,
            (std::vector<std::string>{"getlog 2147483640 5\r", "getlog 2147483645 3\r",
                                      "getlog 2147483640 8\r"}));
}

TEST_F(MissingRecordsTest, RequestSizeBelowOneStillAdvances) {
  Missing({RangeEntry(5, 6)});
  controller.GetMissingRecords(&log, 0, 1);
  EXPECT_EQ(port->writes, (std::vector<std::string>{"getlog 5 1\r", "getlog 6 1\r"}));
}

TEST_F(MissingRecordsTest, ReturnsEarlyWithoutALogOrARecordCount) {
  Missing({RangeEntry(10, 20)});
  controller.GetMissingRecords(nullptr, 30, 1);
  log.receivedRanges.clear();
  controller.GetMissingRecords(&log, 30, 1);
  EXPECT_EQ(logs,
            std::vector<std::string>(2, "WARNING GetMissingRecords(): record log not initialized"));

  logs.clear();
  log.receivedRanges.push_back(RangeEntry(1, 9));
  controller.mRecordsLogged = -1;
  controller.GetMissingRecords(&log, 30, 1);
  EXPECT_EQ(logs, std::vector<std::string>{
                      "WARNING GetMissingRecords(): mRecordsLogged has not initialized by a call "
                      "to controllers 'logs' cmd"});
  EXPECT_TRUE(port->writes.empty());
}

// A controller that goes away: the rest of the list is not asked for.

TEST_F(MissingRecordsTest, TheFirstGetlogWithoutAReplyEndsRecovery) {
  port->replies.clear();
  port->ReplyToWrite({"R10\r\nPELOX>"});
  Missing({RangeEntry(10, 74), RangeEntry(80, 100)});
  EXPECT_EQ(MessageOf<PortSourceUtils::TimeoutException>(
                [&] { controller.GetMissingRecords(&log, 30, 25); }),
            "GetMissingRecords(): no reply to getlog 40 30; 2 requests left");
  EXPECT_EQ(port->writes, (std::vector<std::string>{"getlog 10 30\r", "getlog 40 30\r"}));
  EXPECT_EQ(captured, "R10\r\nPELOX>");
}

TEST_F(MissingRecordsTest, APortErrorOrAnEndlessReplyEndsRecovery) {
  port->replies.clear();
  port->ReplyToWrite({"PELOX>"});
  port->ReplyToWrite({"R11\r\n"});
  port->FailAfterReply(-104);
  Missing({RangeEntry(10, 12)});
  try {
    controller.GetMissingRecords(&log, 1, 25);
    FAIL() << "no exception";
  } catch (const PortSourceUtils::TimeoutException&) {
    FAIL() << "a port error is not a time-out";
  } catch (const PortSourceUtils::PortSourceException& e) {
    EXPECT_EQ(e.Message,
              "GetMissingRecords(): port error after getlog 11 1, LastErrorCode:-104; 1 requests "
              "left");
  }
  EXPECT_EQ(captured + controller.ReadRawData(), "PELOX>R11\r\n");

  port->pending.clear();
  port->lastError = 0;
  port->ReplyToWrite({std::string(69, '\n')});  // 4 lines per record and 64 more at most
  EXPECT_EQ(MessageOf<PortSourceUtils::TimeoutException>(
                [&] { controller.GetMissingRecords(&log, 1, 25); }),
            "GetMissingRecords(): reply exceeded 68 lines for 1 records after getlog 10 1; 2 "
            "requests left");
}

TEST(RequestPlan, HoldsAnyNumberOfRequestsInConstantSpace) {
  RecordRecoveryUtils::RecordLog log("unused.rcd");
  log.missingRanges = {RangeEntry(0, 2000000000), RangeEntry(2000000005, INT32_MAX)};
  const auto plan = RecordRecoveryUtils::PlanMissingRequests(log, INT32_MAX, 1);
  EXPECT_EQ(plan.ranges.size(), 2u);
  EXPECT_EQ(plan.RequestCount(), 2000000001 + (INT32_MAX - 2000000005 + 1));
  EXPECT_EQ(plan.RequestAt(plan.ranges[1], plan.RequestsIn(plan.ranges[1]) - 1),
            (RecordRecoveryUtils::RecordRequest{INT32_MAX, 1}));
  EXPECT_EQ(plan.beyondStart, -1);
}

}  // namespace
