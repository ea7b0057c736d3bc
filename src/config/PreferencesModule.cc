#include "config/PreferencesModule.h"

#include <utility>

#include "base/AtomicFile.h"
#include "base/SpecialFolders.h"
#include "base/WholeFile.h"
#include "config/FolderUtils.h"
#include "config/JsonDocument.h"

namespace PreferencesModule {

std::unique_ptr<Prefs> Preferences;

void Initialize(const std::string& appName) { Preferences = std::make_unique<Prefs>(appName); }

Prefs::Prefs(std::string appName) : mAppName(std::move(appName)) {}

bool Prefs::Load(bool createFolder) {
  mUnparsed = false;
  mParseError.clear();
  FolderItem appData = SpecialFolders::ApplicationData();
  std::optional<FolderItem> folder = JsonDocument::ChildFile(appData, mAppName);
  if (!folder) return false;
  if (createFolder && !folder->Exists()) {
    // A fresh home has no application data folder either. A failure shows later,
    // as a missing file here and a failed Save.
    try {
      FolderUtils::makedirs(folder->NativePath());
    } catch (const FolderUtils::FolderUtilsException&) {
    }
  }
  std::optional<FolderItem> file = JsonDocument::ChildFile(*folder, mAppName + ".pref");
  if (!file) return false;
  mPreferencesFile = file;

  std::string text;
  WholeFile::ReadOutcome read =
      WholeFile::Read(file->NativePath(), WholeFile::kSettingsLimit, text);
  if (read.result == WholeFile::ReadResult::kMissing) return false;
  if (!read.Read())
    throw PreferencesFileUnreadableException(
        "Preferences file " + file->NativePath() + " cannot be read (" + read.Reason() + ")",
        FolderItem::CodeFromErrno(read.err));
  std::optional<nlohmann::json> settings = JsonDocument::ParseObject(text, mParseError);
  if (!settings) {
    mUnparsed = true;
    return false;
  }
  mItems = std::move(*settings);
  return true;
}

bool Prefs::Save() {
  if (!mPreferencesFile) return false;
  std::optional<std::string> text = JsonDocument::Serialize(mItems);
  if (!text) return false;
  text->push_back('\n');
  return AtomicFile::Replace(mPreferencesFile->NativePath(), *text) == 0;
}

}  // namespace PreferencesModule
