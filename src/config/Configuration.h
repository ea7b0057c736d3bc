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
#include "config/JsonItems.h"

class Configuration : public JsonItems<Configuration, ConfigurationItemNotFoundException,
                                       ConfigurationBadValueException> {
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

  // Get, Set, GetText, GetInt32 and subscripts come from JsonItems, raising
  // ConfigurationItemNotFoundException and ConfigurationBadValueException.

 private:
  // The bound file; ConfigurationFolderNotFoundException without a folder and
  // NoSuchChild when the file name cannot name an item in it. `operation`
  // begins every message ("Configuration.Load():").
  template <class NoSuchChild>
  FolderItem BoundFile(const char* operation) const;

  std::optional<FolderItem> mCfgFileFolder;
  std::string mCfgFileName;
};
