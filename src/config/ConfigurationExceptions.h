#pragma once
// The exception family of Configuration. Catching ConfigurationException
// catches every member.

#include <string>

#include "base/BaseError.h"

PELOX5_DECLARE_ERROR(ConfigurationException, BaseError);

// No folder given, or no file item could be made inside it at Save.
PELOX5_DECLARE_ERROR(ConfigurationFolderNotFoundException, ConfigurationException);
// No file item could be made inside the folder at Load.
PELOX5_DECLARE_ERROR(ConfigurationFileNotFoundException, ConfigurationException);
// The file exists but was not read: not a regular file, larger than the limit
// for settings files, or refused by the OS. The message names the reason.
PELOX5_DECLARE_ERROR(ConfigurationFileUnreadableException, ConfigurationException);
// The file's text is not a JSON object.
PELOX5_DECLARE_ERROR(ConfigurationBadFormatException, ConfigurationException);

// Get of a name that the document does not hold.
class ConfigurationItemNotFoundException : public ConfigurationException {
 public:
  explicit ConfigurationItemNotFoundException(const std::string& name)
      : ConfigurationException("Configuration value '" + name + "' does not exist.") {}
};

// An item whose value cannot be read as the text or number asked for.
class ConfigurationBadValueException : public ConfigurationException {
 public:
  explicit ConfigurationBadValueException(const std::string& name)
      : ConfigurationException("Configuration value '" + name + "' is not a text or a number.") {}
};
