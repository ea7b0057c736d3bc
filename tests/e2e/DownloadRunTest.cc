// Whole download runs against pelox5-sim: the session file, the dialogue, the log
// and every way out of a run.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class DownloadRun : public ::testing::Test {
 protected:
  // A deployment.cfg with few attempts. The time-out counts silence only, so a
  // longer one costs a working run nothing and keeps it steady on a busy machine;
  // tests of failures that wait it out pass a short one.
  static json Cfg(const std::string& port, int timeout = 3) {
    return {{"Name", "site1"},
            {"Status", "Active"},
            {"Port", port},
            {"ConnectAttemptMaxTries", 2},
            {"ConnectAttemptTimeout", timeout},
            {"ExtractReceivedRecordFile", "extract.rcd"}};
  }
  void Deploy(const json& cfg) { box.AddDeployment("site1", cfg.dump(2)); }
  void Deploy(const std::string& cfgText) { box.AddDeployment("site1", cfgText); }
  void WriteRcd(const std::string& text) {
    WriteFile(box.DeploymentFolder("site1") + "/extract.rcd", text);
  }
  Subprocess::Result Run(const std::vector<std::string>& extra = {"-l", "DEBUG"}) {
    std::vector<std::string> args{"-d", "site1"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto result = box.Download(args);
    log = WithoutTimeStamps(result.err);
    return result;
  }
  std::string OnlySession() {
    auto files = box.SessionFiles("site1");
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? "" : ReadFile(files[0]);
  }
  // Whether the log holds `line`; a failed check shows the whole log.
  testing::AssertionResult Logged(const std::string& line) const {
    if (log.find(line) != std::string::npos)
      return testing::AssertionSuccess() << "logged: " << line;
    return testing::AssertionFailure() << "not logged: " << line << "\nlog:\n" << log;
  }
  // Waits (polling, at most 20 s) until `ready`, then stops the run with SIGTERM:
  // it must end with status 1 and the stop's FATAL line, kept in `log`.
  void StopWhen(Subprocess& run, const std::function<bool()>& ready) {
    for (int i = 0; i < 4000 && !ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(ready());
    run.Signal(SIGTERM);
    auto status = run.Wait(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    log = WithoutTimeStamps(run.Stderr());
    EXPECT_TRUE(Logged("(FATAL) : Stopped by SIGTERM"));
  }
  // The lines of the deployment's run journal, each parsed.
  std::vector<json> Journal() const {
    std::vector<json> lines;
    std::string text = ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl");
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(json::parse(text.substr(at, end - at)));
    return lines;
  }
  // Number of FATAL lines in the log.
  size_t FatalCount() const {
    size_t n = 0;
    for (size_t at = 0; (at = log.find("(FATAL) : ", at)) != std::string::npos; ++at) ++n;
    return n;
  }

  Sandbox box;
  std::string log;
};

}  // namespace

TEST_F(DownloadRun, CapturesEveryByteOverTcp) {
  SimProcess sim(box, {"--tcp", "0", "--records", "100"});
  Deploy(Cfg(sim.PortText()));
  WriteRcd("1-50,60-80\n");
  auto r = Run();
  ASSERT_EQ(r.status, 0) << log;
  EXPECT_EQ(OnlySession(), sim.SentBytes());
  EXPECT_EQ(sim.CommandsThrough("quit"), "\nlogs\ngetdata 30\ngetlog 0 1\ngetlog 51 9\nquit\n");
  EXPECT_TRUE(Logged("(INFO) : Port requested:" + sim.PortText() + "\n"));
  EXPECT_TRUE(Logged("(INFO) : Connect(): Acquired PortSource.\n"));
  EXPECT_TRUE(Logged("(DEBUG) : Port.Write: getdata 30\n"));
  EXPECT_TRUE(Logged("(INFO) : logs cmd response1:"));
  EXPECT_TRUE(Logged("(INFO) : GetMissingRecords() requesting records in range 51-59\n"));
  EXPECT_TRUE(Logged("(DEBUG) : Done.\n"));
  EXPECT_EQ(FatalCount(), 0u);
  EXPECT_EQ(r.err.find("\033[K"), std::string::npos);  // no status line outside a terminal

  // The run's journal line, keys in their order.
  auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  const json& line = journal[0];
  const std::string text = ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl");
  size_t at = 0;
  for (const char* key :
       {"deployment", "start", "end", "duration_s", "status", "outcome", "fatal", "session",
        "session_bytes", "port", "version", "records_logged", "next_download", "getdata_requests",
        "getlog_requests", "records_requested"}) {
    size_t found = text.find("\"" + std::string(key) + "\":", at);
    EXPECT_NE(found, std::string::npos) << key << " out of order in " << text;
    at = found == std::string::npos ? at : found;
  }
  EXPECT_EQ(line["deployment"], "site1");
  EXPECT_EQ(line["status"], 0);
  EXPECT_EQ(line["outcome"], "complete");
  EXPECT_TRUE(line["fatal"].is_null());
  EXPECT_EQ(line["session"], fs::path(box.SessionFiles("site1")[0]).filename().string());
  EXPECT_EQ(line["session_bytes"], sim.SentBytes().size());
  EXPECT_EQ(line["port"], sim.PortText());
  EXPECT_EQ(line["records_logged"], 100);
  EXPECT_EQ(line["next_download"], 101);
  EXPECT_EQ(line["getdata_requests"], 1);
  EXPECT_EQ(line["getlog_requests"], 2);
  EXPECT_EQ(line["records_requested"], 30 + 1 + 9);
  EXPECT_GE(line["duration_s"].get<double>(), 0.0);
  EXPECT_EQ(line["start"].get<std::string>().size(), 25u) << line["start"];

  // At INFO the same run shows no DEBUG lines.
  auto info = Run({"-l", "INFO"});
  ASSERT_EQ(info.status, 0);
  EXPECT_FALSE(Logged("(DEBUG)"));
  EXPECT_TRUE(Logged("(INFO) : Call GetRecentData()\n"));
}

TEST_F(DownloadRun, RcdPlanListsTheRequestsTheRunSends) {
  // Gaps of every kind: split by the request size, cut at the controller's
  // count (120), and lying wholly beyond it.
  SimProcess sim(box, {"--tcp", "0", "--records", "120"});
  json cfg = Cfg(sim.PortText());
  cfg["RecordRequestSize"] = 7;
  Deploy(cfg);
  WriteRcd("5-10,40-60\n100-110,130-140\n200-210\n");
  ASSERT_EQ(Run().status, 0) << log;
  std::string sent;
  std::string commands = sim.CommandsThrough("quit");
  for (size_t at = 0; (at = commands.find("getlog ", at)) != std::string::npos;) {
    const size_t end = commands.find('\n', at) + 1;
    sent += commands.substr(at, end - at);
    at = end;
  }
  ASSERT_EQ(Journal().at(0)["records_logged"], 120);
  auto plan = Subprocess::Run(
      Sandbox::RcdTool(),
      {"plan", box.DeploymentFolder("site1") + "/extract.rcd", "--logged", "120", "--size", "7"},
      box.ProcessOptions(), std::chrono::seconds(20));
  ASSERT_EQ(plan.status, 0) << plan.err;
  EXPECT_EQ(plan.out, sent + "total: 87 records in 14 requests\n");
  EXPECT_EQ(sent.substr(0, 23), "getlog 0 5\ngetlog 11 7\n");
}

TEST_F(DownloadRun, ACompleteSessionEndsWithTheLastPromptEveryTime) {
  // A controller that echoes and says goodbye to "quit": those bytes come after
  // the run has finished with the controller and must never reach the file.
  SimProcess sim(box, {"--tcp", "0", "--records", "40", "--echo", "--quit-reply", "Goodbye"});
  Deploy(Cfg(sim.PortText()));
  WriteRcd("5-9\n");
  std::string first;
  for (int run = 0; run < 10; ++run) {
    ASSERT_EQ(Run({"-l", "WARNING"}).status, 0) << log;
    auto files = box.SessionFiles("site1");
    ASSERT_EQ(files.size(), 1u);
    std::string session = ReadFile(files[0]);
    fs::remove(files[0]);
    if (run == 0) first = session;
    EXPECT_TRUE(session == first) << "run " << run << ": " << session.size() << " bytes, first "
                                  << first.size();
  }
  EXPECT_TRUE(first.ends_with("\r\nPELOX>")) << first.substr(first.size() - 40);
  EXPECT_EQ(first.find("quit"), std::string::npos);
  EXPECT_NE(sim.SentBytes().find("quit\rGoodbye\r\n"), std::string::npos);
}

TEST_F(DownloadRun, CapturesOverASerialPseudoTerminal) {
  SimProcess sim(box, {"--pty", "--records", "40"});
  // Reached by a stable name whose numbers look like an endpoint ("0:1.4.2:1"),
  // as a device behind a USB hub is named under /dev/serial/by-path/.
  const std::string byPath = box.Home() + "/pci-0000:00:14.0-usb-0:1.4.2:1.0-port0";
  fs::create_symlink(sim.PtyPath(), byPath);
  json cfg = Cfg(byPath);
  cfg["Baud"] = 115200;  // a number is read as its decimal text
  Deploy(cfg);
  WriteRcd("5-9\n");
  auto r = Run();
  ASSERT_EQ(r.status, 0) << log;
  EXPECT_EQ(OnlySession(), sim.SentBytes());
  EXPECT_EQ(sim.CommandsThrough("quit"), "\nlogs\ngetdata 30\ngetlog 0 5\nquit\n");
}

TEST_F(DownloadRun, NeverOverwritesASessionOfTheSameSecond) {
  SimProcess sim(box, {"--tcp", "0"});
  Deploy(Cfg(sim.PortText()));
  // Sessions named for this second and the next already exist, as after runs
  // started a moment earlier: this run must wait for a free second.
  fs::create_directories(box.Downloads("site1"));
  std::time_t now = std::time(nullptr);
  std::vector<std::string> taken;
  for (int i = 0; i < 2; ++i) {
    std::time_t t = now + i;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char name[64];
    std::strftime(name, sizeof name, "raw.site1.%Y%j.%H%M%S", &utc);
    taken.push_back(box.Downloads("site1") + "/" + name);
    WriteFile(taken.back(), "earlier session " + std::to_string(i));
  }
  ASSERT_EQ(Run().status, 0) << log;
  auto files = box.SessionFiles("site1");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(ReadFile(taken[0]), "earlier session 0");
  EXPECT_EQ(ReadFile(taken[1]), "earlier session 1");
  EXPECT_EQ(ReadFile(files[2]), sim.SentBytes());
}

TEST_F(DownloadRun, ASessionNameThatStaysTakenEndsWithItsCauseOrAtAStopSignal) {
  Deploy(Cfg("127.0.0.1:9"));
  // Every name of the next minute is taken, as by runs started in the same seconds.
  fs::create_directories(box.Downloads("site1"));
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t < now + 60; ++t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    char name[64];
    std::strftime(name, sizeof name, "raw.site1.%Y%j.%H%M%S", &utc);
    WriteFile(box.Downloads("site1") + "/" + name, "earlier session");
  }
  auto r = Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Logged("(FATAL) : Session file " + box.Downloads("site1") + "/raw.site1."));
  EXPECT_TRUE(
      Logged(" already exists: the session name stayed taken because other runs of "
             "this deployment started in the same seconds (6 names tried)\n"));
  EXPECT_FALSE(Logged("Connect():Attempt"));

  // A stop signal while the run waits for the next second ends it at once.
  Subprocess run(Sandbox::DownloadTool(), {"-d", "site1", "-l", "DEBUG"}, box.ProcessOptions());
  auto namesTried = [&] {
    std::string err = run.Stderr();
    size_t n = 0;
    for (size_t at = 0; (at = err.find("Download SessionFile:", at)) != std::string::npos; ++at)
      ++n;
    return n;
  };
  ASSERT_NO_FATAL_FAILURE(StopWhen(run, [&] { return namesTried() >= 2; }));
  EXPECT_EQ(Journal().back()["outcome"], "stopped");
}

TEST_F(DownloadRun, KeepsTheBytesBeforeADropDuringGetdata) {
  SimProcess sim(box, {"--tcp", "0", "--records", "200", "--close-after", "1000"});
  Deploy(Cfg(sim.PortText()));
  auto r = Run();
  EXPECT_EQ(r.status, 1);
  std::string sent = sim.SentBytes();
  EXPECT_EQ(sent.size(), 1000u);
  EXPECT_EQ(OnlySession(), sent);
  EXPECT_TRUE(Logged("(FATAL) : run() getdata(): PortSourceTimeoutError: "));
  EXPECT_TRUE(Logged("(FATAL) : run(): quitting\n"));
}

TEST_F(DownloadRun, AControllerWithoutAPromptEndsWithoutAFatalLine) {
  SimProcess sim(box, {"--tcp", "0", "--no-prompt"});
  Deploy(Cfg(sim.PortText(), 1));
  auto r = Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FatalCount(), 0u) << log;
  EXPECT_TRUE(Logged("(DEBUG) : Connect(): Caught PortSourceError - failed to connect\n"));
  EXPECT_FALSE(Logged("(DEBUG) : Done."));
  EXPECT_EQ(sim.Commands(), "\n\n");
  auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0]["outcome"], "no-prompt");
  EXPECT_EQ(journal[0]["status"], 1);
  EXPECT_TRUE(journal[0]["fatal"].is_null());
  EXPECT_TRUE(journal[0]["records_logged"].is_null());
}

TEST_F(DownloadRun, ARefusedConnectionOnEveryTry) {
  // A port below 1024 is refused before any attempt.
  Deploy(Cfg("127.0.0.1:1023"));
  auto r = Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      Logged("(FATAL) : Connect(): PortSourceInvalidPortError:GetNewPortSource(): Invalid "
             "network port:TCPSocket.InvalidPortError\n"));
  // A port nobody listens on: every attempt is refused.
  std::string port;
  {
    SimProcess sim(box, {"--tcp", "0"});
    port = sim.PortText();
  }
  Deploy(Cfg(port, 1));
  r = Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Logged("(DEBUG) : getPort: Attempt 2 of 2\n"));
  EXPECT_TRUE(
      Logged("(FATAL) : Connect(): PortSourceTimeoutError\n(FATAL) : Connect(): quitting\n"));
}

// The refusals of the cfg and a missing deployment are checked in process
// (InProcessRun); a serial device that is not there needs the real port.
TEST_F(DownloadRun, ASerialDeviceThatIsNotThereStopsTheRunAtConnect) {
  json cfg = Cfg("/dev/pelox5-no-such-device");
  cfg["Baud"] = "9600";
  Deploy(cfg);
  auto r = Run();
  EXPECT_EQ(r.status, 1);
  const std::string fatal =
      "(FATAL) : Connect(): PortSourceInvalidPortError:PortSource.Constructor():/dev/"
      "pelox5-no-such-device does not appear to be a valid serial port on this host.\n";
  EXPECT_TRUE(Logged(fatal));
  json line = Journal().back();
  EXPECT_EQ(line["outcome"], "fatal");
  EXPECT_TRUE(("(FATAL) : " + line["fatal"].get<std::string>() + "\n").starts_with(fatal));
}

TEST_F(DownloadRun, EveryPathComesFromTheFolderThatWasFound) {
  SimProcess sim(box, {"--tcp", "0", "--records", "40"});
  const std::string folder = box.ProjectFolder() + "/Site1";
  fs::create_directories(folder + "/cfg");
  WriteFile(folder + "/cfg/deployment.cfg", Cfg(sim.PortText()).dump());
  WriteFile(folder + "/extract.rcd", "5-9\n");
  ASSERT_EQ(Run().status, 0) << log;
  // The record file is read from the folder found for "site1", not from a
  // folder named as typed.
  EXPECT_EQ(sim.CommandsThrough("quit"), "\nlogs\ngetdata 30\ngetlog 0 5\nquit\n");
  EXPECT_TRUE(
      Logged("(INFO) : Getting deployment config file:" + folder + "/cfg/deployment.cfg\n"));
  EXPECT_TRUE(Logged("(INFO) : Accessing the record recovery file:" + folder + "/extract.rcd\n"));
  EXPECT_TRUE(Logged("(INFO) : Download SessionFile:" + folder + "/downloads/raw.site1."));

  // A second folder for the same name: the run cannot tell which one is meant.
  fs::create_directories(box.DeploymentFolder("site1") + "/cfg");
  auto r = Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      Logged("(FATAL) : getDeploymentFolderByName(): - more than one deployment folder "
             "matches. \nPath:" +
             box.ProjectFolder() + "\nDeployment Name:site1\nFolders:Site1, site1\n"));
  EXPECT_FALSE(fs::exists(box.Downloads("site1")));
}

TEST_F(DownloadRun, OptionalSettingsAndTheRecordFile) {
  SimProcess sim(box, {"--tcp", "0"});
  json cfg = Cfg(sim.PortText());
  cfg["Baud"] = "not a rate";  // ignored on a network port
  cfg.erase("ExtractReceivedRecordFile");
  Deploy(cfg);
  auto r = Run();
  ASSERT_EQ(r.status, 0) << log;
  EXPECT_TRUE(
      Logged("(WARNING) :  Config file is missing the ExtractReceivedRecordFile item. "
             "Record recovery will be skipped.\n"));
  EXPECT_EQ(sim.CommandsThrough("quit"), "\nlogs\ngetdata 30\nquit\n");

  Deploy(Cfg(sim.PortText()));
  WriteRcd("");
  r = Run();
  ASSERT_EQ(r.status, 0) << log;
  EXPECT_TRUE(
      Logged("(WARNING) : record recovery log has not been initialized.  Record recovery "
             "will be skipped.\n"));

  // An editor's byte-order mark claims nothing, and a token that is not a
  // number is skipped with a warning: records 0 to 49 are asked for again.
  WriteRcd(
      "\xEF\xBB\xBF"
      "50-100\nabc\n");
  r = Run();
  ASSERT_EQ(r.status, 0) << log;
  EXPECT_TRUE(Logged("extract.rcd line 2: 'abc' is not N or A-B; skipped\n"));
  EXPECT_NE(sim.CommandsThrough("quit").find("\ngetlog 0 30\ngetlog 30 20\n"), std::string::npos)
      << sim.CommandsThrough("quit");

  // A time-out of 0 is a silence bound under one second, and many tries are fine.
  cfg = Cfg(sim.PortText());
  cfg["ConnectAttemptTimeout"] = 0;
  cfg["ConnectAttemptMaxTries"] = 1000000;
  Deploy(cfg);
  r = Run();
  ASSERT_EQ(r.status, 0) << log;
  EXPECT_TRUE(Logged("(DEBUG) : getPort: Attempt 1 of 1000000\n"));
}

TEST_F(DownloadRun, BlanksAroundTheNameStayOutOfTheFileName) {
  SimProcess sim(box, {"--tcp", "0"});
  json cfg = Cfg(sim.PortText());
  cfg["Name"] = " SITE1 ";
  fs::create_directories(box.ProjectFolder() + "/ site1 /cfg");
  WriteFile(box.ProjectFolder() + "/ site1 /cfg/deployment.cfg", cfg.dump());
  auto r = box.Download({"-d", " site1 ", "-l", "INFO"});
  log = WithoutTimeStamps(r.err);
  // The folder is found by its lower-case name; the Name check is exact.
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Logged("Name key mismatch in deployment.cfg expected: site1  found: SITE1 "));
  cfg["Name"] = " site1 ";
  WriteFile(box.ProjectFolder() + "/ site1 /cfg/deployment.cfg", cfg.dump());
  r = box.Download({"-d", " site1 ", "-l", "INFO"});
  log = WithoutTimeStamps(r.err);
  ASSERT_EQ(r.status, 0) << log;
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(box.ProjectFolder() + "/ site1 /downloads"))
    files.push_back(entry.path().filename().string());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].rfind("raw.site1.", 0), 0u) << files[0];
  EXPECT_TRUE(
      Logged("Download SessionFile:" + box.Documents() + "/Pelox5/ site1 /downloads/raw.site1."));
}

TEST_F(DownloadRun, ASignalKeepsEveryByteReceivedBeforeIt) {
  SimProcess sim(box, {"--tcp", "0", "--records", "100000", "--throttle", "20000"});
  json cfg = Cfg(sim.PortText());
  cfg["RecordRequestSize"] = 100000;
  Deploy(cfg);
  Subprocess run(Sandbox::DownloadTool(), {"-d", "site1", "-l", "INFO"}, box.ProcessOptions());
  // Wait until the run has written 20000 bytes of the stream (it writes what it
  // reads before it waits again), however far behind the simulator it runs.
  auto written = [this] {
    auto files = box.SessionFiles("site1");
    return files.empty() ? size_t{0} : ReadFile(files[0]).size();
  };
  ASSERT_NO_FATAL_FAILURE(StopWhen(run, [&] { return written() >= 20000; }));
  std::string session = OnlySession();
  std::string sent = sim.SentBytes();
  json line = Journal().at(0);
  EXPECT_EQ(line["outcome"], "stopped");
  EXPECT_EQ(line["status"], 1);
  EXPECT_EQ(line["fatal"].get<std::string>().rfind("Stopped by SIGTERM", 0), 0u) << line;
  EXPECT_EQ(line["session_bytes"], session.size());
  EXPECT_GE(session.size(), 20000u);
  EXPECT_EQ(sent.compare(0, session.size(), session), 0);
}
