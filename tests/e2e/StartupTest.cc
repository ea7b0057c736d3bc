// Start-up of pelox5-download as users see it: banners, help, version, usage
// errors, the preferences file and the log level.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/Sandbox.h"

namespace {

const std::string kBanner2 = "Pelox5Download vsn:1.0.3\n";

class Startup : public ::testing::Test {
 protected:
  Subprocess::Result Run(const std::vector<std::string>& args) { return box.Download(args); }
  nlohmann::json Prefs() { return nlohmann::json::parse(ReadFile(box.PrefsFile())); }
  Sandbox box;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

TEST_F(Startup, BannersComeFirstEvenForABadCommandLine) {
  auto r = Run({"--bogus", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(StartsWith(
      r.err, "System.CommandLine:" + Sandbox::DownloadTool() + " --bogus x\n" + kBanner2))
      << r.err;
  EXPECT_TRUE(StartsWith(
      r.out, "Invalid usage\n\n  PeloxCollector - for downloading pelox5 data\n\nHelp:\n"))
      << r.out;
}

TEST_F(Startup, HelpInEveryFormEndsWithStatusZero) {
  for (const char* help : {"-h", "-?", "--help", "--HELP"}) {
    auto r = Run({help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_NE(r.out.find("  -h, --help           Show help\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-d STR, --deployment=STR"), std::string::npos);
    EXPECT_NE(r.out.find("DEBUG [can be: `FATAL', `WARNING', `INFO',\n"), std::string::npos);
    EXPECT_EQ(r.out.find("Invalid usage"), std::string::npos);
  }
}

TEST_F(Startup, VersionNeedsADeployment) {
  auto r = Run({"-v", "-d", "SITE1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.err.find(kBanner2 + kBanner2) != std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());

  r = Run({"-v"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(StartsWith(r.out, "Invalid usage\n\n"));
  r = Run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(StartsWith(r.out, "Invalid usage\n\n"));
}

TEST_F(Startup, LogLevelOptionTakesTheFourNamesInAnyCase) {
  auto trace = Run({"-d", "none", "-l", "TRACE"});
  EXPECT_EQ(trace.status, 1);
  EXPECT_TRUE(StartsWith(trace.out, "Invalid usage\n\n"));

  // No such deployment: the run stops at the deployment folder with a FATAL line.
  auto fatal = Run({"-d", "none", "-l", "fatal"});
  EXPECT_EQ(fatal.status, 1);
  std::string log = WithoutTimeStamps(fatal.err);
  EXPECT_EQ(log.find("(WARNING) : Deployments path:"), std::string::npos);
  EXPECT_NE(log.find("(FATAL) : getDeploymentFolderByName(): - target deployment folder not found"),
            std::string::npos)
      << log;

  auto debug = Run({"-d", "none", "-l", "debug"});
  log = WithoutTimeStamps(debug.err);
  EXPECT_NE(log.find("(WARNING) : Deployments path:" + box.ProjectFolder() + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("(INFO) : Deployment target from cmd line:" + box.ProjectFolder() + "/none\n"),
            std::string::npos);
  EXPECT_NE(log.find("(DEBUG) : Done.\n"), std::string::npos);
}

TEST_F(Startup, AFreshHomeGetsDefaultPreferences) {
  auto r = Run({"-d", "none"});
  EXPECT_EQ(r.status, 1);
  auto prefs = Prefs();
  EXPECT_EQ(prefs["ProjectRootPath"], box.Documents());
  EXPECT_EQ(prefs["ProjectRootFolder"], "Pelox5");
  EXPECT_EQ(prefs["PathDelimiter"], "/");
  EXPECT_EQ(prefs["LogLevel"], "INFO");
  EXPECT_EQ(prefs["DeploymentCfgName"], "deployment.cfg");
  EXPECT_EQ(ReadFile(box.PrefsFile()).back(), '\n');
  // The project folder was created on the way; INFO is the default level.
  EXPECT_TRUE(std::filesystem::is_directory(box.ProjectFolder()));
  EXPECT_NE(WithoutTimeStamps(r.err).find("(INFO) : Deployment target"), std::string::npos);
}

TEST_F(Startup, WithoutADocumentsFolderTheRootPathIsEmpty) {
  std::filesystem::remove_all(box.Documents());
  Run({"-d", "none"});
  EXPECT_EQ(Prefs()["ProjectRootPath"], "");
}

TEST_F(Startup, AnExistingFileKeepsItsValuesAndGetsTheMissingKeys) {
  std::filesystem::create_directories(box.Home() + "/.config/Pelox5Apps");
  WriteFile(box.PrefsFile(),
            R"({"ProjectRootPath": ")" + box.Root() +
                R"(", "ProjectRootFolder": "proj", "PathDelimiter": "/", "Extra": 5})");
  auto r = Run({"-d", "none", "-l", "WARNING"});
  auto prefs = Prefs();
  EXPECT_EQ(prefs["ProjectRootFolder"], "proj");
  EXPECT_EQ(prefs["Extra"], 5);
  EXPECT_EQ(prefs["LogLevel"], "INFO");
  EXPECT_EQ(prefs["DeploymentCfgName"], "deployment.cfg");
  EXPECT_NE(r.err.find("Deployments path:" + box.Root() + "/proj"), std::string::npos);

  // A file without any of the keys gets every default of a first run.
  WriteFile(box.PrefsFile(), "{}");
  r = Run({"-d", "none"});
  EXPECT_EQ(r.err.find("Unhandled error"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Deployments path:" + box.ProjectFolder()), std::string::npos) << r.err;
  prefs = Prefs();
  EXPECT_EQ(prefs["ProjectRootPath"], box.Documents());
  EXPECT_EQ(prefs["ProjectRootFolder"], "Pelox5");
  EXPECT_EQ(prefs["PathDelimiter"], "/");
  EXPECT_EQ(prefs["LogLevel"], "INFO");
}

TEST_F(Startup, ALogLevelPreferenceOutsideTheFourNamesShowsOnlyUnknownLines) {
  std::filesystem::create_directories(box.Home() + "/.config/Pelox5Apps");
  WriteFile(box.PrefsFile(), R"({"ProjectRootPath": ")" + box.Documents() +
                                 R"(", "ProjectRootFolder": "Pelox5", "PathDelimiter": "/",
                                 "LogLevel": "LOUD", "DeploymentCfgName": "deployment.cfg"})");
  auto r = Run({"-d", "none"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find(": ("), std::string::npos) << r.err;
  // The option overrides the preference.
  r = Run({"-d", "none", "-l", "DEBUG"});
  EXPECT_NE(r.err.find("(DEBUG) : Done."), std::string::npos);
}

TEST_F(Startup, PreferencesThatCannotBeSavedGiveAWarningAndTheRunGoesOn) {
  // Even root cannot create files under /proc.
  box.extraEnv["XDG_CONFIG_HOME"] = "/proc/self/pelox5-no-such-dir";
  auto r = Run({"-d", "none"});
  EXPECT_EQ(r.status, 1);
  std::string log = WithoutTimeStamps(r.err);
  auto warning = log.find("(WARNING) : Preferences save failed.\n");
  auto next = log.find("(WARNING) : Deployments path:");
  EXPECT_NE(warning, std::string::npos) << log;
  EXPECT_LT(warning, next);
}

// Every program that opens a deployment reads the preferences the run's way: a
// key the file lacks has its default, a file that is not JSON gives every
// default, and a file that cannot be read stops the program with the run's words.
TEST_F(Startup, EveryProgramReadsThePreferencesTheRunsWay) {
  struct Case {
    std::string prefs;    // the file's text; "" makes it a folder
    std::string project;  // where the deployment is then looked for
    bool found;
  };
  const std::vector<Case> cases{
      {R"({"ProjectRootFolder": "proj"})", box.Documents() + "/proj", true},
      {"{ not json", box.ProjectFolder(), true},
      {"", box.ProjectFolder(), false},
  };
  const std::string extract = PELOX5_BINARY_DIR "/tools/extract/pelox5-extract";
  for (const Case& c : cases) {
    std::filesystem::remove_all(box.Home() + "/.config");
    std::filesystem::remove_all(box.Documents());
    std::filesystem::create_directories(box.Home() + "/.config/Pelox5Apps");
    if (c.prefs.empty())
      std::filesystem::create_directory(box.PrefsFile());
    else
      WriteFile(box.PrefsFile(), c.prefs);
    std::filesystem::create_directories(c.project + "/site1/cfg");
    WriteFile(c.project + "/site1/cfg/deployment.cfg",
              R"({"Name": "site1", "Status": "Active", "Port": "127.0.0.1:1",
                  "ConnectAttemptMaxTries": 1, "ConnectAttemptTimeout": 1})");
    const std::string folder = c.project + "/site1";
    const std::string unreadable =
        "cannot be read (not a regular file); the file is left as it is.";
    auto opts = box.ProcessOptions();
    for (const std::string& program : {Sandbox::StatusTool(), Sandbox::CheckTool(), extract}) {
      auto r = Subprocess::Run(program, {"-d", "site1", "--json"}, opts, std::chrono::seconds(60));
      EXPECT_TRUE(nlohmann::json::accept(r.out)) << program << ": " << r.out;
      if (c.found) {
        EXPECT_EQ((r.out + r.err).find(unreadable), std::string::npos) << program << r.out << r.err;
        if (program == extract)
          EXPECT_EQ(r.status, 0) << c.prefs << r.err;
        else
          EXPECT_NE(r.out.find(folder), std::string::npos) << program << ": " << r.out;
      } else {
        EXPECT_EQ(r.status, 1) << program;
        EXPECT_NE((r.out + r.err).find(unreadable), std::string::npos) << program << r.out << r.err;
      }
    }
    // The download last: it saves the defaults into the file.
    auto r = Run({"-d", "site1", "-l", "INFO"});
    EXPECT_EQ(r.status, 1);
    if (c.found)
      EXPECT_NE(r.err.find("Port requested:127.0.0.1:1"), std::string::npos) << r.err;
    else
      EXPECT_NE(r.err.find(unreadable), std::string::npos) << r.err;
  }
}
