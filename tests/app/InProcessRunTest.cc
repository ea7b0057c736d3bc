// Whole download runs in process: the App on a fake clock, its controller behind a
// scripted port, its log captured. The run's stages, their log lines and the exit
// status are checked here without processes, sockets or waiting.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/App.h"
#include "ports/PortSource.h"
#include "support/FakeClock.h"
#include "support/Sandbox.h"
#include "support/ScriptedPort.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class InProcessRun : public ::testing::Test {
 protected:
  InProcessRun() {
    // The run finds its preferences and project through the environment.
    for (const auto& [key, value] : box.ProcessOptions().env) {
      if (const char* old = std::getenv(key.c_str()))
        mOldEnv[key] = old;
      else
        mOldEnv[key] = std::nullopt;
      ::setenv(key.c_str(), value.c_str(), 1);
    }
  }
  ~InProcessRun() override {
    for (const auto& [key, value] : mOldEnv)
      value ? ::setenv(key.c_str(), value->c_str(), 1) : ::unsetenv(key.c_str());
  }

  static json Cfg() {
    return {{"Name", "site1"},
            {"Status", "Active"},
            {"Port", "127.0.0.1:4001"},
            {"ConnectAttemptMaxTries", 2},
            {"ConnectAttemptTimeout", 3},
            {"ExtractReceivedRecordFile", "extract.rcd"}};
  }

  // A controller that shows its prompt, tells its count and sends `records`.
  void ScriptController(const std::string& records) {
    port->ReplyToWrite({"\r\nPELOX>"});
    port->ReplyToWrite({"logs\r\nRecords logged: 3\r\nNext download is record 1\r\nPELOX>"});
    port->ReplyToWrite({"getdata 30\r\n" + records + "done\r\nPELOX>"});
  }

  // Each run gets a new App, kept until the next run or the end of the test: it
  // owns the port it was handed.
  int Run() {
    app = std::make_unique<App>(App::Seams{clock,
                                           [this](const std::string& name, auto...) {
                                             portName = name;
                                             return std::make_unique<PortSourceUtils::PortSource>(
                                                 std::move(backend));
                                           },
                                           [this](const std::string& text) { err += text; }});
    return app->Main({"pelox5-download", "-d", "site1", "-l", "DEBUG"});
  }

  testing::AssertionResult Logged(const std::string& line) const {
    const std::string log = WithoutTimeStamps(err);
    if (log.find(line) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "not logged: " << line << "\nlog:\n" << log;
  }

  Sandbox box;
  FakeClock clock;
  std::unique_ptr<ScriptedPort> backend = std::make_unique<ScriptedPort>(clock);
  ScriptedPort* port = backend.get();
  std::string portName;
  std::string err;
  std::unique_ptr<App> app;

 private:
  std::map<std::string, std::optional<std::string>> mOldEnv;
};

TEST_F(InProcessRun, AWholeDownloadOnTheFakeClock) {
  box.AddDeployment("site1", Cfg().dump());
  const std::string records = "R1,2026-01-01 00:00:00,1\r\nR2,2026-01-01 00:10:00,2\r\n";
  ScriptController(records);
  clock.SetWallSeconds(1796839494);

  ASSERT_EQ(Run(), 0) << err;
  EXPECT_EQ(portName, "127.0.0.1:4001");
  EXPECT_EQ(port->writes, (std::vector<std::string>{"\r", "logs\r", "getdata 30\r", "quit\r"}));
  // The stages in order, each with its own lines.
  size_t at = 0;
  for (const std::string& line :
       {"(WARNING) : Deployments path:" + box.ProjectFolder() + "\n",
        "(INFO) : Getting deployment config file:" + box.ProjectFolder() +
            "/site1/cfg/deployment.cfg\n",
        std::string("(INFO) : Port requested:127.0.0.1:4001\n"),
        std::string("(INFO) : Connect(): Acquired PortSource.\n"),
        std::string("(INFO) : Call GetRecentData()\n"),
        std::string("(WARNING) : record recovery log has not been initialized."),
        std::string("(DEBUG) : Done.\n")}) {
    const size_t found = WithoutTimeStamps(err).find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << WithoutTimeStamps(err);
    at = found;
  }
  // Every byte after the wake-up lands in the session file, named by the fake clock.
  const auto files = box.SessionFiles("site1");
  ASSERT_EQ(files.size(), 1u);
  const std::tm local = Clock::LocalTimeOf(1796839494);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%j.%H%M%S", &local);
  EXPECT_EQ(fs::path(files[0]).filename(), std::string("raw.site1.") + stamp);
  EXPECT_NE(ReadFile(files[0]).find("getdata 30\r\n" + records + "done\r\nPELOX>"),
            std::string::npos);
  const json journal = json::parse(ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl"));
  EXPECT_EQ(journal["outcome"], "complete");
  EXPECT_EQ(journal["records_logged"], 3);
}

// Each refusal of the cfg: its FATAL line, status 1, and the port never touched.
TEST_F(InProcessRun, StopsOnEachBadConfiguration) {
  struct Case {
    std::string cfgText;
    std::string fatal;
  };
  const json base = Cfg();
  auto with = [&](const char* key, json value) {
    json cfg = base;
    cfg[key] = value;
    return cfg.dump();
  };
  auto serial = [&](json baud) {
    json cfg = base;
    cfg["Port"] = "/dev/pelox5-no-such-device";
    cfg["Baud"] = baud;
    return cfg.dump();
  };
  auto without = [&](const char* key) {
    json cfg = base;
    cfg.erase(key);
    return cfg.dump();
  };
  const std::vector<Case> cases{
      {"{", "(FATAL) : Unable to find or unable to parse the deployment cfg file:"},
      {with("Name", "SITE1"),
       "(FATAL) : Name key mismatch in deployment.cfg expected:site1 found:SITE1\n\n"},
      {without("Name"), "(FATAL) : Name key is missing in deployment.cfg expected:site1\n\n"},
      {with("Status", "active"),
       "(FATAL) : Status entry in deployment.cfg is not 'Active' for this deployment which we "
       "interpret as it being locked\n"},
      {without("Status"), "(FATAL) : Status key is missing in deployment.cfg\n"},
      {without("Port"), "(FATAL) : Port missing in deployment.cfg\n"},
      {serial("9601"), "(FATAL) : Invalid baudrate in deployment.cfg\n"},
      {serial(json::array({9600})), "(FATAL) : Configuration value 'Baud'"},
      {with("ConnectAttemptMaxTries", json::object()),
       "(FATAL) : Configuration value 'ConnectAttemptMaxTries'"},
      // Numbers are checked after their conversion; the message shows them as written.
      {with("RecordRequestSize", 0),
       "(FATAL) : Invalid RecordRequestSize in deployment.cfg: 0 (allowed: 1 to 1000000)\n"},
      {with("RecordRequestSize", "abc"),
       "(FATAL) : Invalid RecordRequestSize in deployment.cfg: \"abc\" (allowed: 1 to "},
      {with("RecordRequestSize", 1e12), "(FATAL) : Invalid RecordRequestSize in deployment.cfg: "},
      {with("ConnectAttemptTimeout", -1),
       "(FATAL) : Invalid ConnectAttemptTimeout in deployment.cfg: -1 (allowed: 0 to 86400)\n"},
      {with("ConnectAttemptTimeout", 86401),
       "(FATAL) : Invalid ConnectAttemptTimeout in deployment.cfg: 86401 (allowed: 0 to 86400)\n"},
      {with("ConnectAttemptMaxTries", 0),
       "(FATAL) : Invalid ConnectAttemptMaxTries in deployment.cfg: 0 (allowed: 1 to 1000000)\n"},
      {with("RunTimeLimit", 86401),
       "(FATAL) : Invalid RunTimeLimit in deployment.cfg: 86401 (allowed: 1 to 86400)\n"},
      {with("Prompt", ""),
       "(FATAL) : Invalid Prompt in deployment.cfg: \"\" (it may not be empty)\n"},
  };
  for (const Case& c : cases) {
    box.AddDeployment("site1", c.cfgText);
    err.clear();
    EXPECT_EQ(Run(), 1) << c.cfgText;
    EXPECT_TRUE(Logged(c.fatal)) << c.cfgText;
    EXPECT_FALSE(Logged("Connect():Attempt")) << c.cfgText;
    EXPECT_TRUE(port->writes.empty());
    const std::string journal = ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl");
    const json line = json::parse(journal.substr(journal.rfind('\n', journal.size() - 2) + 1));
    EXPECT_EQ(line["outcome"], "fatal");
    EXPECT_TRUE(("(FATAL) : " + line["fatal"].get<std::string>() + "\n").starts_with(c.fatal));
    fs::remove_all(box.Downloads("site1"));
  }
}

TEST_F(InProcessRun, AMissingDeploymentOrCfgStopsTheRun) {
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(fs::is_directory(box.ProjectFolder()));  // created on the way
  EXPECT_TRUE(
      Logged("(FATAL) : getDeploymentFolderByName(): - target deployment folder not found. "
             "\nPath:" +
             box.ProjectFolder() + "\nDeployment Name:site1\n"));
  fs::create_directories(box.DeploymentFolder("site1") + "/cfg");
  err.clear();
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Logged("(FATAL) : Unable to find or unable to parse the deployment cfg file:" +
                     box.ProjectFolder() + "/site1/cfg/deployment.cfg\n"));
  EXPECT_TRUE(port->writes.empty());
}

}  // namespace
