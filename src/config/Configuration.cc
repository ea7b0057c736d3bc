#include "config/Configuration.h"

#include <utility>

#include "base/AtomicFile.h"
#include "base/WholeFile.h"
#include "config/JsonDocument.h"

Configuration::Configuration(std::optional<FolderItem> folder, std::string fileName)
    : mCfgFileFolder(std::move(folder)), mCfgFileName(std::move(fileName)) {}

bool Configuration::Load() {
  if (!mCfgFileFolder)
    throw ConfigurationFolderNotFoundException(
        "Configuration.Load(): top level folder is not initialized (is nil)");
  std::optional<FolderItem> file = JsonDocument::ChildFile(*mCfgFileFolder, mCfgFileName);
  if (!file)
    throw ConfigurationFileNotFoundException("Configuration.Load():" + mCfgFileName +
                                             " returned nil in:" + mCfgFileFolder->NativePath());

  std::string text;
  WholeFile::ReadOutcome read =
      WholeFile::Read(file->NativePath(), WholeFile::kSettingsLimit, text);
  if (read.result == WholeFile::ReadResult::kMissing) return false;
  if (!read.Read())
    throw ConfigurationFileUnreadableException(
        "Configuration.Load():" + mCfgFileName +
            " cannot be read in:" + mCfgFileFolder->NativePath() + " (" + read.Reason() + ")",
        FolderItem::CodeFromErrno(read.err));

  std::string error;
  std::optional<nlohmann::json> document = JsonDocument::ParseObject(text, error);
  if (!document)
    throw ConfigurationBadFormatException("Configuration.Load():" + mCfgFileName + " JSON Error:" +
                                          mCfgFileFolder->NativePath() + "\n" + error);
  mItems = std::move(*document);
  return true;
}

bool Configuration::Save() {
  if (!mCfgFileFolder)
    throw ConfigurationFolderNotFoundException(
        "Configuration.Save(): top level folder is not initialized (is nil)");
  std::optional<FolderItem> file = JsonDocument::ChildFile(*mCfgFileFolder, mCfgFileName);
  if (!file)
    throw ConfigurationFolderNotFoundException("Configuration.Save():" + mCfgFileName +
                                               " returned nil in:" + mCfgFileFolder->NativePath());
  std::optional<std::string> text = JsonDocument::Serialize(mItems);
  if (!text) return false;
  return AtomicFile::Replace(file->NativePath(), *text) == 0;
}
