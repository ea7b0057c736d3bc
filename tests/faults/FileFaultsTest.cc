// Runs whose files fail them: an unusable downloads folder, a disk that fills
// while the session is written, a damaged preferences file and a truncated
// deployment.cfg.

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "FaultRun.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class FileFaults : public FaultTest {};

}  // namespace

TEST_F(FileFaults, AFileWhereTheDownloadsFolderGoesStopsTheRun) {
  Deploy("site1", Cfg("site1", "127.0.0.1:9"));
  WriteFile(box.Downloads("site1"), "not a folder");
  RunOutcome r = Run("site1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      r.Logged(" Download target is missing the 'downloads' folder or it is not "
               "writeable.\n"));
  EXPECT_FALSE(r.Logged("Port requested:"));
  EXPECT_EQ(ReadFile(box.Downloads("site1")), "not a folder");
}

TEST_F(FileFaults, AFullDiskEndsTheRunWithTheBytesThatFit) {
  SimProcess sim(box, {"--tcp", "0", "--records", "50000", "--record-size", "100"});
  json cfg = Cfg("site1", sim.PortText());
  cfg["RecordRequestSize"] = 50000;
  Deploy("site1", cfg);
  // 5 MB of records against a file-size limit of 1000 KiB.
  const size_t limit = 1000 * 1024;
  RunOutcome r = Run("site1", {"/bin/bash", "-c", "ulimit -f 1000 && exec \"$0\" \"$@\""});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Logged("(FATAL) : Unable to write the raw download session: "));
  EXPECT_EQ(r.session.size(), limit);
  EXPECT_TRUE(IsPrefix(r.session, sim.SentBytes()));
  // The journal, a small file beside it, still tells how the run ended.
  json line = json::parse(ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl"));
  EXPECT_EQ(line["outcome"], "fatal");
  EXPECT_EQ(line["fatal"].get<std::string>().rfind("Unable to write the raw download session: ", 0),
            0u);
  EXPECT_EQ(line["session_bytes"], limit);
}

TEST_F(FileFaults, ClosedOrDeadStandardStreamsNeverTakeTheSessionsBytes) {
  // Each wrapper starts the tool with standard streams as careless cron lines
  // and supervisors leave them: closed, or a pipe whose reader has gone.
  const std::vector<std::string> redirections{
      "exec \"$0\" \"$@\" 2>&-",
      "exec \"$0\" \"$@\" >&- 2>&-",
      "exec \"$0\" \"$@\" <&- >&- 2>&-",
      "exec 3> >(exit 0); wait $!; exec \"$0\" \"$@\" 2>&3 3>&-",
  };
  for (const std::string& redirection : redirections) {
    SimProcess sim(box, {"--tcp", "0", "--records", "100"});
    Deploy("site1", Cfg("site1", sim.PortText()));
    WriteRcd("site1", "1-50\n");
    RunOutcome r = Run("site1", {"/bin/bash", "-c", redirection});
    EXPECT_EQ(r.status, 0) << redirection;
    EXPECT_EQ(r.session, sim.SentBytes()) << redirection;
    EXPECT_EQ(sim.CommandsThrough("quit"), "\nlogs\ngetdata 30\ngetlog 0 1\nquit\n") << redirection;
    // The journal still records the run.
    std::string journal = ReadFile(box.DeploymentFolder("site1") + "/runs.jsonl");
    EXPECT_NE(journal.find("\"outcome\":\"complete\""), std::string::npos) << redirection;
    fs::remove_all(box.Downloads("site1"));
    fs::remove(box.DeploymentFolder("site1") + "/runs.jsonl");
  }
}

TEST_F(FileFaults, AFileSizeLimitMakesThePreferencesSaveAnOrdinaryFailure) {
  // Preferences larger than the limit of 1 KiB; the log fits in it.
  const fs::path folder = fs::path(box.PrefsFile()).parent_path();
  fs::create_directories(folder);
  const std::string prefs = json{
      {"ProjectRootPath", box.Documents()},
      {"ProjectRootFolder", "Pelox5"},
      {"PathDelimiter", "/"},
      {"Pad",
       std::string(2000, 'x')}}.dump();
  WriteFile(box.PrefsFile(), prefs);
  RunOutcome r = Run("site1", {"/bin/bash", "-c", "ulimit -f 1 && exec \"$0\" \"$@\""});
  EXPECT_EQ(r.status, 1) << r.log;
  EXPECT_TRUE(r.Logged("(WARNING) : Preferences save failed.\n"));
  EXPECT_TRUE(r.Logged("(FATAL) : getDeploymentFolderByName():"));
  // The file is as it was, and no temporary file is left beside it.
  EXPECT_EQ(ReadFile(box.PrefsFile()), prefs);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"Pelox5Apps.pref"});
}

TEST_F(FileFaults, UnderUmaskZeroNothingTheRunCreatesIsWritableByOthers) {
  SimProcess sim(box, {"--tcp", "0"});
  fs::remove_all(box.Home() + "/.config");
  fs::remove_all(box.ProjectFolder());
  RunOutcome first = Run("site1", {"/bin/bash", "-c", "umask 000 && exec \"$0\" \"$@\""});
  EXPECT_EQ(first.status, 1);  // no deployment yet; the folders are made on the way
  Deploy("site1", Cfg("site1", sim.PortText()));
  fs::remove_all(box.Downloads("site1"));
  RunOutcome r = Run("site1", {"/bin/bash", "-c", "umask 000 && exec \"$0\" \"$@\""});
  ASSERT_EQ(r.status, 0) << r.log;
  const fs::path prefsFolder = fs::path(box.PrefsFile()).parent_path();
  for (const std::string& made :
       {prefsFolder.string(), box.PrefsFile(), box.ProjectFolder(), box.Downloads("site1"),
        box.SessionFiles("site1").at(0), box.DeploymentFolder("site1") + "/runs.jsonl"}) {
    const fs::perms perms = fs::status(made).permissions();
    EXPECT_EQ(perms & fs::perms::others_write, fs::perms::none) << made;
    EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none) << made;
  }
  // The group keeps what the umask allows.
  EXPECT_NE(fs::status(box.Downloads("site1")).permissions() & fs::perms::group_write,
            fs::perms::none);
}

TEST_F(FileFaults, AKilledRunLeavesEveryByteItHadReadOnDisk) {
  // The controller stops in the middle of a slow getdata reply and stays
  // connected, so every byte it sent reaches the tool; the tool is then killed
  // outright, with no chance to flush anything.
  const size_t sentBeforeSilence = 30000;
  SimProcess sim(box, {"--tcp", "0", "--records", "2000", "--throttle", "50000", "--silent-after",
                       std::to_string(sentBeforeSilence)});
  json cfg = Cfg("site1", sim.PortText());
  cfg["RecordRequestSize"] = 2000;
  Deploy("site1", cfg);
  PendingRun run(box, "site1");
  auto onDisk = [&] {
    auto files = box.SessionFiles("site1");
    return files.size() == 1 ? fs::file_size(files[0]) : 0;
  };
  for (int i = 0; i < 2000 && onDisk() < sentBeforeSilence; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(onDisk(), sentBeforeSilence);
  run.Process().Signal(SIGKILL);
  RunOutcome r = run.Finish();
  EXPECT_EQ(r.status, -SIGKILL);
  EXPECT_EQ(r.session, sim.SentBytes());
}

TEST_F(FileFaults, DamagedPreferencesAreReplacedByValidDefaults) {
  SimProcess sim(box, {"--tcp", "0"});
  Deploy("site1", Cfg("site1", sim.PortText()));
  WriteRcd("site1", "1-10\n");
  fs::create_directories(fs::path(box.PrefsFile()).parent_path());
  WriteFile(box.PrefsFile(), "{\"ProjectRootFolder\": \"Pelox5\", ");
  RunOutcome r = Run("site1");
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(r.session, sim.SentBytes());
  json prefs = json::parse(ReadFile(box.PrefsFile()), nullptr, false);
  ASSERT_FALSE(prefs.is_discarded()) << ReadFile(box.PrefsFile());
  EXPECT_EQ(prefs.value("ProjectRootFolder", ""), "Pelox5");
  // The operator's damaged text is kept beside it, and the log says where.
  EXPECT_EQ(ReadFile(box.PrefsFile() + ".damaged"), "{\"ProjectRootFolder\": \"Pelox5\", ");
  EXPECT_TRUE(r.Logged("(WARNING) : Preferences file " + box.PrefsFile() +
                       " could not be read; defaults are used and its text is kept in " +
                       box.PrefsFile() + ".damaged\n"))
      << r.log;

  // The rewritten file serves the next run unchanged.
  std::string rewritten = ReadFile(box.PrefsFile());
  EXPECT_EQ(Run("site1").status, 0);
  EXPECT_EQ(ReadFile(box.PrefsFile()), rewritten);
}

TEST_F(FileFaults, PreferencesThatCannotBeReadStopTheRunAndStayUntouched) {
  Deploy("site1", Cfg("site1", "127.0.0.1:9"));
  const std::string big = "{\"Pad\": \"" + std::string(2 << 20, 'x') + "\"}";
  fs::create_directories(fs::path(box.PrefsFile()).parent_path());
  WriteFile(box.PrefsFile(), big);
  RunOutcome r = Run("site1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Logged("(FATAL) : Preferences file " + box.PrefsFile() +
                       " cannot be read (larger than 1048576 bytes); the file is left as it is.\n"))
      << r.log;
  EXPECT_EQ(ReadFile(box.PrefsFile()), big);
  EXPECT_FALSE(fs::exists(box.PrefsFile() + ".damaged"));

  fs::remove(box.PrefsFile());
  fs::create_directory(box.PrefsFile());
  r = Run("site1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Logged("(FATAL) : Preferences file " + box.PrefsFile() +
                       " cannot be read (not a regular file); the file is left as it is.\n"))
      << r.log;
  EXPECT_TRUE(fs::is_directory(box.PrefsFile()));
  EXPECT_FALSE(r.Logged("Deployments path:"));
}

TEST_F(FileFaults, ADeploymentCfgTooLargeOrNotAFileStopsTheRun) {
  const std::string cfg = box.DeploymentFolder("site1") + "/cfg/deployment.cfg";
  json padded = Cfg("site1", "127.0.0.1:9");
  padded["Pad"] = std::string(2 << 20, 'x');
  Deploy("site1", padded);
  RunOutcome r = Run("site1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Logged("(FATAL) : "));
  EXPECT_TRUE(r.Logged("Configuration.Load():deployment.cfg cannot be read in:" +
                       box.DeploymentFolder("site1") + "/cfg (larger than 1048576 bytes)"));

  fs::remove(cfg);
  ASSERT_EQ(::mkfifo(cfg.c_str(), 0600), 0);  // a plain open would wait for a writer
  r = Run("site1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Logged("deployment.cfg cannot be read in:" + box.DeploymentFolder("site1") +
                       "/cfg (not a regular file)"));
  EXPECT_FALSE(r.Logged("Download SessionFile:"));
}

TEST_F(FileFaults, ATruncatedDeploymentCfgStopsTheRun) {
  std::string text = Cfg("site1", "127.0.0.1:9").dump(2);
  Deploy("site1", text.substr(0, text.size() / 2));
  RunOutcome r = Run("site1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.Logged("(FATAL) : Unable to find or unable to parse the deployment cfg file:" +
                       box.DeploymentFolder("site1") + "/cfg/deployment.cfg\n"));
  EXPECT_FALSE(r.Logged("Download SessionFile:"));
}

TEST_F(FileFaults, ARecordRecoveryFileThatIsNotARegularFileIsSkippedWithoutWaiting) {
  SimProcess sim(box, {"--tcp", "0"});
  Deploy("site1", Cfg("site1", sim.PortText()));
  const std::string rcd = box.DeploymentFolder("site1") + "/extract.rcd";
  ASSERT_EQ(::mkfifo(rcd.c_str(), 0600), 0);  // a plain open would wait for a writer
  RunOutcome r = Run("site1");
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_TRUE(r.Logged("(WARNING) : Record recovery file "));
  EXPECT_TRUE(
      r.Logged("extract.rcd cannot be read (not a regular file). Record recovery will be "
               "skipped."));
  // The record log's own report stays on standard output, shown by the run.
  EXPECT_EQ(r.out, "readRCD(): couldnt read " + rcd + " (not a regular file)\n");
  EXPECT_FALSE(r.Logged("getlog"));
  EXPECT_EQ(r.session, sim.SentBytes());
}
