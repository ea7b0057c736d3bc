#pragma once
// Where the deployments are: the project folder, the cfg file name and the path
// delimiter, read from the preferences file. The download run and every other
// program read them through here, with the same defaults for missing keys, so
// they never disagree on where a deployment lies.

#include <string>
#include <vector>

#include "base/BaseError.h"
#include "config/PreferencesModule.h"

namespace ProjectLocation {

// The preferences cannot be used; Message says why.
PELOX5_DECLARE_ERROR(LocationError, BaseError);

// The application name under which the preferences are kept:
// <application data>/Pelox5Apps/Pelox5Apps.pref.
inline constexpr const char* kAppName = "Pelox5Apps";

// What the preferences file gave when it was read.
enum class PreferencesState {
  kMissing,   // no file yet: every key has its default
  kRead,      // read; keys it lacks have their defaults
  kUnparsed,  // not a JSON object: every key has its default
};

struct Location {
  std::string preferencesFile;  // the file consulted (it may not exist)
  PreferencesState preferences = PreferencesState::kMissing;
  // ProjectRootPath, the delimiter unless it ends with one, ProjectRootFolder:
  // the deployments path as the run's log shows it.
  std::string projectFolder;
  std::string cfgName;  // DeploymentCfgName
  // Set when DeploymentCfgName is not a text or number: the run stops on it
  // only when it comes to read the cfg, after finding the folder.
  bool cfgNameUnusable = false;
  std::string delimiter;  // PathDelimiter
  // With kUnparsed: why the file is not a JSON object (line and column of a
  // syntax error).
  std::string preferencesError;
};

// Gives every key the run reads that `prefs` lacks its first run's default (all
// of them when !loaded); returns the keys set. The file changes only at Save.
std::vector<std::string> FillDefaults(PreferencesModule::Prefs& prefs, bool loaded);

// The location that `prefs` names; FillDefaults first. The preferences'
// exceptions (a value that is not a text or number) pass through, but for
// DeploymentCfgName, which sets cfgNameUnusable.
Location FromPreferences(const PreferencesModule::Prefs& prefs);

// Reads the preferences file as the run does, without creating or writing
// anything. Raises LocationError, with the run's message, when the file exists
// but cannot be read or holds a path item that is not a text or number.
Location Find();

}  // namespace ProjectLocation
