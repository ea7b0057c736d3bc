// The built pelox5-check on real setups in a temporary HOME: a simulator on TCP
// or on a pseudo-terminal, files and folders made broken on purpose. When the
// tests run as root, the check runs as the unprivileged user "nobody", as a
// technician's account would.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool AsRoot() { return ::geteuid() == 0; }

// Runs `program`, dropped to "nobody" when the test runs as root; the sandbox
// is then handed to that account, as a technician owns the project.
Subprocess::Result RunAs(const Sandbox& box, std::string program, std::vector<std::string> args) {
  if (AsRoot()) {
    for (const auto& entry : fs::recursive_directory_iterator(box.Root()))
      EXPECT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
    args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program});
    program = "/usr/bin/setpriv";
  }
  // Bounded: a read that blocked (on a FIFO) would end as a kill, not a hang.
  return Subprocess::Run(program, args, box.ProcessOptions(), std::chrono::seconds(30));
}

Subprocess::Result RunCheck(const Sandbox& box, std::vector<std::string> args) {
  return RunAs(box, Sandbox::CheckTool(), std::move(args));
}

// The sandbox must be open to an unprivileged account.
void OpenToEveryone(const Sandbox& box) { fs::permissions(box.Root(), fs::perms(0755)); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The report's lines whose mark is `mark` ("ok", "warning", "failed").
std::vector<std::string> Marked(const std::string& out, const std::string& mark) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(out))
    if (line.rfind(mark + " ", 0) == 0) found.push_back(line);
  return found;
}

// The line of the check `what`, "" when there is none.
std::string LineOf(const std::string& out, const std::string& what) {
  for (const std::string& line : Lines(out)) {
    const size_t at = line.find_first_not_of(' ', line.find(' '));
    if (at != std::string::npos && line.compare(at, what.size() + 1, what + ":") == 0) return line;
  }
  return "";
}

std::string Cfg(const std::string& name, const std::string& port, const std::string& extra = "") {
  return R"({"Name":")" + name + R"(","Status":"Active","Port":")" + port +
         R"(","ConnectAttemptMaxTries":2,"ConnectAttemptTimeout":1)" + extra + "}";
}

std::string Logged(const Subprocess::Result& r) { return "output:\n" + r.out + r.err; }

TEST(CheckProgram, EachBrokenSetupFailsOnlyItsOwnCheckAndNamesTheCause) {
  struct Case {
    const char* setup;
    std::string deployment;
    std::function<void(Sandbox&, const std::string& port)> make;
    std::string check, cause, fix;
  };
  const std::vector<Case> cases = {
      {"cfg value out of range", "site1",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port, R"(,"RecordRequestSize":0)"));
       },
       "deployment.cfg RecordRequestSize",
       "Invalid RecordRequestSize in deployment.cfg: 0 (allowed: 1 to 1000000)",
       "\"RecordRequestSize\" to a whole number from 1 to 1000000"},
      {"deployment not found", "site2",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port));
       },
       "deployment folder", "target deployment folder not found",
       "use one of the deployments here: site1"},
      {"two matching folders", "twin",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("Twin", Cfg("twin", port));
         box.AddDeployment("twin", Cfg("twin", port));
       },
       "deployment folder", "more than one deployment folder matches", "Twin, twin"},
      {"unreadable record file", "site1",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port, R"(,"ExtractReceivedRecordFile":"s.rcd")"));
         const std::string rcd = box.DeploymentFolder("site1") + "/s.rcd";
         WriteFile(rcd, "1-10\n");
         fs::permissions(rcd, fs::perms::none);
       },
       "record recovery file", "s.rcd cannot be read", "chown"},
      {"downloads folder not writable", "site1",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port));
         fs::create_directory(box.Downloads("site1"));
         fs::permissions(box.Downloads("site1"), fs::perms(0555));
       },
       "downloads folder", "target folder is not writeable", "chmod u+rwx"},
      {"a network port written another way", "site1",
       [](Sandbox& box, const std::string&) {
         box.AddDeployment("site1", Cfg("site1", "localhost:4001", R"(,"Baud":"9600")"));
       },
       "serial device",
       "localhost:4001 does not exist (No such file or directory): it is not four numbers and a "
       "port (a.b.c.d:port",
       "set \"Port\": \"127.0.0.1:4001\" for the network port"},
      {"a pattern whose group is no number", "site1",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port, R"(,"RecordPattern":"^([A-Z][0-9]+),")"));
         fs::create_directories(box.Downloads("site1"));
         WriteFile(box.Downloads("site1") + "/raw.site1.2026001.000000", "PELOX>\r\nR1,a\r\n");
         WriteFile(box.Downloads("site1") + "/raw.site1.2026002.000000",
                   "PELOX>getdata 2\r\nR000007,a\r\nR000008,b\r\ndone\r\nPELOX>");
       },
       "record pattern", "/raw.site1.2026002.000000 as a record; the first is line 2: 'R000007,a'",
       "its first group must hold the record number"},
      {"an unreadable session file", "site1",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port));
         fs::create_directories(box.Downloads("site1"));
         const std::string session = box.Downloads("site1") + "/raw.site1.2026001.000000";
         WriteFile(session, "PELOX>getdata 1\r\nR000007,a\r\n");
         fs::permissions(session, fs::perms::owner_write);
       },
       "session files", "/raw.site1.2026001.000000 (owner ", "sudo chown -R $USER"},
      // The deployment lies in the default project folder, so only the
      // preferences line tells that the file's own folder was lost.
      {"unparsable preferences", "site1",
       [](Sandbox& box, const std::string& port) {
         box.AddDeployment("site1", Cfg("site1", port));
         fs::create_directories(fs::path(box.PrefsFile()).parent_path());
         WriteFile(box.PrefsFile(),
                   "{\"ProjectRootPath\": \"/srv/field\",\n \"ProjectRootFolder\" 1}");
       },
       "preferences", "(parse error at line 2, column 22: syntax error",
       "correct the file at the line and column named"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    Sandbox box;
    OpenToEveryone(box);
    SimProcess sim(box, {"--tcp", "0"});
    c.make(box, sim.PortText());
    const Subprocess::Result r = RunCheck(box, {"-d", c.deployment});
    EXPECT_EQ(r.status, 1) << Logged(r);
    const std::vector<std::string> failed = Marked(r.out, "failed");
    ASSERT_EQ(failed.size(), 1u) << Logged(r);
    EXPECT_EQ(failed[0], LineOf(r.out, c.check)) << Logged(r);
    EXPECT_NE(failed[0].find(c.cause), std::string::npos) << failed[0];
    EXPECT_NE(failed[0].find("fix: "), std::string::npos) << failed[0];
    EXPECT_NE(failed[0].find(c.fix), std::string::npos) << failed[0];
  }
}

TEST(CheckProgram, AGoodTcpSitePassesTheProbeSendsOnlyTheWakeUpAndQuitAndJsonMatchesText) {
  Sandbox box;
  OpenToEveryone(box);
  SimProcess sim(box, {"--tcp", "0"});
  // A misspelt item is a warning naming the item meant, whose default the run uses.
  box.AddDeployment("site1", Cfg("site1", sim.PortText(),
                                 R"(,"ExtractReceivedRecordFile":"s.rcd","RecordRequestSise":50)"));
  const std::string rcd = box.DeploymentFolder("site1") + "/s.rcd";
  ASSERT_EQ(Subprocess::Run(Sandbox::RcdTool(), {"add", rcd, "1-10", "21-40"}, box.ProcessOptions())
                .status,
            0);
  WriteFile(box.DeploymentFolder("site1") + "/runs.jsonl",
            R"({"deployment":"site1","start":"2026-01-01T00:00:00Z","end":"2026-01-01T00:00:09Z",)"
            R"("outcome":"complete","status":0,"records_logged":95})"
            "\n");
  const std::string cfgBefore = ReadFile(box.DeploymentFolder("site1") + "/cfg/deployment.cfg");

  const Subprocess::Result probed = RunCheck(box, {"-d", "site1", "--probe"});
  EXPECT_EQ(probed.status, 0) << Logged(probed);
  EXPECT_TRUE(Marked(probed.out, "failed").empty()) << Logged(probed);
  EXPECT_EQ(LineOf(probed.out, "probe").rfind("ok      probe: prompt after ", 0), 0u)
      << Logged(probed);
  EXPECT_EQ(sim.CommandsThrough("quit"), "\nquit\n");
  EXPECT_EQ(LineOf(probed.out, "deployment.cfg RecordRequestSise"),
            "warning deployment.cfg RecordRequestSise: no program reads an item "
            "'RecordRequestSise'; it is probably \"RecordRequestSize\", which is missing -- fix: "
            "rename \"RecordRequestSise\" to \"RecordRequestSize\" in " +
                box.DeploymentFolder("site1") + "/cfg/deployment.cfg")
      << Logged(probed);
  // The requests the next run would send are pelox5-rcd plan's.
  const Subprocess::Result plan = Subprocess::Run(
      Sandbox::RcdTool(), {"plan", rcd, "--logged", "95", "--size", "30"}, box.ProcessOptions());
  const std::string rcdLine = LineOf(probed.out, "record recovery file");
  std::vector<std::string> requests;
  for (const std::string& line : Lines(plan.out))
    if (line.rfind("getlog ", 0) == 0) requests.push_back(line);
  ASSERT_GE(requests.size(), 2u) << plan.out;
  for (size_t i = 0; i < requests.size(); ++i)
    EXPECT_NE(rcdLine.find(requests[i]), std::string::npos) << rcdLine << "\n" << plan.out;
  EXPECT_NE(rcdLine.find(std::to_string(requests.size()) + " requests"), std::string::npos)
      << rcdLine;
  // Read-only: no session file, no preferences, the cfg as it was.
  EXPECT_TRUE(box.SessionFiles("site1").empty());
  EXPECT_FALSE(fs::exists(box.PrefsFile()));
  EXPECT_EQ(ReadFile(box.DeploymentFolder("site1") + "/cfg/deployment.cfg"), cfgBefore);

  const Subprocess::Result text = RunCheck(box, {"-d", "site1"});
  const Subprocess::Result asJson = RunCheck(box, {"-d", "site1", "--json"});
  EXPECT_EQ(asJson.status, text.status);
  const json checks = json::parse(asJson.out);
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(checks.size(), lines.size()) << text.out << asJson.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const json& c = checks[i];
    std::string mark = c.at("mark").get<std::string>();
    mark.resize(8, ' ');
    std::string expected = mark + c.at("check").get<std::string>() + ": ";
    // The free space may change between the two runs.
    if (c.at("check") != "downloads folder") {
      expected += c.at("detail").get<std::string>();
      if (c.contains("fix")) expected += " -- fix: " + c.at("fix").get<std::string>();
      EXPECT_EQ(lines[i], expected);
    } else {
      EXPECT_EQ(lines[i].rfind(expected, 0), 0u) << lines[i];
    }
    EXPECT_EQ(c.at("deployment"), "site1");
  }
}

TEST(CheckProgram, JsonOutputStaysOneDocumentWhateverTheRecordFileHolds) {
  struct Case {
    const char* rcd;
    std::function<void(const std::string& path)> make;
    std::string mark;  // of the check's "record recovery file" line
  };
  const std::vector<Case> cases = {
      {"a FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0); },
       "failed"},
      {"unreadable",
       [](const std::string& path) {
         WriteFile(path, "1-10\n");
         fs::permissions(path, fs::perms::none);
       },
       "failed"},
      {"not UTF-8", [](const std::string& path) { WriteFile(path, "1-10\n\xff\xfe,\xc3(\n"); },
       "warning"},
  };
  const std::string extractTool = PELOX5_BINARY_DIR "/tools/extract/pelox5-extract";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rcd);
    Sandbox box;
    OpenToEveryone(box);
    box.AddDeployment("site1",
                      Cfg("site1", "127.0.0.1:1", R"(,"ExtractReceivedRecordFile":"s.rcd")"));
    fs::create_directories(box.Downloads("site1"));
    const std::string rcd = box.DeploymentFolder("site1") + "/s.rcd";
    c.make(rcd);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-d", "site1", "--json"}, {"-a", "--json"}}) {
      const Subprocess::Result r = RunCheck(box, args);
      EXPECT_TRUE(r.status == 0 || r.status == 1) << Logged(r);
      ASSERT_TRUE(json::accept(r.out)) << args[0] << " " << Logged(r);
      std::vector<std::string> marks;
      for (const json& line : json::parse(r.out))
        if (line.at("check") == "record recovery file") marks.push_back(line.at("mark"));
      EXPECT_NE(std::find(marks.begin(), marks.end(), c.mark), marks.end()) << r.out;
      // Bytes that are not UTF-8 are shown as U+FFFD, the rest of the text kept.
      if (c.mark == "warning") {
        EXPECT_NE(r.out.find("line 2: '\xEF\xBF\xBD"), std::string::npos);
      }
    }

    // The extraction refuses the file: a FATAL line, and the error as JSON.
    const Subprocess::Result r = RunAs(box, extractTool, {"-d", "site1", "--json"});
    EXPECT_EQ(r.status, 1) << Logged(r);
    EXPECT_NE(r.err.find("(FATAL) : Record recovery file: " + rcd), std::string::npos) << r.err;
    ASSERT_TRUE(json::accept(r.out)) << Logged(r);
    EXPECT_NE(json::parse(r.out).at("error").get<std::string>().find(rcd), std::string::npos)
        << r.out;
  }
}

// A pseudo-terminal served by the simulator, open to every account.
std::string OpenPty(SimProcess& sim) {
  const std::string path = sim.PtyPath();
  fs::permissions(path, fs::perms(0666));
  return path;
}

TEST(CheckProgram, ASerialDeviceHeldByAnotherProcessNamesThatProcess) {
  Sandbox box;
  OpenToEveryone(box);
  SimProcess sim(box, {"--pty"});
  const std::string pty = OpenPty(sim);
  box.AddDeployment("site1", Cfg("site1", pty, R"(,"Baud":"9600")"));
  const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const Subprocess::Result r = RunCheck(box, {"-d", "site1"});
  ::close(fd);
  EXPECT_EQ(r.status, 1);
  const std::string line = LineOf(r.out, "serial device");
  EXPECT_EQ(line.rfind("failed", 0), 0u) << Logged(r);
  EXPECT_NE(line.find("in use by check_tests (PID " + std::to_string(::getpid()) + ")"),
            std::string::npos)
      << line;
}

TEST(CheckProgram, AnAccountOutsideTheDevicesGroupIsToldWhichGroupToJoin) {
  if (!AsRoot()) GTEST_SKIP() << "needs root to hand the device to another group";
  Sandbox box;
  OpenToEveryone(box);
  SimProcess sim(box, {"--pty"});
  const std::string pty = sim.PtyPath();
  ASSERT_EQ(::chown(pty.c_str(), 0, 20), 0);  // gid 20: "dialout" on Debian
  fs::permissions(pty, fs::perms(0660));
  box.AddDeployment("site1", Cfg("site1", pty, R"(,"Baud":"9600")"));
  const Subprocess::Result r = RunCheck(box, {"-d", "site1"});
  EXPECT_EQ(r.status, 1);
  const std::string line = LineOf(r.out, "serial device");
  EXPECT_NE(line.find("account nobody may not open " + pty + ": it belongs to group 'dialout'"),
            std::string::npos)
      << Logged(r);
  EXPECT_NE(line.find("fix: sudo usermod -aG dialout nobody"), std::string::npos) << line;
}

TEST(CheckProgram, ScanSpeedFindsTheSpeedTheControllerAnswersAt) {
  Sandbox box;
  OpenToEveryone(box);
  SimProcess sim(box, {"--pty", "--speed", "19200"});
  box.AddDeployment("site1", Cfg("site1", OpenPty(sim), R"(,"Baud":"9600")"));
  const std::string cfg = box.DeploymentFolder("site1") + "/cfg/deployment.cfg";
  const std::string before = ReadFile(cfg);
  const Subprocess::Result r = RunCheck(box, {"-d", "site1", "--probe", "--scan-speed"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      LineOf(r.out, "probe").find("failed  probe: no prompt 'PELOX>' after 2 wake-ups at 9600"),
      std::string::npos)
      << Logged(r);
  EXPECT_NE(LineOf(r.out, "speed scan").find("answers at 19200 bit/s"), std::string::npos)
      << Logged(r);
  EXPECT_NE(LineOf(r.out, "speed scan").find("fix: write in deployment.cfg: \"Baud\": \"19200\""),
            std::string::npos);
  EXPECT_EQ(ReadFile(cfg), before);
}

}  // namespace
