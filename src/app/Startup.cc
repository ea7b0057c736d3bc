// Start-up: banners, the command line, help and version, the preferences and the
// log level, up to the point where log output is attached.

#include <unistd.h>

#include "app/App.h"
#include "app/LogLevel.h"
#include "app/Version.h"
#include "base/AtomicFile.h"
#include "base/WholeFile.h"
#include "base/WriteAll.h"
#include "config/PreferencesModule.h"
#include "config/ProjectLocation.h"
#include "options/OptionParser.h"

namespace {

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    line += arg;
  }
  return line;
}

}  // namespace

void App::StartUp(const std::vector<std::string>& args) {
  const std::string version = Version::LongVersion;
  WriteError("System.CommandLine:" + JoinCommandLine(args) + "\n");
  WriteError("Pelox5Download vsn:" + version + "\n");
  ParseOptions(args);
  if (Options->HelpRequested()) {
    Options->ShowHelp("Help");
    QuitWithPause(0);
  }
  if (Options->BooleanValue("version", false)) {
    WriteError("Pelox5Download vsn:" + version + "\n");
    QuitWithPause(0);
  }
  PreferencesModule::Initialize(ProjectLocation::kAppName);
  LoadAppPreferences();
  mLogLevel = Options->StringValue("loglevel", "");
  if (mLogLevel.empty()) mLogLevel = PreferencesModule::Preferences->GetText("LogLevel");
  AttachLogOutput();
  mProgress = ProgressLine(mClock, !mLogOutput && ProgressLine::StderrIsTerminal() &&
                                       LogLevel::Rank(mLogLevel).rank >= 3);
}

void App::ParseOptions(const std::vector<std::string>& args) {
  Options = std::make_unique<OptionParser>("PeloxCollector", "for downloading pelox5 data");
  try {
    Options->AddOption(std::make_unique<Option>("v", "version", "Report version and exit",
                                                Option::OptionType::BooleanType));
    auto deployment = std::make_unique<Option>("d", "deployment", "Deployment name for download",
                                               Option::OptionType::StringType);
    deployment->IsRequired = true;
    Options->AddOption(std::move(deployment));
    Options->AddOption(std::make_unique<Option>(
        "l", "loglevel", "Log level severity: FATAL | WARNING | INFO | DEBUG",
        Option::OptionType::StringType));
    Options->OptionValue("l")->AddAllowedValue({"FATAL", "WARNING", "INFO", "DEBUG"});
    Options->Parse(args, true);
  } catch (const std::exception&) {
    ShowOnStdout("Invalid usage\n\n");
    Options->ShowHelp("Help");
    QuitWithPause(1);
  }
}

namespace {

// Copies the preferences file to "<file>.damaged"; false when that fails.
bool CopyAside(const FolderItem& file, const std::string& copy) {
  std::string text;
  return WholeFile::Read(file.NativePath(), WholeFile::kSettingsLimit, text).Read() &&
         AtomicFile::Replace(copy, text) == 0;
}

}  // namespace

void App::KeepUnreadablePreferences(const FolderItem& file) {
  const std::string copy = file.NativePath() + ".damaged";
  if (CopyAside(file, copy))
    LogNewMessage("WARNING", "Preferences file " + file.NativePath() +
                                 " could not be read; defaults are used and its text is kept in " +
                                 copy);
  else
    LogNewMessage("WARNING", "Preferences file " + file.NativePath() +
                                 " could not be read; defaults are used.");
}

void App::LoadAppPreferences() {
  auto& prefs = *PreferencesModule::Preferences;
  bool loaded = false;
  try {
    loaded = prefs.Load();
  } catch (const PreferencesModule::PreferencesFileUnreadableException& e) {
    // Defaults written over it would lose the operator's settings for good.
    Fatal(e.Message + "; the file is left as it is.");
  }
  if (!loaded) {
    // A file whose text is not valid settings is about to be replaced by
    // defaults: keep the operator's text beside it and say so.
    const auto& file = prefs.PreferencesFile();
    if (file && file->Exists()) KeepUnreadablePreferences(*file);
  }
  // Each key the run reads that the file lacks gets the first run's default,
  // and the file is saved with it, so a file without some keys (even "{}")
  // works like a fresh one for those keys.
  ProjectLocation::FillDefaults(prefs, loaded);
  if (!prefs.Save()) LogNewMessage("WARNING", "Preferences save failed.");
}
