// The whole dialogue against the simulated controller, over TCP and over a
// pseudo-terminal, through real ports.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/NumberText.h"
#include "controller/Controller.h"
#include "recovery/RecordLog.h"
#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

using RecordRecoveryUtils::RangeEntry;

// How a record line of the simulator starts: "R" and six digits, then a comma.
std::string RecordId(int number) {
  std::string digits = std::to_string(number);
  return "R" + std::string(6 - digits.size(), '0') + digits + ",";
}

class SimDialogueTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Connects a controller to a simulator started with `extra` options.
  void Start(std::vector<std::string> extra, int32_t tries = 3) {
    std::vector<std::string> args = {std::string("--") + GetParam()};
    if (args[0] == "--tcp") args.push_back("0");
    args.insert(args.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimProcess>(box, args);
    controller.SetSettings(
        {.portName = sim->PortText(), .connectAttemptMaxTries = tries, .connectAttemptTimeout = 2});
    controller.RawDataAvailable = [this](Controller& c) { captured += c.ReadRawData(); };
    controller.GotPrompt = [this](Controller& c) { captured += c.ReadRawData(); };
    controller.GetPort();
    controller.GetPrompt(3, 2);
  }

  Sandbox box;
  std::unique_ptr<SimProcess> sim;
  Controller controller;
  std::string captured;
};

TEST_P(SimDialogueTest, DownloadsLogsRecentAndMissingRecords) {
  ASSERT_NO_FATAL_FAILURE(Start({"--records", "100"}));

  captured.clear();
  EXPECT_EQ(controller.GetLogs(2), 0);
  const size_t at = captured.find("Records logged:");
  ASSERT_NE(at, std::string::npos) << captured;
  controller.mRecordsLogged = NumberText::LeadingInt32(captured.substr(at + 15));
  EXPECT_EQ(controller.mRecordsLogged, 100);

  captured.clear();
  controller.GetRecentData(30, 2);
  EXPECT_NE(captured.find(RecordId(71)), std::string::npos);
  EXPECT_NE(captured.find(RecordId(100)), std::string::npos);
  EXPECT_NE(captured.find("done\r\n"), std::string::npos);

  RecordRecoveryUtils::RecordLog log("unused.rcd");
  log.receivedRanges = {RangeEntry(1, 9), RangeEntry(75, 100)};
  log.missingRanges = {RangeEntry(10, 74)};
  captured.clear();
  controller.GetMissingRecords(&log, 30, 2);
  for (int record = 10; record <= 74; ++record) {
    const std::string id = RecordId(record);
    EXPECT_NE(captured.find(id), std::string::npos) << id;
  }
  EXPECT_EQ(captured.find(RecordId(75)), std::string::npos);

  controller.SendQuit();
}

TEST_P(SimDialogueTest, AControllerThatNeverSaysDoneEndsAsATimeOut) {
  ASSERT_NO_FATAL_FAILURE(Start({"--no-done", "-1"}, 2));
  EXPECT_THROW(controller.GetRecentData(5, 2), PortSourceUtils::TimeoutException);
}

INSTANTIATE_TEST_SUITE_P(Links, SimDialogueTest, ::testing::Values("tcp", "pty"));

}  // namespace
