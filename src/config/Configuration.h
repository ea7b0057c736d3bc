#pragma once
// A JSON document bound to a file of a given name in a given folder; used for a
// deployment's "deployment.cfg". Load reads the whole file, Save writes the whole
// document back; Get and Set work on the document in memory only.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/FolderItem.h"
#include "config/ConfigurationExceptions.h"
#include "config/ItemAccess.h"

class Configuration {
 public:
  // An empty document for the file `fileName` in `folder`; nothing is read.
  Configuration(std::optional<FolderItem> folder, std::string fileName);

  // Reads and parses the file, replacing the document. False when the file does
  // not exist; the document is then unchanged. Raises
  // ConfigurationFolderNotFoundException without a folder,
  // ConfigurationFileNotFoundException when the file name cannot name an item in
  // it, ConfigurationFileUnreadableException when the file exists but is not a
  // regular file, is larger than WholeFile::kSettingsLimit or cannot be read, and
  // ConfigurationBadFormatException when the text is not a JSON object; the
  // document is unchanged by each of these.
  bool Load();

  // Writes the document in indented form, with no line ending after the last
  // line. The file is replaced as a whole: a failed Save returns false and leaves
  // the old file as it was. A document holding a text that is not valid UTF-8 is
  // not written (false). Raises ConfigurationFolderNotFoundException without a
  // folder or when the file name cannot name an item in it.
  bool Save();

  // The value of the item, or ConfigurationItemNotFoundException.
  nlohmann::json Get(const std::string& name) const;
  // Creates or replaces the item in memory; the file changes only at Save.
  void Set(const std::string& name, nlohmann::json value);

  // The item as text (numbers in decimal, booleans "true"/"false") or as Int32
  // (numbers truncated, texts by their leading integer, clamped). Raise
  // ConfigurationItemNotFoundException when it is missing and
  // ConfigurationBadValueException for null, objects and arrays.
  std::string GetText(const std::string& name) const;
  int32_t GetInt32(const std::string& name) const;

  nlohmann::json operator[](const std::string& name) const { return Get(name); }
  ItemAccess<Configuration> operator[](const std::string& name) { return {*this, name}; }

 private:
  nlohmann::json mConfiguration;
  std::optional<FolderItem> mCfgFileFolder;
  std::string mCfgFileName;
};
