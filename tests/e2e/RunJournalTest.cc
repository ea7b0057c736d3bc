// The run journal beside the deployment: runs side by side, and a journal that
// cannot be written. Each way out of a run is checked where that way is tested.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "support/Sandbox.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A deployment that is locked: each run stops early, after reaching its folder.
void DeployLocked(Sandbox& box) {
  box.AddDeployment("site1", json{{"Name", "site1"}, {"Status", "Locked"}, {"Port", "x"}}.dump());
}

}  // namespace

TEST(RunJournal, RunsSideBySideLeaveOneWholeLineEach) {
  Sandbox box;
  DeployLocked(box);
  std::vector<std::unique_ptr<Subprocess>> runs;
  for (int i = 0; i < 8; ++i)
    runs.push_back(std::make_unique<Subprocess>(
        Sandbox::DownloadTool(), std::vector<std::string>{"-d", "site1"}, box.ProcessOptions()));
  for (auto& run : runs) EXPECT_EQ(run->Wait(std::chrono::seconds(60)), 1);
  std::string text = ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl");
  size_t lines = 0;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    json line = json::parse(text.substr(at, end - at));
    EXPECT_EQ(line["outcome"], "fatal");
    EXPECT_TRUE(line["session"].is_null());
    EXPECT_TRUE(line["port"].is_null());
    ++lines;
  }
  EXPECT_EQ(lines, 8u);
  EXPECT_TRUE(text.ends_with("\n"));
}

TEST(RunJournal, AJournalThatCannotBeWrittenOnlyWarns) {
  // A FIFO nobody reads would block a plain open until the run is killed.
  struct Case {
    bool fifo;
    const char* why;
  };
  for (const Case& c : {Case{false, "Is a directory"},
                        Case{true, "not a regular file (a FIFO or device); nothing written"}}) {
    Sandbox box;
    DeployLocked(box);
    const std::string journal = box.DeploymentFolder("site1") + "/runs.jsonl";
    if (c.fifo)
      ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
    else
      fs::create_directories(journal);
    auto r = box.Download({"-d", "site1"});
    EXPECT_EQ(r.status, 1);
    std::string log = WithoutTimeStamps(r.err);
    EXPECT_NE(log.find("(FATAL) : Status entry in deployment.cfg is not 'Active'"),
              std::string::npos);
    EXPECT_NE(
        log.find("(WARNING) : Unable to write the run journal " + journal + ": " + c.why + "\n"),
        std::string::npos)
        << log;
  }
}
