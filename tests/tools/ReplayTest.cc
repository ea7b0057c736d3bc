// pelox5-sim --replay: a session file cut into recorded replies, and a whole
// download run reproduced from the session of an earlier one.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "Replay.h"
#include "TempDir.h"
#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

namespace fs = std::filesystem;

std::string Drain(ReplySource& reply) {
  std::string all, block;
  bool more = true;
  while (more) {
    block.clear();
    more = reply.Fill(block, 4096);
    all += block;
  }
  return all;
}

}  // namespace

TEST(ReplayScriptTest, CutsTheSessionAfterEachPrompt) {
  TempDir dir;
  const std::string wake = "\r\nPELOX>";
  const std::string logs = "\r\nRecords logged: 80\r\nNext download is record 81\r\nPELOX>";
  // A long reply whose prompt starts 3 bytes before the scanner's 1 MiB block boundary.
  const size_t filler = (1 << 20) - 3 - wake.size() - logs.size() - 2 - 6;
  const std::string big = "\r\n" + std::string(filler, 'x') + "done\r\nPELOX>";
  const std::string getlog = "\r\nR000051,2026-01-01 00:50:00,18.87,2.03,569\r\nPELOX>";
  const std::string cut = "\r\nR0000";
  const std::string path = dir.Path() + "/raw.site1";
  WriteFile(path, wake + logs + big + getlog + cut);

  ReplayScript script(path, "PELOX>");
  ASSERT_EQ(script.Count(), 5u);
  const std::string parts[] = {wake, logs, big, getlog, cut};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(Drain(*script.Reply(i)), parts[i]) << i;

  using Words = std::vector<std::string>;
  EXPECT_EQ(script.Mismatch(0, {}), "");
  EXPECT_EQ(script.Mismatch(1, Words{"logs"}), "");
  EXPECT_EQ(script.Mismatch(2, Words{"getdata", "30"}), "");
  EXPECT_EQ(script.Mismatch(3, Words{"getlog", "51", "9"}), "");
  EXPECT_EQ(script.Mismatch(4, Words{"getlog", "60", "9"}), "");  // cut short: no record number
  EXPECT_EQ(script.Mismatch(0, Words{"logs"}), "a prompt alone (a wake-up's reply)");
  EXPECT_EQ(script.Mismatch(1, Words{"getdata", "30"}), "the reply to logs");
  EXPECT_EQ(script.Mismatch(2, Words{"getlog", "1", "5"}), "the reply to getdata");
  EXPECT_EQ(script.Mismatch(3, Words{"getlog", "41", "19"}), "records from 51");
  EXPECT_EQ(script.Mismatch(3, {}), "records from 51");
}

TEST(ReplayScriptTest, UnreadableFileIsAnError) {
  TempDir dir;
  EXPECT_THROW(ReplayScript(dir.Path() + "/none", "PELOX>"), SimError);
  EXPECT_THROW(ReplayScript(dir.Path(), "PELOX>"), SimError);
}

class ReplayRunTest : public ::testing::Test {
 protected:
  void Deploy(const std::string& port) {
    nlohmann::json cfg = {{"Name", "site1"},
                          {"Status", "Active"},
                          {"Port", port},
                          {"ConnectAttemptMaxTries", 2},
                          {"ConnectAttemptTimeout", 3},
                          {"ExtractReceivedRecordFile", "extract.rcd"}};
    box.AddDeployment("site1", cfg.dump(2));
  }
  // Runs the tool against `sim`; returns its one new session file, moved
  // out of the downloads folder so that the next run starts afresh.
  std::string RunAgainst(SimProcess& sim, const std::string& keepAs) {
    Deploy(sim.PortText());
    auto r = box.Download({"-d", "site1"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto files = box.SessionFiles("site1");
    EXPECT_EQ(files.size(), 1u);
    if (files.empty()) return "";
    fs::rename(files[0], keepAs);
    return ReadFile(keepAs);
  }

  Sandbox box;
};

TEST_F(ReplayRunTest, ReproducesARecordedRunByteForByte) {
  fs::create_directories(box.DeploymentFolder("site1"));
  WriteFile(box.DeploymentFolder("site1") + "/extract.rcd", "1-50,60-80\n");
  const std::string recorded = box.Root() + "/recorded";
  std::string original;
  {
    SimProcess sim(box, {"--tcp", "0", "--records", "100"});
    original = RunAgainst(sim, recorded);
  }
  ASSERT_FALSE(original.empty());

  // With --once each replay ends after the run's connection, so its standard
  // error is complete once it has exited.
  SimProcess replay(box, {"--tcp", "0", "--once", "--replay", recorded});
  std::string again = RunAgainst(replay, box.Root() + "/replayed");
  EXPECT_EQ(again, original);
  ASSERT_EQ(replay.Process().Wait(std::chrono::seconds(20)), 0);
  EXPECT_EQ(replay.Commands(), "\nlogs\ngetdata 30\ngetlog 0 1\ngetlog 51 9\nquit\n");
  EXPECT_EQ(replay.Process().Stderr(), "");

  // Another record recovery file makes the tool ask for other records: the
  // replay still answers in order, and says where the run left the recording.
  WriteFile(box.DeploymentFolder("site1") + "/extract.rcd", "1-40,60-80\n");
  SimProcess differs(box, {"--tcp", "0", "--once", "--replay", recorded});
  RunAgainst(differs, box.Root() + "/differs");
  ASSERT_EQ(differs.Process().Wait(std::chrono::seconds(20)), 0);
  EXPECT_EQ(differs.Process().Stderr(),
            "pelox5-sim: replay: command 5 \"getlog 41 19\" differs from the recording: "
            "recorded reply 5 of 5 is records from 51\n");

  // Fewer commands than the recording: the replies left over are reported.
  WriteFile(box.DeploymentFolder("site1") + "/extract.rcd", "1-80\n");
  SimProcess fewer(box, {"--tcp", "0", "--once", "--replay", recorded});
  RunAgainst(fewer, box.Root() + "/fewer");
  ASSERT_EQ(fewer.Process().Wait(std::chrono::seconds(20)), 0);
  EXPECT_EQ(fewer.Process().Stderr(),
            "pelox5-sim: replay: quit (command 5) after 4 of 5 recorded replies\n");
}
