#include "config/DeploymentSettings.h"

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

}  // namespace DeploymentSettings
