#include "config/ProjectLocation.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "base/SpecialFolders.h"
#include "base/WholeFile.h"
#include "config/JsonDocument.h"

namespace ProjectLocation {

namespace {

// The application name under which the download tool keeps its preferences.
constexpr const char* kAppName = "Pelox5Apps";

std::string Item(const nlohmann::json& prefs, const std::string& file, const std::string& name) {
  auto value = prefs.find(name);
  if (value == prefs.end())
    throw LocationError("Preference value '" + name + "' does not exist. (in " + file + ")");
  std::optional<std::string> text = JsonDocument::ToText(*value);
  if (!text)
    throw LocationError("Preference value '" + name + "' is not a text or a number. (in " + file +
                        ")");
  return *text;
}

}  // namespace

Location Find() {
  FolderItem file =
      SpecialFolders::ApplicationData().Child(kAppName).Child(std::string(kAppName) + ".pref");
  Location location;
  location.preferencesFile = file.NativePath();

  std::optional<nlohmann::json> prefs;
  std::string text, error;
  if (WholeFile::Read(file.NativePath(), WholeFile::kSettingsLimit, text).Read())
    prefs = JsonDocument::ParseObject(text, error);

  std::string root, folder, delimiter;
  location.cfgName = "deployment.cfg";
  if (prefs) {
    root = Item(*prefs, file.NativePath(), "ProjectRootPath");
    folder = Item(*prefs, file.NativePath(), "ProjectRootFolder");
    delimiter = Item(*prefs, file.NativePath(), "PathDelimiter");
    if (prefs->contains("DeploymentCfgName"))
      location.cfgName = Item(*prefs, file.NativePath(), "DeploymentCfgName");
  } else {
    // The defaults that the tool writes when it finds no usable file.
    FolderItem documents = SpecialFolders::Documents();
    root = documents.Exists() ? documents.NativePath() : "";
    folder = "Pelox5";
    delimiter.assign(1, '/');
  }
  if (delimiter.empty() || root.size() < delimiter.size() ||
      root.compare(root.size() - delimiter.size(), delimiter.size(), delimiter) != 0)
    root += delimiter;
  location.projectFolder = root + folder;
  location.delimiter = delimiter;
  return location;
}

}  // namespace ProjectLocation
