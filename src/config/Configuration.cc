#include "config/Configuration.h"

#include <utility>

#include "base/AtomicFile.h"
#include "base/WholeFile.h"
#include "config/JsonDocument.h"

Configuration::Configuration(std::optional<FolderItem> folder, std::string fileName)
    : mCfgFileFolder(std::move(folder)), mCfgFileName(std::move(fileName)) {}

template <class NoSuchChild>
FolderItem Configuration::BoundFile(const char* operation) const {
  if (!mCfgFileFolder)
    throw ConfigurationFolderNotFoundException(std::string(operation) +
                                               " top level folder is not initialized (is nil)");
  std::optional<FolderItem> file = JsonDocument::ChildFile(*mCfgFileFolder, mCfgFileName);
  if (!file)
    throw NoSuchChild(operation + mCfgFileName +
                      " returned nil in:" + mCfgFileFolder->NativePath());
  return *file;
}

bool Configuration::Load() {
  const std::optional<FolderItem> file =
      BoundFile<ConfigurationFileNotFoundException>("Configuration.Load():");

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
  const std::optional<FolderItem> file =
      BoundFile<ConfigurationFolderNotFoundException>("Configuration.Save():");
  std::optional<std::string> text = JsonDocument::Serialize(mItems);
  if (!text) return false;
  return AtomicFile::Replace(file->NativePath(), *text) == 0;
}
