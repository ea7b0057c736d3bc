#include "central/DatabaseSetting.h"

#include <algorithm>

#include "config/PreferencesModule.h"
#include "config/ProjectLocation.h"

namespace Central {

std::optional<std::string> RecordDatabase(const std::optional<std::string>& given) {
  if (given) return given->empty() ? std::nullopt : given;
  PreferencesModule::Prefs prefs(ProjectLocation::kAppName);
  try {
    if (!prefs.Load(false)) return std::nullopt;
  } catch (const PreferencesModule::PreferencesException&) {
    return std::nullopt;  // the project's location reports an unreadable file
  }
  const std::vector<std::string> names = prefs.Names();
  if (std::find(names.begin(), names.end(), kRecordDatabaseKey) == names.end()) return std::nullopt;
  const nlohmann::json value = prefs.Get(kRecordDatabaseKey);
  if (value.is_null()) return std::nullopt;
  if (!value.is_string())
    throw SettingError(std::string("Preference value '") + kRecordDatabaseKey +
                       "' is not a text: give a libpq connection string");
  const std::string text = value.get<std::string>();
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace Central
