// Asking again for missing records: request splitting, the mRecordsLogged bound
// and the early returns.

#include <climits>

#include "ControllerFixture.h"
#include "recovery/RecordLog.h"

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

TEST_F(MissingRecordsTest, RangeBeyondTheControllersRecordsWarnsAndTheNextRangeIsTried) {
  controller.mRecordsLogged = 50;
  Missing({RangeEntry(60, 70), RangeEntry(20, 25)});
  controller.GetMissingRecords(&log, 30, 1);
  EXPECT_EQ(port->writes, std::vector<std::string>{"getlog 20 6\r"});
  EXPECT_TRUE(Logged(
      "WARNING GetMissingRecords(): is requesting records beyond last record the controller has "
      "in memory: requested start:60  lastrecord:50"));
  EXPECT_TRUE(Logged(
      "WARNING GetMissingRecords():your controller's extract.rcd file appears to be out-of-sync "
      "with what is presently on the controller."));
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

}  // namespace
