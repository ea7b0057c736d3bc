#pragma once
// Where the central database is: the preference "RecordDatabase" (a libpq
// connection string), unless a program's command line names one.

#include <optional>
#include <string>

#include "base/BaseError.h"

namespace Central {

inline constexpr const char* kRecordDatabaseKey = "RecordDatabase";

// The preference is not a text.
PELOX5_DECLARE_ERROR(SettingError, BaseError);

// The connection string to use: `given` when set (an empty one turns the
// central database off), else the preference; none when both are absent or
// empty. Reads the preferences file as the run does, writing nothing.
std::optional<std::string> RecordDatabase(const std::optional<std::string>& given);

}  // namespace Central
