// pelox5-extract and pelox5-status with a central database, as processes:
// the faults that keep the local part and publish nothing, two hosts at once,
// the central numbers coming back into each host's record recovery file, and
// the fleet view.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/PostgresServer.h"
#include "support/Sandbox.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string Record(int n, const std::string& value = "1.00") {
  char number[16];
  std::snprintf(number, sizeof number, "R%06d", n);
  return std::string(number) + ",2026-01-01 00:00:00," + value;
}

// One collection host: a project folder with the deployment "site1".
struct Host {
  explicit Host(const std::string& hostName, bool typed = false) : name(hostName) {
    json cfg{{"Name", "site1"},
             {"Status", "Active"},
             {"Port", "127.0.0.1:1"},
             {"ExtractReceivedRecordFile", "extract.rcd"}};
    if (typed) {
      cfg["RecordFields"] = json::array(
          {"id", {{"name", "time"}, {"type", "time"}}, {{"name", "value"}, {"type", "real"}}});
      cfg["TimeZone"] = "Europe/Berlin";
    }
    box.AddDeployment("site1", cfg.dump(2));
    fs::create_directories(box.Downloads("site1"));
  }
  // A session file with records `first` to `last`; `changed` gets another value.
  void Session(const std::string& file, int first, int last, int changed = 0) const {
    std::string text;
    for (int n = first; n <= last; ++n) text += Record(n, n == changed ? "9.99" : "1.00") + "\r\n";
    WriteFile(box.Downloads("site1") + "/" + file, text);
  }
  std::vector<std::string> Args(const std::string& conninfo, std::vector<std::string> extra) const {
    std::vector<std::string> args{"-d", "site1", "--host-name", name, "--database", conninfo};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  Subprocess::Result Extract(const std::string& conninfo,
                             std::vector<std::string> extra = {}) const {
    return Subprocess::Run(PELOX5_BINARY_DIR "/tools/extract/pelox5-extract", Args(conninfo, extra),
                           box.ProcessOptions(), std::chrono::seconds(120));
  }
  std::string Rcd() const { return ReadFile(box.DeploymentFolder("site1") + "/extract.rcd"); }
  std::string Lines() const {
    return Subprocess::Run(PELOX5_BINARY_DIR "/tools/extract/pelox5-extract",
                           {"-d", "site1", "--lines"}, box.ProcessOptions())
        .out;
  }

  std::string name;
  Sandbox box;
};

class CentralProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server.Error(), "");
    database = server.NewDatabase();
  }
  std::string Sql(const std::string& sql) const { return server.Sql(database, sql); }

  PostgresServer& server = SharedPostgres();
  std::string database;
};

TEST_F(CentralProgram, AFailedPublishKeepsTheLocalPartWritesNothingCentrallyAndNamesTheConnection) {
  struct Case {
    const char* what;
    std::function<std::string(PostgresServer&, const std::string&)> conninfo;
    std::string user, db;
  };
  const std::string sock = server.SocketFolder();
  const std::string down = sock + "/out";  // no server listens there
  const std::vector<Case> cases{
      {"server down",
       [&](PostgresServer&, const std::string& d) {
         return "host=" + down + " dbname=" + d +
                " user=pelox5 password=" + PostgresServer::kPassword;
       },
       "pelox5", ""},
      {"wrong password",
       [](PostgresServer& s, const std::string& d) { return s.ConnInfo(d, "pelox5", "nope-nope"); },
       "pelox5", ""},
      {"unknown role",
       [](PostgresServer& s, const std::string& d) { return s.ConnInfo(d, "nobody_here"); },
       "nobody_here", ""},
      {"unknown database",
       [](PostgresServer& s, const std::string&) { return s.ConnInfo("no_such_db"); }, "pelox5",
       "no_such_db"},
      {"newer schema",
       [](PostgresServer& s, const std::string& d) {
         s.Sql(d,
               "CREATE TABLE pelox5_schema(version integer NOT NULL); "
               "INSERT INTO pelox5_schema VALUES (2)");
         return s.ConnInfo(d);
       },
       "pelox5", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string db = server.NewDatabase();
    const std::string conninfo = c.conninfo(server, db);
    Host host("host-a");
    host.Session("raw.20260101-000000", 1, 5);
    Subprocess::Result r = host.Extract(conninfo);
    EXPECT_EQ(r.status, 1) << r.err;
    // The local part: stored, and the record recovery file up to date.
    EXPECT_EQ(host.Lines().size(), 5 * (Record(1).size() + 1));
    EXPECT_EQ(host.Rcd(), "1-5\n");
    const std::string name = "host " + (c.what == std::string("server down") ? down : sock) +
                             ", port 5432, database " + (c.db.empty() ? db : c.db) + ", user " +
                             c.user;
    EXPECT_NE(r.err.find("(WARNING) : Central database (" + name + "): "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("5 records wait to be published to the central database since "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(PostgresServer::kPassword), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("nope-nope"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("nope-nope"), std::string::npos) << r.out;
    EXPECT_EQ(server.Sql(db, "SELECT to_regclass('records') IS NULL"), "t\n");
    // The fleet view of the same database fails alike, and creates nothing.
    Subprocess::Result fleet =
        Subprocess::Run(Sandbox::StatusTool(), {"--database", conninfo}, host.box.ProcessOptions());
    EXPECT_EQ(fleet.status, 1);
    EXPECT_EQ(fleet.err.rfind("pelox5-status: Central database (" + name + "): ", 0), 0u)
        << fleet.err;
    EXPECT_EQ((fleet.err + fleet.out).find(PostgresServer::kPassword), std::string::npos);
    EXPECT_EQ(server.Sql(db, "SELECT to_regclass('records') IS NULL"), "t\n");

    // The next run with the server there publishes what waited, once.
    host.Session("raw.20260102-000000", 6, 7);
    const std::string good = server.NewDatabase();
    r = host.Extract(server.ConnInfo(good), {"--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    const json central = json::parse(r.out)["central"];
    EXPECT_EQ(central["new"], 7);
    EXPECT_EQ(central["waiting"], 0);
    EXPECT_EQ(server.Sql(good, "SELECT count(*) FROM records"), "7\n");
  }

  // A string libpq cannot read is refused without quoting it.
  Host host("host-a");
  Subprocess::Result r =
      host.Extract("host=" + sock + " password=" + PostgresServer::kPassword + " dbname");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the connection string (RecordDatabase or --database) cannot be read"),
            std::string::npos)
      << r.err;
  EXPECT_EQ((r.err + r.out).find(PostgresServer::kPassword), std::string::npos) << r.err;
}

TEST_F(CentralProgram, TwoHostsAtOnceStoreEachRecordOnceAndEachAsksForNeitherHostsRecords) {
  Host a("host-a", true), b("host-b", true);
  a.Session("raw.20260101-000000", 1, 3000);
  b.Session("raw.20260101-000000", 1500, 4500, 2000);
  const std::string conninfo = server.ConnInfo(database);
  {
    Subprocess runA(PELOX5_BINARY_DIR "/tools/extract/pelox5-extract", a.Args(conninfo, {}),
                    a.box.ProcessOptions());
    Subprocess runB(PELOX5_BINARY_DIR "/tools/extract/pelox5-extract", b.Args(conninfo, {}),
                    b.box.ProcessOptions());
    EXPECT_EQ(runA.Wait(std::chrono::seconds(120)), 0) << runA.Stderr();
    EXPECT_EQ(runB.Wait(std::chrono::seconds(120)), 0) << runB.Stderr();
  }
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT number), min(number), max(number) FROM records"),
            "4500|4500|1|4500\n");
  // Whichever came second, the other line of record 2000 is a conflict.
  EXPECT_EQ(Sql("SELECT count(*), min(number) FROM conflicts"), "1|2000\n");
  EXPECT_EQ(Sql("SELECT records, conflicts FROM deployments WHERE name = 'site1'"), "4500|1\n");
  EXPECT_EQ(Sql("SELECT string_agg(host, ',' ORDER BY host) FROM deployment_hosts"),
            "host-a,host-b\n");
  // The typed fields travel with the lines: a jsonb object and the UTC instant.
  EXPECT_EQ(Sql("SELECT fields->>'id', fields->>'time', (fields->>'value')::numeric, "
                "to_char(time_utc AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI') "
                "FROM records WHERE number = 4500"),
            "R004500|2026-01-01 00:00:00|1.0|2025-12-31 23:00\n");

  // Each host's next run brings the other's numbers into its record recovery
  // file; a host that never downloaded asks for none of them either.
  Host spare("host-c");
  for (const Host* h : {&a, &b, &spare}) {
    SCOPED_TRACE(h->name);
    Subprocess::Result r = h->Extract(conninfo);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(h->Rcd(), "1-4500\n");
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM records"), "4500\n");

  // The fleet view, in its three forms, and each host's own view.
  struct View {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  };
  const std::vector<View> views{
      {{},
       {"DEPLOYMENT  HOSTS                 STORED  MISSING  LOGGED  CONFLICTS  LAST PUBLISH",
        "site1       host-a,host-b,host-c  4500    0        -       1          "}},
      {{"--json"},
       {R"("deployment": "site1")", R"("hosts": [)", R"("stored_records": 4500)",
        R"("missing_records": 0)", R"("record_conflicts": 1)", R"("records_logged": null)"}},
      {{"--prometheus"},
       {"# TYPE pelox5_central_stored_records gauge",
        "pelox5_central_stored_records{deployment=\"site1\"} 4500",
        "pelox5_central_missing_records{deployment=\"site1\"} 0",
        "pelox5_central_record_conflicts{deployment=\"site1\"} 1",
        "pelox5_central_hosts{deployment=\"site1\"} 3"}},
  };
  for (const View& view : views) {
    std::vector<std::string> args{"--database", conninfo};
    args.insert(args.end(), view.args.begin(), view.args.end());
    Subprocess::Result r = Subprocess::Run(Sandbox::StatusTool(), args, a.box.ProcessOptions());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& line : view.lines)
      EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(PostgresServer::kPassword), std::string::npos);
  }
  // The same figures as a page, written whole to its file.
  const std::string page = a.box.DeploymentFolder("site1") + "/../fleet.html";
  Subprocess::Result html = Subprocess::Run(
      Sandbox::StatusTool(), {"--database", conninfo, "--html", page}, a.box.ProcessOptions());
  EXPECT_EQ(html.status, 0) << html.err;
  const std::string text = ReadFile(page);
  for (const char* cell :
       {R"(data-k="stored_records">4500<)", R"(data-k="missing_records">0<)",
        R"(data-k="record_conflicts">1<)", R"(data-k="hosts">host-a, host-b, host-c<)"})
    EXPECT_NE(text.find(cell), std::string::npos) << text;
  EXPECT_EQ(text.find(PostgresServer::kPassword), std::string::npos);
  json fleet =
      json::parse(Subprocess::Run(Sandbox::StatusTool(), {"--database", conninfo, "--json"},
                                  a.box.ProcessOptions())
                      .out);
  EXPECT_EQ(fleet[0]["hosts"], json({"host-a", "host-b", "host-c"}));

  // The local view counts what waits; after a publish, nothing.
  b.Session("raw.20260102-000000", 4501, 4510);
  const std::string downInfo = "host=" + server.SocketFolder() + "/out dbname=x user=pelox5";
  EXPECT_EQ(b.Extract(downInfo).status, 1);
  fs::create_directories(fs::path(b.box.PrefsFile()).parent_path());
  WriteFile(b.box.PrefsFile(), json{{"RecordDatabase", downInfo}}.dump());
  Subprocess::Result st =
      Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, b.box.ProcessOptions());
  json local = json::parse(st.out)[0];
  EXPECT_EQ(local["unpublished_records"], 10) << st.out;
  EXPECT_TRUE(local["unpublished_since"].is_number()) << st.out;
  st = Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1"}, b.box.ProcessOptions());
  EXPECT_NE(st.out.find("UNPUBLISHED"), std::string::npos) << st.out;
  EXPECT_NE(st.out.find("central: records wait to be published since"), std::string::npos)
      << st.out;
  EXPECT_EQ(b.Extract(conninfo).status, 0);
  local = json::parse(
      Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, b.box.ProcessOptions())
          .out)[0];
  EXPECT_EQ(local["unpublished_records"], 0);
  EXPECT_TRUE(local["unpublished_since"].is_null());
}

}  // namespace
