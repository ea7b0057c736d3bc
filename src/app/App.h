#pragma once
// App: the single application object. It owns everything a run fills in, in the
// order a run fills it, and is the log facility every other part writes through.
// main() makes the one instance and hands it its seams (the clock, the port
// factory, the log output); nothing reaches it through a global.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ProgressLine.h"
#include "app/SessionFile.h"
#include "base/Clock.h"
#include "base/FolderItem.h"
#include "config/DeploymentAccess.h"
#include "config/DeploymentPaths.h"
#include "config/ProjectLocation.h"
#include "controller/Controller.h"

class OptionParser;
namespace RecordRecoveryUtils {
class RecordLog;
}

class App {
 public:
  // Everything the run is given from outside. The program hands in the real
  // ones; a test hands in a fake clock, a scripted port and a log sink and runs
  // a whole download in process.
  struct Seams {
    // Times every wait and names the session file; must outlive the App.
    Clock& clock;
    // Makes the controller's port; empty: the real serial and network ports.
    Controller::PortFactoryFunction portFactory;
    // Receives all the run writes to standard error (banners, log lines);
    // empty: standard error itself.
    std::function<void(const std::string&)> logOutput;
  };

  explicit App(Seams seams);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // The whole program: start-up, the download run and, on every way out, the
  // session file flushed and closed and the run journal written. Returns the
  // exit status; never throws.
  int32_t Main(const std::vector<std::string>& args);

  // The program's main routine: start-up, then the download run. Returns the
  // exit status when it returns; QuitWithPause ends it by throwing ExitRequest.
  int32_t Run(const std::vector<std::string>& args);

  // Ends the process with exit status `code` after logging "Done." at DEBUG.
  // Throws ExitRequest, which only Main() catches; never returns.
  [[noreturn]] void QuitWithPause(int32_t code);

  // Filters and formats one log line into logBuffer, then raises LogMessageAvailable.
  void LogNewMessage(const std::string& severity, const std::string& text);
  // Writes logBuffer out (to the log output of the seams) and empties it.
  void HandleLogMessageAvailable(App& sender);
  // From now on each line goes out as it is logged; the lines logged before
  // go out with the next one.
  void AttachLogOutput();
  // The few texts the run shows on standard output rather than in the log (the
  // usage text, the record log's and the receive loop's reports), flushed at
  // once, before the log line that usually follows. A write error is dropped.
  void ShowOnStdout(const std::string& text);

  void ParseOptions(const std::vector<std::string>& args);
  void LoadAppPreferences();

  // Session capture: move what the controller gathered into the session file.
  void HandleRawDataAvailable(Controller& sender);
  void HandleGotPrompt(Controller& sender);

  // Called on every way out: writes whatever the controller holds and, except
  // after "quit" (a complete session ends with the last prompt), what the port
  // still holds; then syncs the session file to disk and closes it. Returns
  // false (after a FATAL line) when the data could not be stored.
  bool FinishSession();

  // Appends the run's line to the run journal in the deployment folder, once,
  // when the run got that far; a journal that cannot be written is a WARNING.
  // Main() calls it on every way out, after FinishSession.
  void WriteRunJournal(int32_t status);

  // The application's turn at pending events: writes what the last chunk
  // brought to the session file, then acts on a stop signal or on the end of the
  // run's time (deployment.cfg "RunTimeLimit").
  void ProcessPendingEvents();

  // The current log threshold's name ("WARNING" until start-up chooses one).
  const std::string& LogLevel() const { return mLogLevel; }
  void SetLogLevel(const std::string& level) { mLogLevel = level; }
  // The deployment's files, once the run found its folder.
  const std::optional<DeploymentPaths>& Paths() const { return mPaths; }

 private:
  // Fields, in the order a run fills them.
  std::string mLogLevel = "WARNING";
  std::string logBuffer;
  std::unique_ptr<Controller> mController;
  std::unique_ptr<OptionParser> Options;
  std::unique_ptr<Configuration> mConfig;
  std::optional<FolderItem> fout;
  std::unique_ptr<SessionFile> outstream;
  std::unique_ptr<RecordRecoveryUtils::RecordLog> mExtractRecordLog;
  // Where the preferences put the project, and the matched deployment folder
  // with the paths built from it; set once found.
  std::optional<ProjectLocation::Location> mLocation;
  std::optional<DeploymentPaths> mPaths;

  // Raised each time a line has been added to logBuffer; empty until start-up
  // attaches log output.
  std::function<void(App&)> LogMessageAvailable;

  void StartUp(const std::vector<std::string>& args);
  // Writes `text` where the seams send standard error's text.
  void WriteError(const std::string& text);
  void KeepUnreadablePreferences(const FolderItem& file);
  [[noreturn]] void Fatal(const std::string& text);
  // Received bytes are gathered while the controller hands over the lines of one
  // chunk, and written with one write() at the application's next turn (every
  // port wait) or at the prompt: the file gets each chunk as it arrives, without
  // a system call per line. TakeRawData takes what the controller handed over
  // and queues the part not yet written.
  std::string TakeRawData();
  void WriteToSession();

  // The steps of the download run, in order. Each one either succeeds or makes a
  // fatal stop; Connect returns false when the controller never showed its prompt.
  int32_t DownloadRun();
  DeploymentAccess::Options AccessOptions();
  void FindDeployment(const std::string& name);
  void LoadConfiguration(const std::string& name);
  void OpenSession(const std::string& name);
  void SyncFolder(const FolderItem& folder);
  void ConfigureController();
  bool Connect();
  void Download();
  void RecoverMissingRecords();
  [[noreturn]] void End();

  // Reads deployment.cfg through DeploymentSettings: a setting the run cannot
  // use is a FATAL stop with the setting's own message.
  template <typename Read>
  auto Cfg(Read read) -> decltype(read());
  // A text item; nullopt when missing.
  std::optional<std::string> CfgText(const std::string& key);

  // Set once "quit" was sent: nothing more is read into the session file.
  bool mQuitSent = false;
  // The part of the current chunk not yet written to the session file.
  std::string mUnwritten;
  // How many bytes at the head of the controller's rawBuffer are written already.
  size_t mWrittenAhead = 0;
  // The run's time limit in seconds (from mStartMonoMs), 0 until deployment.cfg
  // is read.
  int32_t mRunTimeLimit = 0;
  // Set once a stop (signal or time limit) is under way.
  bool mStopping = false;

  // What the run journal reports: when the run began, how it ended, and what the
  // controller told.
  int64_t mStartWall = 0;  // seconds since 1970, from the run's clock
  int64_t mStartMonoMs = 0;
  std::optional<std::string> mFirstFatal;
  bool mStopSignalled = false;
  bool mNoPrompt = false;
  std::optional<std::string> mSessionName;
  uint64_t mSessionBytes = 0;
  std::optional<int64_t> mNextDownload;
  bool mJournalWritten = false;

  // The clock every part of the run reads, and the other seams.
  Clock& mClock;
  Controller::PortFactoryFunction mPortFactory;
  std::function<void(const std::string&)> mLogOutput;
  // The status line shown while long replies arrive (terminals only).
  ProgressLine mProgress;
};
