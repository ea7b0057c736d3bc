#pragma once
// The application's own settings, kept as a JSON object in the file
// <application data>/<name>/<name>.pref, and the one shared instance of them.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/BaseError.h"
#include "base/FolderItem.h"
#include "config/JsonItems.h"

namespace PreferencesModule {

// The family of preference errors.
PELOX5_DECLARE_ERROR(PreferencesException, BaseError);

// Get of a name that the settings do not hold.
class PreferenceNotFoundException : public PreferencesException {
 public:
  explicit PreferenceNotFoundException(const std::string& name)
      : PreferencesException("Preference value '" + name + "' does not exist.") {}
};

// An item whose value cannot be read as the text or number asked for.
class PreferenceBadValueException : public PreferencesException {
 public:
  explicit PreferenceBadValueException(const std::string& name)
      : PreferencesException("Preference value '" + name + "' is not a text or a number.") {}
};

// The preferences file exists but was not read: not a regular file, larger than
// the limit for settings files, or refused by the OS. The message names the
// file and the reason.
PELOX5_DECLARE_ERROR(PreferencesFileUnreadableException, PreferencesException);

class Prefs : public JsonItems<Prefs, PreferenceNotFoundException, PreferenceBadValueException> {
 public:
  // Empty settings for the application `appName`; nothing is read.
  explicit Prefs(std::string appName);

  // Creates the preferences folder (and the application data folder above it)
  // when missing and `createFolder` is set, binds the file, and reads it. False,
  // with the settings unchanged, when the file is missing or its text is not a
  // JSON object (Unparsed() tells the two apart).
  // Raises PreferencesFileUnreadableException, settings unchanged, when the file
  // exists but is not a regular file, is larger than WholeFile::kSettingsLimit,
  // or cannot be read.
  bool Load(bool createFolder = true);

  // After a false Load: the file exists but its text is not a JSON object.
  bool Unparsed() const { return mUnparsed; }
  // With Unparsed(): why the text is not a JSON object (the parser's message,
  // with the line and column of a syntax error).
  const std::string& ParseError() const { return mParseError; }

  // Writes the settings in indented form followed by one "\n" to the file bound
  // by Load. The file is replaced as a whole: a failed Save returns false and
  // leaves the old file as it was. False before any Load, and for settings that
  // hold a text that is not valid UTF-8 (nothing is written then). Never raises.
  bool Save();

  // Get, Set, GetText, GetInt32 and subscripts come from JsonItems, raising
  // PreferenceNotFoundException and PreferenceBadValueException.

  // The file bound by Load; none before it.
  const std::optional<FolderItem>& PreferencesFile() const { return mPreferencesFile; }

 private:
  std::optional<FolderItem> mPreferencesFile;
  std::string mAppName;
  bool mUnparsed = false;
  std::string mParseError;
};

// The shared settings; empty until Initialize.
extern std::unique_ptr<Prefs> Preferences;

// Replaces the shared settings with a new, empty Prefs for `appName`; nothing is read.
void Initialize(const std::string& appName);

}  // namespace PreferencesModule
