// pelox5-extract as users run it: the collection loop with downloads from
// pelox5-sim, duplicates and conflicts, growing and changed session files, a
// kill in the middle, two runs at once, and stores it must leave alone.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "records/RecordStore.h"
#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Runs `sql` on the SQLite file at `path` (created when missing).
void Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

std::string Record(int n, const std::string& value = "1.00") {
  char number[16];
  std::snprintf(number, sizeof number, "R%06d", n);
  return std::string(number) + ",2026-01-01 00:00:00," + value;
}

class ExtractProgram : public ::testing::Test {
 protected:
  void SetUp() override { Deploy(json::object()); }

  void Deploy(const json& extra) {
    json cfg{{"Name", "site1"},
             {"Status", "Active"},
             {"Port", "127.0.0.1:1"},
             {"ExtractReceivedRecordFile", "extract.rcd"}};
    cfg.update(extra);
    box.AddDeployment("site1", cfg.dump(2));
    fs::create_directories(box.Downloads("site1"));
  }
  std::string Folder() const { return box.DeploymentFolder("site1"); }
  std::string Store() const { return Folder() + "/records.sqlite"; }
  std::string Rcd() const { return ReadFile(Folder() + "/extract.rcd"); }
  void Session(const std::string& name, const std::string& text) const {
    WriteFile(box.Downloads("site1") + "/" + name, text);
  }
  Subprocess::Result Extract(std::vector<std::string> extra = {}) const {
    std::vector<std::string> args{"-d", "site1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Subprocess::Run(ExtractTool(), args, box.ProcessOptions(), std::chrono::seconds(120));
  }
  json Summary(std::vector<std::string> extra = {}) const {
    extra.push_back("--json");
    Subprocess::Result r = Extract(extra);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? json::parse(r.out) : json();
  }
  static std::string ExtractTool() { return PELOX5_BINARY_DIR "/tools/extract/pelox5-extract"; }
  // The extraction as an account that is not root: "nobody", owning the
  // sandbox, when the test runs as root.
  Subprocess::Result ExtractAsUser() const {
    std::string program = ExtractTool();
    std::vector<std::string> args{"-d", "site1", "--json"};
    if (::geteuid() == 0) {
      fs::permissions(box.Root(), fs::perms(0755));
      for (const auto& entry : fs::recursive_directory_iterator(box.Root())) {
        if (entry.path().filename().string().find("root-only") == std::string::npos) {
          EXPECT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
        }
      }
      args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program});
      program = "/usr/bin/setpriv";
    }
    return Subprocess::Run(program, args, box.ProcessOptions(), std::chrono::seconds(120));
  }
  json Status() const {
    auto r =
        Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
    return json::parse(r.out)[0];
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  Sandbox box;
};

}  // namespace

TEST_F(ExtractProgram, TheLoopClosesAndTheNextDownloadAsksOnlyForWhatWasNotSent) {
  SimProcess sim(box, {"--tcp", "0", "--records", "120", "--echo"});
  Deploy({{"Port", sim.PortText()}, {"ConnectAttemptMaxTries", 2}, {"ConnectAttemptTimeout", 3}});
  // Received earlier: 1-50 and 60-80, so 0 and 51-59 are asked for by number
  // and getdata brings the latest 30, 91-120.
  WriteFile(Folder() + "/extract.rcd", "1-50,60-80\n");
  ASSERT_EQ(box.Download({"-d", "site1"}).status, 0);

  Subprocess::Result first = Extract();
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "");
  // Only the record lines: echoes, prompts and the logs reply are left out.
  EXPECT_EQ(first.out,
            "1 session files read, 39 records found: 39 new, 0 duplicates, "
            "0 conflicts; 39 stored; missing: 10 in " +
                Folder() + "/extract.rcd\n");
  EXPECT_EQ(Rcd(), "1-80\n91-120\n");  // what came from elsewhere stays
  // The stored lines, in order, exactly as received without the line end;
  // 60 and 61 came earlier and are not in the store.
  const std::string session = ReadFile(box.SessionFiles("site1")[0]);
  auto received = [&session](const std::string& prefix) {
    const size_t at = session.find("\n" + prefix) + 1;
    return session.substr(at, session.find("\r\n", at) - at) + "\n";
  };
  EXPECT_EQ(Extract({"--lines", "--from", "58", "--to", "61"}).out,
            received("R000058,") + received("R000059,"));

  // The next download asks only for what did not come: 0 and 81-90.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new session name
  ASSERT_EQ(box.Download({"-d", "site1"}).status, 0);
  const std::string commands = sim.CommandsThrough("quit");
  const std::string second = commands.substr(commands.find("quit\n") + 5);
  EXPECT_EQ(second.substr(second.find("logs")),
            "logs\ngetdata 30\ngetlog 0 1\ngetlog 81 10\nquit\n")
      << commands;

  // Its getdata repeats stored records: duplicates, not stored again.
  json again = Summary();
  EXPECT_EQ(again["new"], 10);
  EXPECT_EQ(again["duplicates"], 30);
  EXPECT_EQ(again["stored"], 49);
  EXPECT_EQ(Rcd(), "1-120\n");
  auto status =
      Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
  json s = json::parse(status.out)[0];
  EXPECT_EQ(s["missing_records"], 0);  // 1, the lowest received, to 120, the logged count
  EXPECT_EQ(s["stored_records"], 49);
  EXPECT_EQ(s["record_conflicts"], 0);
}

TEST_F(ExtractProgram, DuplicatesAreCountedAndAConflictKeepsTheFirstLine) {
  // Dialogue around the records is never a record, whatever the pattern.
  Session("raw.site1.2026001.000000",
          "PELOX>logs\r\nRecords logged: 5\r\nNext download is record 6\r\nPELOX>getdata 5\r\n" +
              Record(1) + "\r\n" + Record(2) + "\r\n" + Record(3) + "\r\ndone\r\nPELOX>");
  // Overlapping: 2 and 3 again, the same; 3 then with another line (a cleared
  // memory numbering again), twice; 4 new.
  Session("raw.site1.2026002.000000", Record(2) + "\r\n" + Record(3) + "\n" + Record(3, "9.99") +
                                          "\r\n" + Record(3, "9.99") + "\r\n" + Record(4) + "\r\n");
  Subprocess::Result r = Extract({"--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json s = json::parse(r.out);
  EXPECT_EQ(s["sessions_read"], 2);
  EXPECT_EQ(s["records_found"], 8);
  EXPECT_EQ(s["new"], 4);
  EXPECT_EQ(s["duplicates"], 3);
  EXPECT_EQ(s["conflicts"], 1);
  EXPECT_EQ(s["stored"], 4);
  EXPECT_EQ(s["missing"], 0);  // nothing below 1, the lowest received, counts
  EXPECT_NE(r.err.find("(WARNING) : Record 3 in raw.site1.2026002.000000 (byte "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("differs from the one stored from raw.site1.2026001.000000"),
            std::string::npos);
  EXPECT_EQ(Extract({"--lines"}).out,
            Record(1) + "\n" + Record(2) + "\n" + Record(3) + "\n" + Record(4) + "\n");
  EXPECT_EQ(Rcd(), "1-4\n");
  auto status =
      Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
  EXPECT_EQ(json::parse(status.out)[0]["record_conflicts"], 1);

  // Nothing new: nothing changes, nothing is reported again.
  const auto stored = fs::last_write_time(Store());
  r = Extract();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("0 session files read, 0 records found: 0 new", 0), 0u) << r.out;
  EXPECT_EQ(fs::last_write_time(Store()), stored);

  // Many conflicts: the first ten named, the rest counted in one line; all kept.
  std::string many;
  for (int i = 0; i < 25; ++i) many += Record(1, "7." + std::to_string(i)) + "\r\n";
  Session("raw.site1.2026003.000000", many);
  r = Extract({"--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(json::parse(r.out)["stored_conflicts"], 26);
  EXPECT_EQ(Count(r.err, "(WARNING) : Record 1 in raw.site1.2026003.000000"), 10u) << r.err;
  EXPECT_EQ(Count(r.err, "(WARNING)"), 11u) << r.err;
  EXPECT_NE(r.err.find("15 more conflicting records (25 in all this run)"), std::string::npos)
      << r.err;
}

TEST_F(ExtractProgram, EveryCommonLineEndEndsALine) {
  struct Case {
    const char* what;
    std::string end;
  };
  const std::string nul("R000004,a\0b", 11);  // a NUL inside a line stays
  for (const Case& c : std::vector<Case>{{"LF", "\n"},
                                         {"CR LF", "\r\n"},
                                         {"CR", "\r"},
                                         {"LF CR", "\n\r"},
                                         {"CR CR LF", "\r\r\n"},
                                         {"CR NUL LF", std::string("\r\0\n", 3)}}) {
    fs::remove(Store());
    fs::remove_all(box.Downloads("site1"));
    fs::create_directories(box.Downloads("site1"));
    // The same records from two sessions: duplicates, never conflicts.
    for (const char* name : {"raw.site1.2026001.000000", "raw.site1.2026002.000000"})
      Session(name, "PELOX>getdata 4" + c.end + Record(1) + c.end + Record(2) + c.end + Record(3) +
                        c.end + nul + c.end + "done" + c.end + "PELOX>");
    json s = Summary();
    EXPECT_EQ(s["new"], 4) << c.what;
    EXPECT_EQ(s["duplicates"], 4) << c.what;
    EXPECT_EQ(s["conflicts"], 0) << c.what;
    EXPECT_EQ(Extract({"--lines"}).out,
              Record(1) + "\n" + Record(2) + "\n" + Record(3) + "\n" + nul + "\n")
        << c.what;
  }

  // A line end split across two reads of a growing file: the line is stored
  // once, whole, and the rest of its end is no new line.
  const std::string name = box.Downloads("site1") + "/raw.site1.2026003.000000";
  WriteFile(name, Record(5) + "\r");
  EXPECT_EQ(Summary()["new"], 1);
  { std::ofstream(name, std::ios::app) << "\n"; }
  EXPECT_EQ(Summary()["sessions_read"], 0);
  { std::ofstream(name, std::ios::app) << Record(6) << "\r\n"; }
  json s = Summary();
  EXPECT_EQ(s["new"], 1);
  EXPECT_EQ(s["duplicates"], 0);
  EXPECT_EQ(Extract({"--lines", "--from", "5"}).out, Record(5) + "\n" + Record(6) + "\n");
}

TEST_F(ExtractProgram, ExtractAndStatusCountTheSameMissingRecords) {
  // From the lowest received number to the journal's last record count, or to
  // the highest received number while no run has learnt the count.
  struct Case {
    std::string rcd;
    std::optional<int64_t> logged;
    int64_t missing;
  };
  const std::vector<Case> cases{
      {"5-9,20-29\n", std::nullopt, 10},                // 10-19; nothing below 5
      {"5-9,20-29\n", 40, 21},                          // and 30-40, not logged yet
      {"100-200\n", 50, 0},                             // the count is below them all
      {"1-10,2147483647\n", 15, 5},                     // 11-15: the stray top number adds nothing
      {"1-10,2147483647\n", std::nullopt, 2147483636},  // 11-2147483646
  };
  for (const Case& c : cases) {
    WriteFile(Folder() + "/extract.rcd", c.rcd);
    fs::remove(Folder() + "/runs.jsonl");
    if (c.logged)
      WriteFile(Folder() + "/runs.jsonl", json{{"end", "2026-12-09T10:00:00+00:00"},
                                               {"status", 0},
                                               {"outcome", "complete"},
                                               {"records_logged", *c.logged}}
                                                  .dump() +
                                              "\n");
    EXPECT_EQ(Summary()["missing"], c.missing) << c.rcd;
    auto status =
        Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
    EXPECT_EQ(json::parse(status.out)[0]["missing_records"], c.missing) << c.rcd;
  }
}

TEST_F(ExtractProgram, PatternsAreCheckedBeforeAnythingIsWritten) {
  Session("raw.site1.2026001.000000", "#7;x\r\nR000008,y\r\n");
  struct Case {
    std::string pattern;
    int status;
    std::string message;  // in the FATAL line, or the stored lines
  };
  for (const Case& c : std::vector<Case>{
           {"([0-9]+", 1, "is not a valid regular expression: missing closing parenthesis"},
           {"^R[0-9]+,", 1, "has no capture group"},
           {"#(\\d+);", 0, "#7;x\n"},  // Perl style, not anchored to the start
       }) {
    fs::remove(Store());
    Deploy({{"RecordPattern", c.pattern}});
    Subprocess::Result r = Extract();
    EXPECT_EQ(r.status, c.status) << c.pattern << r.err;
    if (c.status != 0) {
      EXPECT_NE(r.err.find("(FATAL) : RecordPattern \"" + c.pattern + "\" " + c.message),
                std::string::npos)
          << r.err;
      EXPECT_FALSE(fs::exists(Store()));
      EXPECT_FALSE(fs::exists(Folder() + "/extract.rcd"));
    } else {
      EXPECT_EQ(Extract({"--lines"}).out, c.message);
    }
  }
  EXPECT_EQ(Extract({"--from", "3"}).status, 2);  // --from without --lines
  EXPECT_EQ(Extract({"-l", "LOUD"}).status, 2);
}

TEST_F(ExtractProgram, APatternThatFindsNoRecordIsReportedAndItsFixReadsEverySessionAgain) {
  Session("raw.site1.2026001.000000", "PELOX>getdata 3\r\n" + Record(1) + "\r\n" + Record(2) +
                                          "\r\nR2147483648,x\r\nR9999999999,y\r\ndone\r\n");
  Session("raw.site1.2026002.000000", Record(3) + "\r\n");
  Session("raw.site1.2026000.000000", "x\r\n");  // archived elsewhere before the fix
  // The group takes the letter too: no line is a record.
  Deploy({{"RecordPattern", "^([A-Z][0-9]+),"}});
  Subprocess::Result r = Extract({"--json"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(json::parse(r.out)["sessions_without_records"], 3);
  EXPECT_EQ(Count(r.err, "(WARNING)"), 4u) << r.err;
  EXPECT_NE(r.err.find("(WARNING) : Session file " + box.Downloads("site1") +
                       "/raw.site1.2026001.000000 holds 4 reply lines but not one record for "
                       "RecordPattern \"^([A-Z][0-9]+),\"; the first: raw.site1.2026001.000000 "
                       "(byte 17): \"" +
                       Record(1) + "\""),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("(WARNING) : 5 lines match RecordPattern \"^([A-Z][0-9]+),\" but its "
                       "first group is not only digits"),
            std::string::npos)
      << r.err;

  fs::remove(box.Downloads("site1") + "/raw.site1.2026000.000000");
  // Fixed: every session is read again, once; numbers the record recovery
  // file cannot hold are reported in one line and not stored.
  Deploy(json::object());
  r = Extract({"--json", "-l", "INFO"});
  EXPECT_EQ(r.status, 0) << r.err;
  json s = json::parse(r.out);
  EXPECT_EQ(s["sessions_read"], 2);
  EXPECT_EQ(s["stored"], 3);
  EXPECT_EQ(Count(r.err, "every session file is read again from its start"), 1u) << r.err;
  EXPECT_EQ(Count(r.err, "(WARNING)"), 1u) << r.err;
  EXPECT_NE(r.err.find("(WARNING) : 2 record lines have numbers above 2147483647, which the "
                       "record recovery file cannot hold; they are not stored (first: "
                       "raw.site1.2026001.000000 (byte 85): \"R2147483648,x\""),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Extract({"--lines"}).out, Record(1) + "\n" + Record(2) + "\n" + Record(3) + "\n");
  EXPECT_EQ(Rcd(), "1-3\n");
  // The same pattern: nothing read again, nothing said of it.
  r = Extract({"-l", "INFO"});
  EXPECT_EQ(r.out.rfind("0 session files read", 0), 0u) << r.out;
  EXPECT_EQ(r.err.find("read again"), std::string::npos) << r.err;
}

TEST_F(ExtractProgram, AnUnreadableSessionIsSkippedAndTheRestAbsorbed) {
  Session("raw.site1.2026001.000000", Record(1) + "\r\n");
  Session("raw.site1.2026002.000000.root-only", Record(2) + "\r\n");
  Session("raw.site1.2026003.000000", Record(3) + "\r\n");
  const std::string locked = box.Downloads("site1") + "/raw.site1.2026002.000000.root-only";
  fs::permissions(locked, fs::perms::none);
  Subprocess::Result r = ExtractAsUser();
  EXPECT_EQ(r.status, 1) << r.err;
  json s = json::parse(r.out);
  EXPECT_EQ(s["stored"], 2);
  EXPECT_EQ(s["unusable_sessions"], 1);
  EXPECT_NE(r.err.find("(WARNING) : Session file " + locked +
                       " cannot be read (Permission denied); it is skipped (owner "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("mode 0000); let this account read it (e.g. chmod a+r " + locked),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Rcd(), "1-1\n3-3\n");
  EXPECT_EQ(Status()["sessions_not_absorbed"], 1);
  EXPECT_NE(Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1"}, box.ProcessOptions())
                .out.find("records: the last extraction skipped 1 session files "
                          "(raw.site1.2026002.000000.root-only: cannot be read (Permission "
                          "denied))"),
            std::string::npos);

  // Mended: the next extraction absorbs it and status shows nothing left.
  fs::permissions(locked, fs::perms(0644));
  r = ExtractAsUser();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Rcd(), "1-3\n");
  EXPECT_EQ(Status()["sessions_not_absorbed"], 0);

  // A FIFO among the session files is refused at once, never waited on.
  const std::string fifo = box.Downloads("site1") + "/raw.site1.2026004.000000";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  r = ExtractAsUser();
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Session file " + fifo + " is not a regular file"), std::string::npos)
      << r.err;
  EXPECT_EQ(Rcd(), "1-3\n");
}

TEST_F(ExtractProgram, AGrowingSessionIsAbsorbedByWholeLinesAndAChangedOneIsReadAgain) {
  const std::string name = box.Downloads("site1") + "/raw.site1.2026001.000000";
  WriteFile(name, Record(1) + "\r\n" + Record(2).substr(0, 9));  // a download under way
  EXPECT_EQ(Summary()["new"], 1);
  { std::ofstream(name, std::ios::app) << Record(2).substr(9) << "\r\n" << Record(3) << "\r\n"; }
  json s = Summary();
  EXPECT_EQ(s["new"], 2);
  EXPECT_EQ(Extract({"--lines"}).out, Record(1) + "\n" + Record(2) + "\n" + Record(3) + "\n");
  EXPECT_EQ(Rcd(), "1-3\n");

  // Shrunk, or changed under what was absorbed: one warning, read again from
  // its start and merged; stored records stay; the next run is clean.
  struct Case {
    std::string text;
    int64_t fresh, duplicates, conflicts;
  };
  for (const Case& c : std::vector<Case>{
           {Record(1) + "\r\n", 0, 1, 0},
           {Record(7) + "\r\n" + Record(1) + "\r\n" + Record(3, "5.00") + "\r\n\r\n", 1, 1, 1},
           {"", 0, 0, 0},
       }) {
    WriteFile(name, c.text);
    Subprocess::Result r = Extract({"--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.err, "(WARNING) : Session file " + name), 1u) << r.err;
    json s = json::parse(r.out);
    EXPECT_EQ(s["changed_sessions"], 1);
    EXPECT_EQ(s["new"], c.fresh) << c.text;
    EXPECT_EQ(s["duplicates"], c.duplicates) << c.text;
    EXPECT_EQ(s["conflicts"], c.conflicts) << c.text;
    r = Extract();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(Extract({"--lines"}).out,
            Record(1) + "\n" + Record(2) + "\n" + Record(3) + "\n" + Record(7) + "\n");
}

TEST_F(ExtractProgram, AKilledRunAndTwoRunsAtOnceStoreEachRecordOnce) {
  // Three sessions of 60000 records, overlapping by 10000.
  constexpr int kPer = 60000, kStep = 50000, kFiles = 3;
  for (int f = 0; f < kFiles; ++f) {
    std::string text;
    for (int n = f * kStep + 1; n <= f * kStep + kPer; ++n) text += Record(n) + "\r\n";
    Session("raw.site1.202600" + std::to_string(f + 1) + ".000000", text);
  }
  const std::string expected = "1-" + std::to_string((kFiles - 1) * kStep + kPer) + "\n";

  // Killed once the store has grown under the first file's transaction.
  {
    Subprocess run(ExtractTool(), {"-d", "site1"}, box.ProcessOptions());
    for (int i = 0; i < 20000; ++i) {
      struct stat st {};
      if (::stat(Store().c_str(), &st) == 0 && st.st_size > (1 << 20)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run.Signal(SIGKILL);
    run.Wait(std::chrono::seconds(30));
  }
  // Readers before the next extraction see the store as last committed.
  ASSERT_TRUE(fs::exists(Store() + "-journal"));
  EXPECT_EQ(Extract({"--lines"}).status, 0);
  EXPECT_FALSE(fs::exists(Store() + "-journal"));  // put back by the reader
  auto status =
      Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
  EXPECT_TRUE(json::parse(status.out)[0]["records_error"].is_null()) << status.out;
  // The rest absorbed by two runs at once.
  {
    Subprocess a(ExtractTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
    Subprocess b(ExtractTool(), {"-d", "site1", "--json"}, box.ProcessOptions());
    ASSERT_EQ(a.Wait(std::chrono::seconds(120)), 0) << a.Stderr();
    ASSERT_EQ(b.Wait(std::chrono::seconds(120)), 0) << b.Stderr();
    // Each finds every file absorbed, by itself or by the other.
    EXPECT_EQ(json::parse(a.Stdout())["stored"], 160000);
    EXPECT_EQ(json::parse(b.Stdout())["stored"], 160000);
  }
  json s = Summary();
  EXPECT_EQ(s["stored"], 160000);
  EXPECT_EQ(s["new"], 0);
  EXPECT_EQ(Rcd(), expected);
  Subprocess::Result lines = Extract({"--lines"});
  EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 160000);

  // A record recovery file that fell behind the store (a kill after the
  // commit, a restore) is brought up to date; ranges from elsewhere stay.
  WriteFile(Folder() + "/extract.rcd", "1-10,500000-500001\n");
  EXPECT_EQ(Summary()["missing"], 500000 - 160001);  // 160001-499999
  EXPECT_EQ(Rcd(), "1-160000\n500000-500001\n");
}

TEST_F(ExtractProgram, StoresThatCannotBeUsedAreLeftAsTheyAre) {
  Session("raw.site1.2026001.000000", Record(1) + "\r\n");
  ASSERT_EQ(Extract().status, 0);
  const std::string good = ReadFile(Store());
  std::string damaged = good;
  for (size_t i = 100; i < damaged.size(); ++i) damaged[i] = static_cast<char>(i * 7);
  Session("raw.site1.2026002.000000", Record(2) + "\r\n");
  const std::string foreignPath = Folder() + "/other.sqlite";
  Sql(foreignPath, "CREATE TABLE contacts(name TEXT, phone TEXT)");
  const std::string foreign = ReadFile(foreignPath);
  struct Case {
    const char* what;
    std::string bytes;
    fs::perms perms;
  };
  for (const Case& c : std::vector<Case>{
           {"not SQLite", "name,value\n1,2\n" + std::string(5000, 'x'), fs::perms::owner_all},
           {"another program's SQLite", foreign, fs::perms::owner_all},
           {"damaged", damaged, fs::perms::owner_all},
           {"read-only", good, fs::perms::owner_read | fs::perms::group_read},
       }) {
    fs::permissions(Store(), fs::perms::owner_all);
    WriteFile(Store(), c.bytes);
    fs::permissions(Store(), c.perms);
    Subprocess::Result r = Extract();
    EXPECT_EQ(r.status, 1) << c.what << "\n" << r.out;
    EXPECT_NE(r.err.find("(FATAL) : Record store " + Store()), std::string::npos) << c.what << "\n"
                                                                                  << r.err;
    EXPECT_EQ(ReadFile(Store()), c.bytes) << c.what;
    EXPECT_EQ(Rcd(), "1-1\n") << c.what;
  }

  // A FIFO as the store or its journal would block every open until someone
  // writes to it: writer and readers refuse it at once.
  for (const std::string suffix : {"", "-journal"}) {
    if (fs::exists(Store())) fs::permissions(Store(), fs::perms::owner_all);
    WriteFile(Store(), good);
    if (suffix.empty()) fs::remove(Store());
    ASSERT_EQ(::mkfifo((Store() + suffix).c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"--lines"}}) {
      Subprocess::Result r = Extract(args);
      EXPECT_EQ(r.status, 1) << suffix;
      EXPECT_NE(r.err.find(" is a FIFO, not a regular file; move it away"), std::string::npos)
          << suffix << r.err;
    }
    auto status = Subprocess::Run(Sandbox::StatusTool(), {"-d", "site1", "--json"},
                                  box.ProcessOptions(), std::chrono::seconds(60));
    EXPECT_NE(json::parse(status.out)[0]["records_error"].get<std::string>().find("a FIFO"),
              std::string::npos);
    fs::remove(Store() + suffix);
  }
}

TEST_F(ExtractProgram, LimitsOfTheDiskStoreNothingAndSayWhy) {
  Session("raw.site1.2026001.000000", Record(1) + "\r\n");
  ASSERT_EQ(Extract().status, 0);
  const std::string before = ReadFile(Store());
  std::string text;
  for (int n = 2; n <= 5000; ++n) text += Record(n) + "\r\n";
  Session("raw.site1.2026002.000000", text);
  struct Case {
    const char* what;
    std::string shell;  // run before the extraction
    json cfg;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {"reserve beyond the free space",
            "",
            {{"ExtractFreeSpaceReserveMB", 1 << 20}},
            "(FATAL) : Not enough free space for the extraction: "},
           {"file-size limit", "ulimit -f 64 && ", json::object(),
            "the file-size limit of this process (ulimit -f, 65536 bytes) is reached"},
       }) {
    Deploy(c.cfg);
    Subprocess::Result r = Subprocess::Run(
        "/bin/bash", {"-c", c.shell + "exec \"$0\" \"$@\"", ExtractTool(), "-d", "site1"},
        box.ProcessOptions(), std::chrono::seconds(120));
    EXPECT_EQ(r.status, 1) << c.what << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << r.err;
    EXPECT_EQ(ReadFile(Store()), before) << c.what;
    EXPECT_FALSE(fs::exists(Store() + "-journal")) << c.what;
    EXPECT_EQ(Rcd(), "1-1\n") << c.what;
  }
  Deploy(json::object());
  EXPECT_EQ(Summary()["new"], 4999);
}

TEST_F(ExtractProgram, AReaderInATransactionIsNamedWhenTheWriterGivesUp) {
  Session("raw.site1.2026001.000000", Record(1) + "\r\n");
  ASSERT_EQ(Extract().status, 0);
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Store().c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM records;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  Records::RecordStore store = Records::RecordStore::OpenForWriting(Store(), 100);
  store.Begin();
  std::string error;
  try {
    store.AddSession("raw.site1.2026002.000000", 0);
    store.Commit();
  } catch (const Records::StoreError& e) {
    error = e.Message;
    store.Rollback();
  }
  sqlite3_close(reader);
  EXPECT_NE(error.find("another program holds the store open in a transaction"), std::string::npos)
      << error;
}

TEST_F(ExtractProgram, NamedFieldsGiveATypedTableAndACsvThatReadBackExactly) {
  const json fields = json::array({"id",
                                   {{"name", "time"}, {"type", "time"}, {"format", "%d.%m.%Y %T"}},
                                   {{"name", "temp"}, {"type", "real"}, {"unit", "degC"}},
                                   "note"});
  Deploy({{"RecordFields", fields}, {"RecordFieldSeparator", ";"}, {"TimeZone", "Europe/Berlin"}});
  // Through the autumn change (02:00-03:00 local twice; 02:10 after 02:30 is
  // the second pass), a spring-gap time, a comma and quotes, a bad value, a
  // short and a long line.
  const std::string lines =
      "R1;25.10.2026 01:30:00;1.5;plain\r\n"
      "R2;25.10.2026 02:30:00;2.5;a, \"quoted\" note\r\n"
      "R3;25.10.2026 02:10:00;x;after\r\n"
      "R4;25.10.2026 02:50:00\r\n"
      "R5;29.03.2026 02:30:00;5;gap;extra\r\n";
  Session("raw.site1.2026001.000000", "PELOX>getdata 5\r\n" + lines + "done\r\nPELOX>");
  Subprocess::Result r = Extract({"--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json s = json::parse(r.out);
  EXPECT_EQ(s["new"], 5);
  EXPECT_EQ(s["bad_values"], 1);
  EXPECT_EQ(s["short_lines"], 1);
  EXPECT_EQ(s["long_lines"], 1);
  EXPECT_EQ(s["nonexistent_times"], 1);
  // One warning per kind, with its first example.
  EXPECT_EQ(Count(r.err, "(WARNING)"), 4u) << r.err;
  EXPECT_NE(r.err.find("1 values are not of their field's type; they are NULL in typed_records "
                       "(the stored lines are kept as received); the first: record 3: "
                       "\"temp: x\""),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("the first: record 5: \"29.03.2026 02:30:00\""), std::string::npos);
  // The stored lines stay as received.
  std::string stored = lines;
  for (size_t at; (at = stored.find('\r')) != std::string::npos;) stored.erase(at, 1);
  EXPECT_EQ(Extract({"--lines"}).out, stored);

  // The CSV, as Python's csv module reads it.
  auto csvRows = [this](std::vector<std::string> extra) {
    extra.insert(extra.begin(), "--csv");
    Subprocess::Result csv = Extract(extra);
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.find('\n'), csv.out.find("\r\n") + 1) << csv.out;  // CR LF ends
    WriteFile(box.Root() + "/out.csv", csv.out);
    Subprocess::Result py = Subprocess::Run(
        "/usr/bin/python3",
        {"-c",
         "import csv, json, sys; print(json.dumps(list(csv.reader(open(sys.argv[1], "
         "newline='')))))",
         box.Root() + "/out.csv"},
        box.ProcessOptions());
    EXPECT_EQ(py.status, 0) << py.err;
    return py.status == 0 ? json::parse(py.out) : json();
  };
  const json header = {"number", "id", "time", "time_utc", "temp", "note"};
  const json rows = {
      {"1", "R1", "2026-10-25 01:30:00", "2026-10-24T23:30:00Z", "1.5", "plain"},
      {"2", "R2", "2026-10-25 02:30:00", "2026-10-25T00:30:00Z", "2.5", "a, \"quoted\" note"},
      {"3", "R3", "2026-10-25 02:10:00", "2026-10-25T01:10:00Z", "", "after"},
      {"4", "R4", "2026-10-25 02:50:00", "2026-10-25T01:50:00Z", "", ""},
      {"5", "R5", "2026-03-29 02:30:00", "", "5.0", "gap"}};
  EXPECT_EQ(
      csvRows({"--units"}),
      json::array(
          {header, {"", "", "", "", "degC", ""}, rows[0], rows[1], rows[2], rows[3], rows[4]}));
  EXPECT_EQ(csvRows({"--from", "2", "--to", "3"}), json::array({header, rows[1], rows[2]}));
  // Time bounds, both included: local text, or UTC with Z.
  EXPECT_EQ(csvRows({"--since", "2026-10-25 02:00", "--until", "2026-10-25T02:30:00"}),
            json::array({header, rows[1], rows[2]}));
  EXPECT_EQ(csvRows({"--since", "2026-10-25T01:10:00Z", "--until", "2026-10-25T01:50:00Z"}),
            json::array({header, rows[2], rows[3]}));

  // The typed table, as the sqlite3 shell reads it.
  auto query = [this](const std::string& sql) {
    Subprocess::Result q =
        Subprocess::Run("/usr/bin/sqlite3", {"-json", Store(), sql}, box.ProcessOptions());
    EXPECT_EQ(q.status, 0) << q.err;
    return q.status == 0 && !q.out.empty() ? json::parse(q.out) : json::array();
  };
  EXPECT_EQ(query("select number, time, temp from typed_records where time >= '2026-10-25 02:00' "
                  "order by number"),
            json::parse(R"([{"number":2,"time":"2026-10-25 02:30:00","temp":2.5},
                            {"number":3,"time":"2026-10-25 02:10:00","temp":null},
                            {"number":4,"time":"2026-10-25 02:50:00","temp":null}])"));
  EXPECT_EQ(query("select name, type, unit, utc_of from typed_columns order by position"),
            json::parse(R"([{"name":"id","type":"text","unit":"","utc_of":null},
                            {"name":"time","type":"time","unit":"","utc_of":null},
                            {"name":"time_utc","type":"text","unit":"","utc_of":"time"},
                            {"name":"temp","type":"real","unit":"degC","utc_of":null},
                            {"name":"note","type":"text","unit":"","utc_of":null}])"));
  EXPECT_EQ(query("select * from record_days order by day"),
            json::parse(R"([{"day":"2026-03-29","records":1},{"day":"2026-10-25","records":4}])"));
  // 2400 s between 2 and 3 and between 3 and 4, 3600 s between 1 and 2.
  EXPECT_EQ(query("select value from meta where key = 'record_interval_s'"),
            json::parse(R"([{"value":2400}])"));

  // Other fields: the typed records are rebuilt from the stored lines alone,
  // with one INFO line; without a zone a UTC bound is refused.
  for (const std::string& file : box.SessionFiles("site1")) fs::remove(file);
  Deploy({{"RecordFields",
           json::array(
               {"id", {{"name", "time"}, {"type", "time"}, {"format", "%d.%m.%Y %T"}}, "temp"})},
          {"RecordFieldSeparator", ";"}});
  r = Extract({"--json", "-l", "INFO"});
  ASSERT_EQ(r.status, 0) << r.err;
  s = json::parse(r.out);
  EXPECT_EQ(s["sessions_read"], 0);
  EXPECT_EQ(s["typed_rebuilt"], 5);
  EXPECT_EQ(s["bad_values"], 0);
  EXPECT_EQ(s["long_lines"], 4);  // every line but the short one has a note now left out
  EXPECT_EQ(Count(r.err, "the typed records were rebuilt from the 5 stored lines"), 1u) << r.err;
  EXPECT_EQ(query("select number, temp from typed_records where number in (3, 5)"),
            json::parse(R"([{"number":3,"temp":"x"},{"number":5,"temp":"5"}])"));
  EXPECT_EQ(csvRows({})[0], json({"number", "id", "time", "temp"}));
  EXPECT_EQ(Extract({"--csv", "--since", "2026-10-25T00:00:00Z"}).status, 2);
  // The same fields again: nothing is rebuilt.
  EXPECT_EQ(Summary()["typed_rebuilt"], nullptr);
  // A typed table dropped by hand comes back from the lines.
  Sql(Store(), "DROP TABLE typed_records");
  EXPECT_EQ(Summary()["typed_rebuilt"], 5);
  EXPECT_EQ(query("select count(*) as n from typed_records"), json::parse(R"([{"n":5}])"));

  // A reader that stops early ends the export quietly, with status 0.
  std::string many;
  for (int n = 10; n < 20000; ++n)
    many += "R" + std::to_string(n) + ";25.11.2026 10:00:00;1.25;a longer note to fill pipes\r\n";
  Session("raw.site1.2026002.000000", many);
  ASSERT_EQ(Summary()["new"], 19990);
  Subprocess::Result head = Subprocess::Run(
      "/bin/bash",
      {"-c", "set -o pipefail; \"$0\" -d site1 --csv | head -c 100 >/dev/null", ExtractTool()},
      box.ProcessOptions());
  EXPECT_EQ(head.status, 0) << head.err;
  EXPECT_EQ(head.err, "");

  // Without RecordFields: field1 to fieldN, text, N the most fields a stored
  // line has, kept up as lines with more come.
  Deploy({{"RecordFieldSeparator", ";"}});
  EXPECT_EQ(Summary()["typed_rebuilt"], 19995);
  EXPECT_EQ(csvRows({"--to", "5"}),
            json::array({{"number", "field1", "field2", "field3", "field4", "field5"},
                         {"1", "R1", "25.10.2026 01:30:00", "1.5", "plain", ""},
                         {"2", "R2", "25.10.2026 02:30:00", "2.5", "a, \"quoted\" note", ""},
                         {"3", "R3", "25.10.2026 02:10:00", "x", "after", ""},
                         {"4", "R4", "25.10.2026 02:50:00", "", "", ""},
                         {"5", "R5", "29.03.2026 02:30:00", "5", "gap", "extra"}}));
  Session("raw.site1.2026003.000000", "R30000;a;b;c;d;e;f\r\n");
  EXPECT_EQ(Summary()["typed_rebuilt"], nullptr);
  EXPECT_EQ(
      csvRows({"--from", "30000"}),
      json::array({{"number", "field1", "field2", "field3", "field4", "field5", "field6", "field7"},
                   {"30000", "R30000", "a", "b", "c", "d", "e", "f"}}));
}
