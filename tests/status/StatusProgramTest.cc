// The built pelox5-status on a project tree in a temporary HOME: an active site
// whose last run completed, one whose last run failed, a locked one and one
// whose cfg is broken, in each of the three report forms, with exit statuses.

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "records/RecordStore.h"
#include "support/Sandbox.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// An ISO 8601 time `ago` seconds before now, as the journal holds it.
std::string IsoAgo(int64_t ago) {
  std::time_t t = std::time(nullptr) - ago;
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
  return text;
}

std::string JournalLine(const std::string& name, int64_t ago, const std::string& outcome,
                        const std::string& logged) {
  json line = {{"deployment", name}, {"start", IsoAgo(ago + 7)}, {"end", IsoAgo(ago)}};
  line["duration_s"] = 6.5;
  line["status"] = outcome == "complete" ? 0 : 1;
  line["outcome"] = outcome;
  line["fatal"] = outcome == "fatal" ? json("Connect(): quitting") : json(nullptr);
  line["session"] = nullptr;
  line["session_bytes"] = 0;
  line["records_logged"] = logged.empty() ? json(nullptr) : json(std::stoi(logged));
  return line.dump() + "\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A Prometheus text exposition parsed back: every sample must follow the HELP
// and TYPE lines of its metric, and be a gauge with one deployment label.
struct Exposition {
  std::map<std::pair<std::string, std::string>, double> samples;
  std::set<std::string> gauges;
  std::string problem;

  explicit Exposition(const std::string& text) {
    static const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) \S.*)");
    static const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (\w+))");
    static const std::regex sample(
        R"re(([a-zA-Z_:][a-zA-Z0-9_:]*)\{deployment="((?:[^"\\\n]|\\.)*)"\} (-?[0-9]+(?:\.[0-9]+)?(?:e[+-]?[0-9]+)?))re");
    std::set<std::string> helped;
    std::smatch m;
    for (const std::string& line : Lines(text)) {
      try {
        (void)nlohmann::json(line).dump();  // throws on text that is not UTF-8
      } catch (const nlohmann::json::type_error&) {
        problem += "not UTF-8: " + line + "\n";
      }
      if (std::regex_match(line, m, help)) {
        helped.insert(m[1]);
      } else if (std::regex_match(line, m, type)) {
        if (m[2] != "gauge" || !helped.count(m[1])) problem += "bad TYPE: " + line + "\n";
        gauges.insert(m[1]);
      } else if (std::regex_match(line, m, sample)) {
        if (!gauges.count(m[1])) problem += "sample before its TYPE: " + line + "\n";
        if (!samples.emplace(std::pair{m[1].str(), m[2].str()}, std::stod(m[3])).second)
          problem += "duplicate sample: " + line + "\n";
      } else {
        problem += "unparsable line: " + line + "\n";
      }
    }
  }
  std::optional<double> Get(const std::string& metric, const std::string& deployment) const {
    auto it = samples.find({metric, deployment});
    if (it == samples.end()) return std::nullopt;
    return it->second;
  }
};

class StatusProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box.AddDeployment("good", R"({"Name": "good", "Status": "Active", "Port": "127.0.0.1:5000",
                                  "ExtractReceivedRecordFile": "extract.rcd"})");
    WriteFile(box.DeploymentFolder("good") + "/extract.rcd", "1-50,60-80,200-210\n");
    fs::create_directories(box.Downloads("good"));
    WriteFile(box.Downloads("good") + "/raw.good.2026343.100000", std::string(100, 'a'));
    WriteFile(box.Downloads("good") + "/raw.good.2026343.110000", std::string(23, 'b'));
    WriteFile(box.Downloads("good") + "/notes.txt", std::string(1000, 'c'));
    // Its record store: records 1-3, and another line for 2 kept aside.
    Records::RecordStore store =
        Records::RecordStore::OpenForWriting(box.DeploymentFolder("good") + "/records.sqlite");
    store.Begin();
    const int64_t session = store.AddSession("raw.good.2026343.100000", 0);
    int64_t first = 0;
    for (const char* line : {"1,a", "2,b", "3,c", "2,other"})
      store.Put(line[0] - '0', line, session, 0, 0, first);
    store.NoteAbsorbed({{1, 3}}, 3, 1);
    store.Commit();
    WriteFile(box.DeploymentFolder("good") + "/runs.jsonl",
              JournalLine("good", 7200, "fatal", "") + JournalLine("good", 300, "complete", "120") +
                  R"({"deployment":"good","start":"20)");  // a line still being written

    box.AddDeployment("failed",
                      R"({"Name": "failed", "Status": "Active", "Port": "/dev/ttyUSB0"})");
    WriteFile(box.DeploymentFolder("failed") + "/runs.jsonl",
              JournalLine("failed", 2 * 86400, "complete", "90") +
                  JournalLine("failed", 3 * 3600, "fatal", ""));

    box.AddDeployment("locked", R"({"Name": "locked", "Status": "Locked", "Port": "COM3"})");
    box.AddDeployment("broken", R"({"Name": "broken", "Status": )");
    fs::create_directories(box.ProjectFolder() + "/.trash");  // hidden: not a deployment
    WriteFile(box.ProjectFolder() + "/README", "not a deployment");
  }

  // Runs with standard output on a pseudo-terminal; returns what it printed.
  std::string StatusOnTerminal(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& extraEnv = {}) {
    Subprocess::Options options = box.ProcessOptions();
    options.env["NO_COLOR"] = "";  // empty: as if unset
    for (const auto& [key, value] : extraEnv) options.env[key] = value;
    int status = 0;
    return RunOnTerminal(Sandbox::StatusTool(), args, options, STDOUT_FILENO, status,
                         std::chrono::seconds(20));
  }

  Subprocess::Result Status(const std::vector<std::string>& args) {
    return Subprocess::Run(Sandbox::StatusTool(), args, box.ProcessOptions(),
                           std::chrono::seconds(30));
  }

  Sandbox box;
};

}  // namespace

TEST_F(StatusProgramTest, TextShowsOneLinePerDeployment) {
  auto r = Status({});
  EXPECT_EQ(r.status, 1) << r.err;  // the failed site and the broken cfg
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find('\033'), std::string::npos);  // no colours outside a terminal
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0].rfind("DEPLOYMENT", 0), 0u);
  auto cells = [](const std::string& line) {
    std::vector<std::string> out;
    static const std::regex split(R"( {2,})");
    for (std::sregex_token_iterator it(line.begin(), line.end(), split, -1), end; it != end; ++it)
      out.push_back(*it);
    return out;
  };
  EXPECT_EQ(cells(lines[0]), (std::vector<std::string>{
                                 "DEPLOYMENT", "STATUS", "PORT", "LAST RUN", "LAST COMPLETE",
                                 "SESSIONS", "SIZE", "MISSING", "LOGGED", "STORED", "CONFLICTS"}));
  std::vector<std::string> broken = cells(lines[1]);
  ASSERT_EQ(broken.size(), 12u) << lines[1];
  EXPECT_EQ(broken[0], "broken");
  EXPECT_EQ(broken[1], "cfg?");
  EXPECT_EQ(broken[3], "never");
  EXPECT_EQ(broken[11].rfind("cfg: Configuration.Load():deployment.cfg JSON Error:", 0), 0u);
  EXPECT_EQ(cells(lines[2]),
            (std::vector<std::string>{"failed", "Active", "/dev/ttyUSB0", "3h ago fatal", "2d ago",
                                      "0", "0 B", "-", "90", "-", "-"}));
  EXPECT_EQ(cells(lines[3]),
            (std::vector<std::string>{"good", "Active", "127.0.0.1:5000", "5m ago complete",
                                      "5m ago", "2", "123 B", "49", "120", "3", "1"}));
  EXPECT_EQ(cells(lines[4]), (std::vector<std::string>{"locked", "Locked", "COM3", "never", "never",
                                                       "0", "0 B", "-", "-", "-", "-"}));

  // An editor's byte-order mark and a token that is no number claim no record.
  const std::string rcd = box.DeploymentFolder("good") + "/extract.rcd";
  WriteFile(rcd,
            "\xEF\xBB\xBF"
            "1-50,60-80,abc\n200-210\n");
  r = Status({});
  EXPECT_EQ(r.err, "pelox5-status: WARNING: Record recovery file " + rcd +
                       " line 1: 'abc' is not N or A-B; skipped\n");
  lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(cells(lines[3]).at(7), "49") << lines[3];
}

TEST_F(StatusProgramTest, ColoursOnlyOnATerminal) {
  EXPECT_NE(StatusOnTerminal({"-d", "good"}).find("\033[32m5m ago complete"), std::string::npos);
  EXPECT_NE(StatusOnTerminal({"-d", "failed"}).find("\033[31m3h ago fatal"), std::string::npos);
  EXPECT_EQ(StatusOnTerminal({"-d", "good"}, {{"NO_COLOR", "1"}}).find('\033'), std::string::npos);
  EXPECT_EQ(StatusOnTerminal({"-d", "good", "--json"}).find('\033'), std::string::npos);
}

TEST_F(StatusProgramTest, JsonHoldsTheSame) {
  auto r = Status({"--json"});
  EXPECT_EQ(r.status, 1);
  json list = json::parse(r.out);
  ASSERT_EQ(list.size(), 4u);
  std::map<std::string, json> by;
  for (const json& d : list) by[d["deployment"]] = d;

  const json& good = by["good"];
  EXPECT_EQ(good["status"], "Active");
  EXPECT_EQ(good["port"], "127.0.0.1:5000");
  EXPECT_EQ(good["last_run"]["outcome"], "complete");
  EXPECT_NEAR(good["last_run"]["age_s"].get<double>(), 300, 60);
  EXPECT_EQ(good["session_files"], 2);
  EXPECT_EQ(good["session_bytes"], 123);
  // 51-59 and 81-120: from 1, the lowest received, the gap before 200 counts
  // only up to the controller's last known record, 120.
  EXPECT_EQ(good["missing_records"], 49);
  EXPECT_EQ(good["records_logged"], 120);
  EXPECT_EQ(good["stored_records"], 3);
  EXPECT_EQ(good["record_conflicts"], 1);
  EXPECT_EQ(good["needs_attention"], false);

  const json& failed = by["failed"];
  EXPECT_EQ(failed["last_run"]["outcome"], "fatal");
  EXPECT_EQ(failed["last_run"]["status"], 1);
  EXPECT_EQ(failed["last_run"]["fatal"], "Connect(): quitting");
  EXPECT_NEAR(failed["last_complete"]["age_s"].get<double>(), 2 * 86400, 60);
  EXPECT_EQ(failed["records_logged"], 90);
  EXPECT_TRUE(failed["missing_records"].is_null());
  EXPECT_TRUE(failed["stored_records"].is_null());
  EXPECT_EQ(failed["needs_attention"], true);

  EXPECT_EQ(by["locked"]["status"], "Locked");
  EXPECT_TRUE(by["locked"]["last_run"].is_null());
  EXPECT_EQ(by["locked"]["needs_attention"], false);

  EXPECT_TRUE(by["broken"]["status"].is_null());
  EXPECT_TRUE(by["broken"]["cfg_error"].is_string());
  EXPECT_EQ(by["broken"]["needs_attention"], true);
}

TEST_F(StatusProgramTest, PrometheusParsesBackToTheSameValues) {
  // Folder names that need escaping or are not UTF-8 (a stray byte, an encoded
  // surrogate) must not spoil the file.
  fs::create_directories(box.ProjectFolder() + "/odd\"\\name\xff");
  fs::create_directories(box.ProjectFolder() + "/surrogate\xed\xa0\x80");
  auto r = Status({"--prometheus"});
  EXPECT_EQ(r.status, 1);
  Exposition e(r.out);
  EXPECT_EQ(e.problem, "");
  const double now = static_cast<double>(std::time(nullptr));
  EXPECT_EQ(e.Get("pelox5_last_run_status", "good"), 0);
  EXPECT_EQ(e.Get("pelox5_last_run_status", "failed"), 1);
  EXPECT_EQ(e.Get("pelox5_last_run_status", "locked"), -1);
  EXPECT_NEAR(*e.Get("pelox5_last_success_time_seconds", "good"), now - 300, 60);
  EXPECT_NEAR(*e.Get("pelox5_last_success_time_seconds", "failed"), now - 2 * 86400, 60);
  EXPECT_EQ(e.Get("pelox5_last_success_time_seconds", "locked"), 0);
  EXPECT_EQ(e.Get("pelox5_missing_records", "good"), 49);
  EXPECT_FALSE(e.Get("pelox5_missing_records", "failed"));
  EXPECT_EQ(e.Get("pelox5_session_bytes", "good"), 123);
  EXPECT_EQ(e.Get("pelox5_session_bytes", "broken"), 0);
  EXPECT_EQ(e.Get("pelox5_deployment_active", "good"), 1);
  EXPECT_EQ(e.Get("pelox5_deployment_active", "locked"), 0);
  EXPECT_EQ(e.Get("pelox5_records_logged", "failed"), 90);
  EXPECT_EQ(e.Get("pelox5_stored_records", "good"), 3);
  EXPECT_EQ(e.Get("pelox5_record_conflicts", "good"), 1);
  EXPECT_FALSE(e.Get("pelox5_stored_records", "failed"));
  EXPECT_EQ(e.Get("pelox5_session_bytes", "odd\\\"\\\\name?"), 0);
}

TEST_F(StatusProgramTest, ExitStatusPerDeploymentAndUsage) {
  EXPECT_EQ(Status({"-d", "good"}).status, 0);
  EXPECT_EQ(Status({"--deployment=locked"}).status, 0);  // locked sites are never a problem
  EXPECT_EQ(Status({"-d", "failed"}).status, 1);
  EXPECT_EQ(Status({"-d", "broken", "--json"}).status, 1);
  auto good = Status({"-d", "good"});
  EXPECT_EQ(Lines(good.out).size(), 2u);

  auto unknown = Status({"-d", "nosuch"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err,
            "pelox5-status: no deployment folder \"nosuch\" in " + box.ProjectFolder() + "\n");
  // As JSON, standard output still holds one document.
  auto unknownJson = Status({"-d", "nosuch", "--json"});
  EXPECT_EQ(unknownJson.status, 1);
  EXPECT_EQ(unknownJson.out,
            "{\"error\":\"no deployment folder \\\"nosuch\\\" in " + box.ProjectFolder() + "\"}\n");

  for (const auto& args : std::vector<std::vector<std::string>>{{"--json", "--prometheus"},
                                                                {"--bogus"},
                                                                {"-d"},
                                                                {"--json=yes"},
                                                                {"extra"},
                                                                {"--html"},
                                                                {"--html", "p.html", "--json"},
                                                                {"--html", "p.html", "-o", "x"},
                                                                {"-a", "-d", "good"}}) {
    auto r = Status(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find("Try \"pelox5-status --help\"."), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  auto help = Status({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: pelox5-status", 0), 0u);
}

TEST_F(StatusProgramTest, OutputFileIsReplacedWhole) {
  fs::create_directories(box.Root() + "/textfile");
  std::string file = box.Root() + "/textfile/pelox5.prom";
  WriteFile(file, "old contents\n");
  auto r = Status({"--prometheus", "-o", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(file), Status({"--prometheus"}).out);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(box.Root() + "/textfile"))
    files += entry.is_regular_file();
  EXPECT_EQ(files, 1);  // no temporary file left beside it

  auto bad = Status({"--prometheus", "-o", box.Root() + "/no/such/folder/x.prom"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("cannot write"), std::string::npos);

  // The page likewise, with the same exit status; -a is the default listing.
  const std::string page = box.Root() + "/textfile/index.html";
  r = Status({"-a", "--html", page});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(page).rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(
      std::distance(fs::directory_iterator(box.Root() + "/textfile"), fs::directory_iterator()), 2);
  EXPECT_EQ(Status({"-a"}).out, Status({}).out);
  bad = Status({"--html", box.Root() + "/no/such/folder/index.html"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("pelox5-status: cannot write " + box.Root(), 0), 0u) << bad.err;
}

TEST_F(StatusProgramTest, FollowsThePreferencesAndCreatesNothing) {
  // Without a preferences file: the documents folder, and no folder made.
  ASSERT_EQ(Status({"-d", "good"}).status, 0);
  EXPECT_FALSE(fs::exists(box.Home() + "/.config"));

  // With one, its project folder; the file stays exactly as it was.
  std::string sites = box.Root() + "/data/Sites";
  fs::create_directories(sites + "/north/cfg");
  WriteFile(sites + "/north/cfg/deployment.cfg",
            R"({"Name": "north", "Status": "Active", "Port": "127.0.0.1:5001"})");
  WriteFile(sites + "/north/runs.jsonl", JournalLine("north", 60, "complete", "5"));
  fs::create_directories(fs::path(box.PrefsFile()).parent_path());
  const std::string prefs = "{\"ProjectRootPath\": \"" + box.Root() +
                            "/data/\", \"ProjectRootFolder\": \"Sites\", \"PathDelimiter\": \"/\"}";
  WriteFile(box.PrefsFile(), prefs);
  auto r = Status({});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Lines(r.out).size(), 2u) << r.out;
  EXPECT_EQ(Lines(r.out)[1].rfind("north ", 0), 0u);
  EXPECT_EQ(ReadFile(box.PrefsFile()), prefs);
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(box.PrefsFile()).parent_path()),
                          fs::directory_iterator()),
            1);

  // A project folder that does not exist is reported, not created.
  WriteFile(box.PrefsFile(), "{\"ProjectRootPath\": \"" + box.Root() +
                                 "\", \"ProjectRootFolder\": \"None\", \"PathDelimiter\": \"/\"}");
  auto missing = Status({});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "pelox5-status: project folder " + box.Root() + "/None does not exist\n");
  EXPECT_FALSE(fs::exists(box.Root() + "/None"));
}
