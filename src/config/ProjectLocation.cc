#include "config/ProjectLocation.h"

#include "base/SpecialFolders.h"

namespace ProjectLocation {

namespace {

// The keys the run reads and what the first run writes for each.
struct Default {
  const char* key;
  std::string (*make)();
};

const Default kDefaults[] = {
    {"ProjectRootFolder", [] { return std::string("Pelox5"); }},
    {"PathDelimiter", [] { return std::string("/"); }},
    {"ProjectRootPath",
     [] {
       FolderItem documents = SpecialFolders::Documents();
       return documents.Exists() ? documents.NativePath() : std::string();
     }},
    {"LogLevel", [] { return std::string("INFO"); }},
    {"DeploymentCfgName", [] { return std::string("deployment.cfg"); }},
};

bool Holds(const PreferencesModule::Prefs& prefs, const char* key) {
  try {
    prefs.Get(key);
    return true;
  } catch (const PreferencesModule::PreferenceNotFoundException&) {
    return false;
  }
}

}  // namespace

std::vector<std::string> FillDefaults(PreferencesModule::Prefs& prefs, bool loaded) {
  std::vector<std::string> set;
  for (const Default& d : kDefaults) {
    if (loaded && Holds(prefs, d.key)) continue;
    prefs.Set(d.key, d.make());
    set.emplace_back(d.key);
  }
  return set;
}

Location FromPreferences(const PreferencesModule::Prefs& prefs) {
  Location location;
  if (const auto& file = prefs.PreferencesFile()) location.preferencesFile = file->NativePath();
  location.delimiter = prefs.GetText("PathDelimiter");
  std::string root = prefs.GetText("ProjectRootPath");
  const std::string& d = location.delimiter;
  if (root.size() < d.size() || root.compare(root.size() - d.size(), d.size(), d) != 0) root += d;
  location.projectFolder = root + prefs.GetText("ProjectRootFolder");
  try {
    location.cfgName = prefs.GetText("DeploymentCfgName");
  } catch (const PreferencesModule::PreferenceBadValueException&) {
    location.cfgNameUnusable = true;
  }
  return location;
}

Location Find() {
  PreferencesModule::Prefs prefs(kAppName);
  bool loaded = false;
  try {
    loaded = prefs.Load(false);
  } catch (const PreferencesModule::PreferencesFileUnreadableException& e) {
    throw LocationError(e.Message + "; the file is left as it is.");
  }
  FillDefaults(prefs, loaded);
  // Bound by Load, read or not.
  const std::string file = prefs.PreferencesFile() ? prefs.PreferencesFile()->NativePath() : "";
  Location location;
  try {
    location = FromPreferences(prefs);
    if (location.cfgNameUnusable)
      throw PreferencesModule::PreferenceBadValueException("DeploymentCfgName");
  } catch (const PreferencesModule::PreferencesException& e) {
    throw LocationError(e.Message + " (in " + file + ")");
  }
  location.preferences = loaded             ? PreferencesState::kRead
                         : prefs.Unparsed() ? PreferencesState::kUnparsed
                                            : PreferencesState::kMissing;
  if (location.preferences == PreferencesState::kUnparsed)
    location.preferencesError = prefs.ParseError();
  return location;
}

}  // namespace ProjectLocation
