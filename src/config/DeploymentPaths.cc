#include "config/DeploymentPaths.h"

#include <utility>

DeploymentPaths::DeploymentPaths(FolderItem matched, const std::string& deploymentsPath,
                                 const std::string& delimiter, const std::string& cfgName)
    : folder(std::move(matched)),
      shown(deploymentsPath + delimiter + folder.Name()),
      delimiter(delimiter),
      cfgName(cfgName) {}

std::string DeploymentPaths::Shown(const std::string& relative) const {
  return shown + delimiter + relative;
}

std::string DeploymentPaths::CfgShown() const {
  return Shown(DeploymentLayout::kCfgFolder + delimiter + cfgName);
}

FolderItem DeploymentPaths::Cfg() const {
  return folder.Child(DeploymentLayout::kCfgFolder).Child(cfgName);
}

std::string DeploymentPaths::SessionShown(const std::string& fileName) const {
  return Shown(DeploymentLayout::kDownloadsFolder + delimiter + fileName);
}
