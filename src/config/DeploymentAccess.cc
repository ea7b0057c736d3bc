#include "config/DeploymentAccess.h"

#include "config/DeploymentCheck.h"
#include "config/DeploymentSettings.h"
#include "config/FolderUtils.h"
#include "config/ProjectFolders.h"

namespace DeploymentAccess {

namespace {

void Say(const Options& options, const char* severity, const std::string& text) {
  if (options.log) options.log(severity, text);
}

Configuration LoadCfg(const DeploymentPaths& paths) {
  const std::string shown = paths.CfgShown();
  std::optional<Configuration> cfg;
  try {
    cfg = getDeploymentConfig(paths.folder, paths.cfgName);
  } catch (const ConfigurationBadFormatException& e) {
    throw CfgError(CfgError::Cause::kBadFormat, e.Message,
                   DeploymentCheck::UnusableCfgMessage(shown));
  } catch (const ConfigurationFileUnreadableException& e) {
    throw CfgError(CfgError::Cause::kUnreadable, e.Message,
                   DeploymentCheck::UnusableCfgMessage(shown));
  }
  if (!cfg)
    throw CfgError(CfgError::Cause::kMissing, "", DeploymentCheck::UnusableCfgMessage(shown));
  return std::move(*cfg);
}

template <typename Check>
void Setting(const char* key, Check check) {
  try {
    check();
  } catch (const DeploymentSettings::SettingError& e) {
    throw SettingRefusedError(key, e.Message);
  }
}

}  // namespace

std::optional<std::string> Deployment::RecordRecoveryFile() const {
  std::optional<std::string> fileName = DeploymentSettings::Text(cfg, "ExtractReceivedRecordFile");
  if (!fileName || fileName->empty()) return std::nullopt;
  return paths.RecordRecoveryFile(*fileName);
}

Deployment Open(const ProjectLocation::Location& location, const std::string& name,
                const Options& options) {
  return Load(location, Locate(location, name, options), name, options);
}

DeploymentPaths Locate(const ProjectLocation::Location& location, const std::string& name,
                       const Options& options) {
  Say(options, "WARNING", "Deployments path:" + location.projectFolder);
  std::optional<FolderItem> top;
  try {
    top = getTopLevelProjectFolder(location.projectFolder, options.createProjectFolder, false);
  } catch (const FolderUtils::FolderUtilsException& e) {
    throw ProjectFolderError(e.Message, e.ErrorNumber);
  }
  Say(options, "INFO",
      "Deployment target from cmd line:" + location.projectFolder + location.delimiter + name);
  try {
    return PathsOf(location, getDeploymentFolderByName(*top, name));
  } catch (const FolderUtils::FolderNotFoundException& e) {
    throw DeploymentNotFoundError(e.Message, e.ErrorNumber);
  }
}

DeploymentPaths PathsOf(const ProjectLocation::Location& location, const FolderItem& folder) {
  return DeploymentPaths(folder, location.projectFolder, location.delimiter, location.cfgName);
}

Deployment Load(const ProjectLocation::Location& location, DeploymentPaths paths,
                const std::string& name, const Options& options) {
  if (location.cfgNameUnusable)
    throw PreferencesModule::PreferenceBadValueException("DeploymentCfgName");
  Say(options, "INFO", "Getting deployment config file:" + paths.CfgShown());
  Configuration cfg = LoadCfg(paths);
  if (options.checkName) Setting("Name", [&] { DeploymentSettings::CheckName(cfg, name); });
  if (options.requireActive) Setting("Status", [&] { DeploymentSettings::CheckStatus(cfg); });
  return Deployment{name, location, std::move(paths), std::move(cfg)};
}

}  // namespace DeploymentAccess
