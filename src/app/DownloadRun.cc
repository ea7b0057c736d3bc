// The download run, step by step: find the deployment, load and check its
// configuration, open the session file, connect, download, recover missing
// records, end. Each step logs its own lines and makes its own fatal stops.

#include <cerrno>
#include <cstring>

#include "app/App.h"
#include "app/ExitRequest.h"
#include "app/GeneralException.h"
#include "app/SessionName.h"
#include "app/StopSignals.h"
#include "base/AtomicFile.h"
#include "base/Clock.h"
#include "config/Configuration.h"
#include "config/DeploymentAccess.h"
#include "config/DeploymentSettings.h"
#include "config/FolderUtils.h"
#include "config/PreferencesModule.h"
#include "controller/Controller.h"
#include "options/OptionParser.h"
#include "ports/PortSourceExceptions.h"
#include "ports/PortSourceUtils.h"
#include "recovery/RecordLog.h"

namespace {

// Session names tried before the run gives up, one a second.
constexpr int kSessionNameAttempts = 6;
// The longest wait for the wall clock's next second, and its steps.
constexpr int32_t kNextSecondWaitMs = 1500;
constexpr int32_t kNextSecondStepMs = 50;

// Waits until the wall clock shows another second than `now`; false when it
// did not within kNextSecondWaitMs. The bound is kept on the monotonic clock and
// in steps, so a wall clock stepped back or standing still cannot hold the run;
// a stop signal ends the run at once (the application's turn at pending events).
bool WaitForNextSecond(App& app, Clock& clock, int64_t now) {
  const int64_t deadline = clock.MonotonicMs() + kNextSecondWaitMs;
  for (int32_t waited = 0; waited < kNextSecondWaitMs; waited += kNextSecondStepMs) {
    app.ProcessPendingEvents();
    if (clock.WallSeconds() != now) return true;
    if (clock.MonotonicMs() >= deadline) break;
    clock.SleepMs(kNextSecondStepMs);
  }
  app.ProcessPendingEvents();
  return clock.WallSeconds() != now;
}

}  // namespace

int32_t App::Run(const std::vector<std::string>& args) {
  mStartWall = mClock.WallSeconds();
  mStartMonoMs = mClock.MonotonicMs();
  StartUp(args);
  StopSignals::Install();
  return DownloadRun();
}

int32_t App::DownloadRun() {
  const std::string name = Options->StringValue("deployment", "");
  FindDeployment(name);
  LoadConfiguration(name);
  OpenSession(name);
  ConfigureController();
  if (!Connect()) return 1;
  Download();
  RecoverMissingRecords();
  End();
}

template <typename Read>
auto App::Cfg(Read read) -> decltype(read()) {
  try {
    return read();
  } catch (const DeploymentSettings::SettingError& e) {
    Fatal(e.Message);
  }
}

std::optional<std::string> App::CfgText(const std::string& key) {
  return Cfg([&] { return DeploymentSettings::Text(*mConfig, key); });
}

DeploymentAccess::Options App::AccessOptions() {
  DeploymentAccess::Options options;
  options.createProjectFolder = true;
  options.log = [this](const std::string& severity, const std::string& text) {
    LogNewMessage(severity, text);
  };
  return options;
}

void App::FindDeployment(const std::string& name) {
  mLocation = ProjectLocation::FromPreferences(*PreferencesModule::Preferences);
  try {
    mPaths.emplace(DeploymentAccess::Locate(*mLocation, name, AccessOptions()));
  } catch (const DeploymentAccess::AccessError& e) {
    Fatal(e.Message);
  }
}

void App::LoadConfiguration(const std::string& name) {
  try {
    DeploymentAccess::Deployment d =
        DeploymentAccess::Load(*mLocation, *mPaths, name, AccessOptions());
    mConfig = std::make_unique<Configuration>(std::move(d.cfg));
  } catch (const DeploymentAccess::CfgError& e) {
    // Too large, not a regular file, or refused by the OS: say which first.
    if (e.cause == DeploymentAccess::CfgError::Cause::kUnreadable) LogNewMessage("FATAL", e.detail);
    Fatal(e.Message);
  } catch (const DeploymentAccess::AccessError& e) {
    Fatal(e.Message);
  }
}

void App::OpenSession(const std::string& name) {
  FolderItem downloads = mPaths->Downloads();
  const bool madeDownloads = !downloads.Exists();
  if (madeDownloads) downloads.CreateAsFolder();
  try {
    FolderUtils::checkfolder(downloads, true);
  } catch (const FolderUtils::FolderUtilsException& e) {
    Fatal(e.Message + " Download target is missing the 'downloads' folder or it is not writeable.");
  }
  // Two runs in the same second would form the same name: the later one waits
  // for the next second, so the name keeps its format and no session is lost.
  for (int attempt = 1;; ++attempt) {
    const int64_t now = mClock.WallSeconds();
    std::string fileName = SessionName::Format(name, Clock::LocalTimeOf(now));
    LogNewMessage("INFO", "Download SessionFile:" + mPaths->SessionShown(fileName));
    fout = downloads.Child(fileName);
    auto stream = std::make_unique<SessionFile>();
    int err = SessionFile::Create(fout->NativePath(), *stream);
    if (err == 0) {
      outstream = std::move(stream);
      mSessionName = fileName;
      // The new names must survive a power cut as well as the bytes.
      SyncFolder(downloads);
      if (madeDownloads) SyncFolder(mPaths->folder);
      return;
    }
    if (err != EEXIST)
      Fatal(std::string(std::strerror(err)) +
            " (Failed to create binary stream to hold download session)");
    if (attempt == kSessionNameAttempts)
      Fatal("Session file " + fout->NativePath() +
            " already exists: the session name stayed taken because other runs of this "
            "deployment started in the same seconds (" +
            std::to_string(kSessionNameAttempts) + " names tried)");
    if (!WaitForNextSecond(*this, mClock, now))
      Fatal("Session file " + fout->NativePath() +
            " already exists and the clock did not move on to another second within " +
            std::to_string(kNextSecondWaitMs) + " ms (the clock stands still)");
  }
}

void App::SyncFolder(const FolderItem& folder) {
  const int err = AtomicFile::SyncFolder(folder.NativePath());
  if (err != 0)
    LogNewMessage("WARNING", "Unable to sync the folder " + folder.NativePath() +
                                 " to disk: " + std::strerror(err));
}

void App::ConfigureController() {
  mController = std::make_unique<Controller>(mClock);
  if (mPortFactory) mController->PortFactory = mPortFactory;
  mController->PendingEvents = [this] { ProcessPendingEvents(); };
  ControllerSettings settings;
  try {
    DeploymentSettings::ReadControllerSettings(
        *mConfig, settings, [this](const std::string& severity, const std::string& text) {
          LogNewMessage(severity, text);
        });
  } catch (const DeploymentSettings::SettingError& e) {
    // The journal names the port even when a later item stops the run.
    mController->SetSettings(settings);
    Fatal(e.Message);
  }
  mController->SetSettings(settings);
  mRunTimeLimit =
      Cfg([&] { return DeploymentSettings::Number(*mConfig, DeploymentSettings::kRunTimeLimit); });
  mController->LogSink = [this](const std::string& severity, const std::string& text) {
    LogNewMessage(severity, text);
  };
  mController->ConsoleSink = [this](const std::string& text) { ShowOnStdout(text); };
  mController->RawDataAvailable = [this](Controller& sender) { HandleRawDataAvailable(sender); };
  mController->GotPrompt = [this](Controller& sender) { HandleGotPrompt(sender); };
}

bool App::Connect() {
  LogNewMessage("INFO", "Connect():Attempt to acquire the port.");
  try {
    mController->GetPort();
  } catch (const PortSourceUtils::TimeoutException&) {
    LogNewMessage("FATAL", "Connect(): PortSourceTimeoutError");
    Fatal("Connect(): quitting");
  } catch (const PortSourceUtils::InvalidPortException& e) {
    LogNewMessage("FATAL", "Connect(): PortSourceInvalidPortError:" + e.Message);
    Fatal("Connect(): quitting");
  }
  if (!mController->mPort)
    Fatal("Connect(): Non-specific PortSourceError, Port is nil Connect(): is quitting");
  LogNewMessage("INFO", "Connect(): Acquired PortSource.");
  LogNewMessage("DEBUG", "Connect(): Attempt get initial Pelox controller prompt.");
  try {
    mController->GetPrompt(mController->Settings().connectAttemptMaxTries,
                           mController->Settings().connectAttemptTimeout);
  } catch (const PortSourceUtils::PortSourceException&) {
    // The one way out without a FATAL line: the run returns its status.
    LogNewMessage("DEBUG", "Connect(): Caught PortSourceError - failed to connect");
    mNoPrompt = true;
    return false;
  }
  return true;
}

void App::Download() {
  LogNewMessage("INFO", "Call GetLogs()");
  try {
    mController->GetLogs(10);
  } catch (const GeneralException& e) {
    LogNewMessage("WARNING", "GetLogs() failed. " + e.Message);
  }
  LogNewMessage("INFO", "Call GetRecentData()");
  try {
    mProgress.Begin("getdata");
    mController->GetRecentData(mController->Settings().recordRequestSize, 25);
    mProgress.End();
  } catch (const PortSourceUtils::TimeoutException& e) {
    LogNewMessage("FATAL", "run() getdata(): PortSourceTimeoutError: " + e.Message);
    Fatal("run(): quitting");
  } catch (const PortSourceUtils::PortSourceException& e) {
    LogNewMessage("FATAL", "run() getdata(): PortSourceError:" + e.Message);
    Fatal("run(): quitting");
  } catch (const GeneralException& e) {
    LogNewMessage("WARNING", "GetRecentData failed. " + e.Message);
  }
}

void App::RecoverMissingRecords() {
  std::optional<std::string> fileName = CfgText("ExtractReceivedRecordFile");
  if (!fileName) {
    LogNewMessage("WARNING",
                  " Config file is missing the ExtractReceivedRecordFile item. Record recovery "
                  "will be skipped.");
    return;
  }
  std::string path = mPaths->RecordRecoveryFile(*fileName);
  LogNewMessage("INFO", "Accessing the record recovery file:" + path);
  mExtractRecordLog = std::make_unique<RecordRecoveryUtils::RecordLog>(path);
  if (!mExtractRecordLog->readRCD()) {
    ShowOnStdout(mExtractRecordLog->FailureText() + "\n");
    LogNewMessage("WARNING", "Record recovery file " + path + " cannot be read (" +
                                 mExtractRecordLog->ReadFailure() +
                                 "). Record recovery will be skipped.");
    return;
  }
  for (const std::string& text :
       RecordRecoveryUtils::SkippedTokenWarnings(mExtractRecordLog->Skipped(), path))
    LogNewMessage("WARNING", text);
  if (mExtractRecordLog->receivedRanges.empty()) {
    LogNewMessage("WARNING",
                  "record recovery log has not been initialized.  Record recovery will be "
                  "skipped.");
    return;
  }
  mProgress.Begin("getlog");
  try {
    mController->GetMissingRecords(mExtractRecordLog.get(),
                                   mController->Settings().recordRequestSize, 25);
  } catch (const PortSourceUtils::PortSourceException& e) {
    // A controller that has gone is not asked for the rest of the list.
    Fatal("run() getlog(): " + e.Message);
  }
  mProgress.End();
}

void App::End() {
  // A success means the data is on disk.
  mController->SendQuit();
  mQuitSent = true;
  ProcessPendingEvents();
  if (!FinishSession()) QuitWithPause(1);
  QuitWithPause(0);
}
