#include "config/DeploymentSettings.h"

#include <string_view>

#include "ports/PortSourceUtils.h"

namespace DeploymentSettings {

std::optional<std::string> Text(const Configuration& cfg, const std::string& key,
                                const std::string& missingMessage) {
  try {
    return cfg.GetText(key);
  } catch (const ConfigurationItemNotFoundException&) {
    if (missingMessage.empty()) return std::nullopt;
    throw SettingError(missingMessage);
  } catch (const ConfigurationException& e) {
    throw SettingError(e.Message);
  }
}

int32_t Number(const Configuration& cfg, const NumericSetting& s) {
  std::optional<int32_t> value;
  try {
    value = cfg.GetInt32(s.key);
  } catch (const ConfigurationItemNotFoundException&) {
    return s.fallback;
  } catch (const ConfigurationException& e) {
    throw SettingError(e.Message);
  }
  if (*value < s.min || *value > s.max)
    throw SettingError(
        std::string("Invalid ") + s.key + " in deployment.cfg: " + cfg.Get(s.key).dump() +
        " (allowed: " + std::to_string(s.min) + " to " + std::to_string(s.max) + ")");
  return *value;
}

std::optional<std::vector<Records::FieldItem>> RecordFieldItems(const Configuration& cfg) {
  nlohmann::json item;
  try {
    item = cfg.Get(kRecordFieldsKey);
  } catch (const ConfigurationItemNotFoundException&) {
    return std::nullopt;
  }
  const std::string invalid = std::string("Invalid ") + kRecordFieldsKey + " in deployment.cfg: ";
  if (!item.is_array())
    throw SettingError(invalid +
                       "not a list of field names or {\"name\": ..., \"type\": ...} "
                       "objects");
  std::vector<Records::FieldItem> items;
  for (size_t i = 0; i < item.size(); ++i) {
    const nlohmann::json& entry = item[i];
    const std::string where = invalid + "entry " + std::to_string(i + 1);
    Records::FieldItem field;
    if (entry.is_string()) {
      field.name = entry.get<std::string>();
    } else if (entry.is_object()) {
      for (auto member = entry.begin(); member != entry.end(); ++member) {
        const std::string& key = member.key();
        std::string* into = key == "name"     ? &field.name
                            : key == "type"   ? &field.type
                            : key == "unit"   ? &field.unit
                            : key == "format" ? &field.format
                                              : nullptr;
        if (!into)
          throw SettingError(where + " has \"" + key +
                             "\", which is none of name, type, unit, format");
        if (!member->is_string()) throw SettingError(where + ": \"" + key + "\" is not a text");
        *into = member->get<std::string>();
      }
      if (!entry.contains("name")) throw SettingError(where + " has no \"name\"");
    } else {
      throw SettingError(where + " is neither a name nor an object");
    }
    items.push_back(std::move(field));
  }
  return items;
}

void CheckName(const Configuration& cfg, const std::string& name) {
  const std::string found =
      *Text(cfg, "Name", "Name key is missing in deployment.cfg expected:" + name + "\n");
  if (found != name)
    throw SettingError("Name key mismatch in deployment.cfg expected:" + name + " found:" + found +
                       "\n");
}

std::string Status(const Configuration& cfg) {
  return *Text(cfg, "Status", "Status key is missing in deployment.cfg");
}

void CheckStatus(const Configuration& cfg) {
  if (Status(cfg) != "Active")
    throw SettingError(
        "Status entry in deployment.cfg is not 'Active' for this deployment which we interpret "
        "as it being locked");
}

std::string Port(const Configuration& cfg) {
  return *Text(cfg, "Port", "Port missing in deployment.cfg");
}

int32_t BaudCode(const Configuration& cfg, bool& missing) {
  std::optional<std::string> baud = Text(cfg, "Baud");
  missing = !baud;
  const int32_t code = PortSourceUtils::BaudStringToConstant(baud.value_or(kDefaultBaud));
  if (code < 0) throw SettingError("Invalid baudrate in deployment.cfg");
  return code;
}

std::string Prompt(const Configuration& cfg) {
  std::string prompt = Text(cfg, "Prompt").value_or(kDefaultPrompt);
  if (prompt.empty())
    throw SettingError("Invalid Prompt in deployment.cfg: \"\" (it may not be empty)");
  return prompt;
}

void ReadControllerSettings(const Configuration& cfg, ControllerSettings& settings,
                            const LogFunction& log, const FailureFunction& failed) {
  auto say = [&](const char* severity, const std::string& text) {
    if (log) log(severity, text);
  };
  // One item's read; false when it failed and `failed` let the reading go on.
  auto item = [&](const std::string& key, auto read) {
    try {
      read();
      return true;
    } catch (const SettingError& e) {
      if (!failed) throw;
      failed(key, e);
      return false;
    }
  };
  if (item("Port", [&] { settings.portName = Port(cfg); })) {
    say("INFO", "Port requested:" + settings.portName);
    if (PortSourceUtils::isSerialPortRequested(settings.portName)) {
      item("Baud", [&] {
        bool missing = false;
        settings.serial.baud = BaudCode(cfg, missing);
        if (missing) say("WARNING", kBaudMissingWarning);
      });
    }
  }
  for (const NumericSetting& s : kNumericSettings) {
    item(s.key, [&] {
      const int32_t value = Number(cfg, s);
      // By text: two copies of a literal need not share an address.
      const std::string_view key = s.key;
      if (key == kConnectAttemptMaxTries.key) settings.connectAttemptMaxTries = value;
      if (key == kConnectAttemptTimeout.key) settings.connectAttemptTimeout = value;
      if (key == kRecordRequestSize.key) settings.recordRequestSize = value;
    });
  }
  item("Prompt", [&] { settings.prompt = Prompt(cfg); });
}

}  // namespace DeploymentSettings
