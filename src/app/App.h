#pragma once
// App: the single application object. It owns everything a run fills in, in the
// order a run fills it, and is the log facility every other part writes through.
// One global instance, App::Instance(), lives for the whole process.

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

class Configuration;
class Controller;
class OptionParser;
namespace RecordRecoveryUtils {
class RecordLog;
}

class App {
 public:
  static App& Instance();

  App();
  ~App();

  // The program's main routine: start-up, then the download run. Returns the
  // exit status when it returns; QuitWithPause ends it by throwing ExitRequest.
  int32_t Run(const std::vector<std::string>& args);

  // Ends the process with exit status `code` after logging "Done." at DEBUG.
  // Throws ExitRequest, which only main() catches; never returns.
  [[noreturn]] void QuitWithPause(int32_t code);

  // Filters and formats one log line into logBuffer, then raises LogMessageAvailable.
  void LogNewMessage(const std::string& severity, const std::string& text);
  void HandleLogMessageAvailable(App& sender);

  void ParseOptions(const std::vector<std::string>& args);
  void LoadAppPreferences();

  // Session capture: move what the controller gathered into the session file.
  void HandleRawDataAvailable(Controller& sender);
  void HandleGotPrompt(Controller& sender);

  // Called on every way out: hands over whatever the controller still holds,
  // flushes the session file to disk and closes it. Returns false (after a FATAL
  // line) when the data could not be stored.
  bool FinishSession();

  // The application's turn at pending events: acts on a stop signal.
  void ProcessPendingEvents();

  // Fields, in the order a run fills them.
  std::string mLogLevel = "WARNING";
  std::string logBuffer;
  std::unique_ptr<Controller> mController;
  std::unique_ptr<OptionParser> Options;
  std::unique_ptr<Configuration> mConfig;
  std::optional<FolderItem> fout;
  std::unique_ptr<SessionFile> outstream;
  std::unique_ptr<RecordRecoveryUtils::RecordLog> mExtractRecordLog;

  // Raised each time a line has been added to logBuffer.
  std::function<void(App&)> LogMessageAvailable;

 private:
  void StartUp(const std::vector<std::string>& args);
  void KeepUnreadablePreferences(const FolderItem& file);
  int32_t DownloadRun();
  [[noreturn]] void Fatal(const std::string& text);
  void AppendToSession(const std::string& raw);
  void CreateSessionFile(const FolderItem& downloads, const std::string& deployment,
                         const std::string& delimiter);
  void ConfigureController();
  void RecoverMissingRecords(const std::string& deployment, const std::string& delimiter);

  // The clock every part of the run reads; installed for the App's lifetime.
  RealClock mClock;
  // The status line shown while long replies arrive (terminals only).
  ProgressLine mProgress;
};
