// The download run: every stage from the deployment's folder to "quit", each with
// its log lines, its fatal stops and its exit status.

#include <cerrno>
#include <ctime>

#include "app/App.h"
#include "app/ExitRequest.h"
#include "app/GeneralException.h"
#include "app/SessionName.h"
#include "app/StopSignals.h"
#include "config/Configuration.h"
#include "config/FolderUtils.h"
#include "config/PreferencesModule.h"
#include "config/ProjectFolders.h"
#include "controller/Controller.h"
#include "options/OptionParser.h"
#include "ports/PortSourceExceptions.h"
#include "ports/PortSourceUtils.h"
#include "recovery/RecordLog.h"

namespace {

std::string Pref(const std::string& key) { return PreferencesModule::Preferences->GetText(key); }

}  // namespace

int32_t App::Run(const std::vector<std::string>& args) {
  StartUp(args);
  StopSignals::Install();
  PortSourceUtils::SetPendingEventsHandler([this] { ProcessPendingEvents(); });
  return DownloadRun();
}

int32_t App::DownloadRun() {
  const std::string name = Options->StringValue("deployment", "");
  const std::string D = Pref("PathDelimiter");

  // Stages 1 to 4: the deployments path, the project folder, the deployment folder.
  std::string deploymentsPath = Pref("ProjectRootPath");
  if (!PortSourceUtils::endsWith(deploymentsPath, D)) deploymentsPath += D;
  deploymentsPath += Pref("ProjectRootFolder");
  LogNewMessage("WARNING", "Deployments path:" + deploymentsPath);
  std::optional<FolderItem> top;
  try {
    top = getTopLevelProjectFolder(deploymentsPath, true, false);
  } catch (const FolderUtils::FolderUtilsException& e) {
    Fatal(e.Message);
  }
  LogNewMessage("INFO", "Deployment target from cmd line:" + deploymentsPath + D + name);
  std::optional<FolderItem> deploymentFolder;
  try {
    deploymentFolder = getDeploymentFolderByName(*top, name);
  } catch (const FolderUtils::FolderNotFoundException& e) {
    Fatal(e.Message);
  }

  // Stages 5 to 7: the deployment's configuration and its checks.
  const std::string cfgName = Pref("DeploymentCfgName");
  const std::string cfgPath = deploymentsPath + D + name + D + "cfg" + D + cfgName;
  LogNewMessage("INFO", "Getting deployment config file:" + cfgPath);
  try {
    if (auto cfg = getDeploymentConfig(deploymentFolder, cfgName))
      mConfig = std::make_unique<Configuration>(std::move(*cfg));
  } catch (const ConfigurationBadFormatException&) {
    mConfig.reset();
  }
  if (!mConfig) Fatal("Unable to find or unable to parse the deployment cfg file:" + cfgPath);
  try {
    std::string found = mConfig->GetText("Name");
    if (found != name)
      Fatal("Name key mismatch in deployment.cfg expected:" + name + " found:" + found + "\n");
  } catch (const ConfigurationItemNotFoundException&) {
    Fatal("Name key is missing in deployment.cfg expected:" + name + "\n");
  } catch (const ConfigurationException& e) {
    Fatal(e.Message);
  }
  try {
    if (mConfig->GetText("Status") != "Active")
      Fatal(
          "Status entry in deployment.cfg is not 'Active' for this deployment which we interpret "
          "as it being locked");
  } catch (const ConfigurationItemNotFoundException&) {
    Fatal("Status key is missing in deployment.cfg");
  } catch (const ConfigurationException& e) {
    Fatal(e.Message);
  }

  // Stages 8 and 9: the downloads folder and the raw session file.
  FolderItem downloads = deploymentFolder->Child("downloads");
  if (!downloads.Exists()) downloads.CreateAsFolder();
  try {
    FolderUtils::checkfolder(downloads, true);
  } catch (const FolderUtils::FolderUtilsException& e) {
    Fatal(e.Message + " Download target is missing the 'downloads' folder or it is not writeable.");
  }
  CreateSessionFile(downloads, name, D);

  // Stages 10 to 14: the controller, configured from deployment.cfg.
  ConfigureController();

  // Stages 15 and 16: the port and the first prompt.
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
    mController->GetPrompt(mController->mConnectAttemptMaxTries,
                           mController->mConnectAttemptTimeout);
  } catch (const PortSourceUtils::PortSourceException&) {
    LogNewMessage("DEBUG", "Connect(): Caught PortSourceError - failed to connect");
    return 1;
  }

  // Stages 17 and 18: the log state and the recent records.
  LogNewMessage("INFO", "Call GetLogs()");
  try {
    mController->GetLogs(10);
  } catch (const GeneralException& e) {
    LogNewMessage("WARNING", "GetLogs() failed. " + e.Message);
  }
  LogNewMessage("INFO", "Call GetRecentData()");
  try {
    mProgress.Begin("getdata");
    mController->GetRecentData(mController->mRecordRequestSize, 25);
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

  // Stage 19: records missing from the record recovery file.
  RecoverMissingRecords(name, D);

  // Stage 20: the end. A success means the data is on disk.
  mController->SendQuit();
  ProcessPendingEvents();
  if (!FinishSession()) QuitWithPause(1);
  QuitWithPause(0);
}

void App::CreateSessionFile(const FolderItem& downloads, const std::string& deployment,
                            const std::string& D) {
  // Two runs in the same second would form the same name: the later one waits
  // for the next second, so the name keeps its format and no session is lost.
  for (int attempt = 0;; ++attempt) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::string fileName = SessionName::Format(deployment, local);
    LogNewMessage("INFO", "Download SessionFile:" + Pref("ProjectRootPath") + D +
                              Pref("ProjectRootFolder") + D + deployment + D + "downloads" + D +
                              fileName);
    fout = downloads.Child(fileName);
    auto stream = std::make_unique<SessionFile>();
    int err = SessionFile::Create(fout->NativePath(), *stream);
    if (err == 0) {
      outstream = std::move(stream);
      return;
    }
    if (err != EEXIST || attempt >= 5)
      Fatal(std::string(std::strerror(err)) +
            " (Failed to create binary stream to hold download session)");
    while (std::time(nullptr) == now) PortSourceUtils::Sleep(50);
  }
}

void App::ConfigureController() {
  mController = std::make_unique<Controller>();
  try {
    mController->mPortName = mConfig->GetText("Port");
  } catch (const ConfigurationItemNotFoundException&) {
    Fatal("Port missing in deployment.cfg");
  } catch (const ConfigurationException& e) {
    Fatal(e.Message);
  }
  LogNewMessage("INFO", "Port requested:" + mController->mPortName);
  try {
    if (PortSourceUtils::isSerialPortRequested(mController->mPortName)) {
      std::string baud;
      try {
        baud = mConfig->GetText("Baud");
      } catch (const ConfigurationItemNotFoundException&) {
        LogNewMessage("WARNING", "Baud rate missing in deployment.cfg, Assuming 9600");
        baud = "9600";
      }
      int32_t code = PortSourceUtils::BaudStringToConstant(baud);
      if (code < 0) Fatal("Invalid baudrate in deployment.cfg");
      mController->mSerialBaud = code;
    }
    auto setting = [this](const char* key, int32_t fallback) {
      try {
        return mConfig->GetInt32(key);
      } catch (const ConfigurationItemNotFoundException&) {
        return fallback;
      }
    };
    mController->mConnectAttemptMaxTries = setting("ConnectAttemptMaxTries", 10);
    mController->mConnectAttemptTimeout = setting("ConnectAttemptTimeout", 5);
    mController->mRecordRequestSize = setting("RecordRequestSize", 30);
    try {
      mController->mPrompt = mConfig->GetText("Prompt");
    } catch (const ConfigurationItemNotFoundException&) {
      mController->mPrompt = "PELOX>";
    }
  } catch (const ConfigurationException& e) {
    Fatal(e.Message);
  }
  mController->LogSink = [this](const std::string& severity, const std::string& text) {
    LogNewMessage(severity, text);
  };
  mController->RawDataAvailable = [this](Controller& sender) { HandleRawDataAvailable(sender); };
  mController->GotPrompt = [this](Controller& sender) { HandleGotPrompt(sender); };
}

void App::RecoverMissingRecords(const std::string& deployment, const std::string& D) {
  std::string fileName;
  try {
    fileName = mConfig->GetText("ExtractReceivedRecordFile");
  } catch (const ConfigurationItemNotFoundException&) {
    LogNewMessage("WARNING",
                  " Config file is missing the ExtractReceivedRecordFile item. Record recovery "
                  "will be skipped.");
    return;
  } catch (const ConfigurationException& e) {
    Fatal(e.Message);
  }
  std::string path =
      Pref("ProjectRootPath") + D + Pref("ProjectRootFolder") + D + deployment + D + fileName;
  LogNewMessage("INFO", "Accessing the record recovery file:" + path);
  mExtractRecordLog = std::make_unique<RecordRecoveryUtils::RecordLog>(path);
  mExtractRecordLog->readRCD();
  if (mExtractRecordLog->receivedRanges.empty()) {
    LogNewMessage("WARNING",
                  "record recovery log has not been initialized.  Record recovery will be "
                  "skipped.");
    return;
  }
  mProgress.Begin("getlog");
  mController->GetMissingRecords(mExtractRecordLog.get(), mController->mRecordRequestSize, 25);
  mProgress.End();
}
