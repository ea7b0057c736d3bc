#include "config/DeploymentPaths.h"

#include <utility>

DeploymentPaths::DeploymentPaths(FolderItem matched, const std::string& deploymentsPath,
                                 const std::string& delimiter)
    : folder(std::move(matched)),
      shown(deploymentsPath + delimiter + folder.Name()),
      delimiter(delimiter) {}

std::string DeploymentPaths::Shown(const std::string& relative) const {
  return shown + delimiter + relative;
}

std::string DeploymentPaths::CfgShown(const std::string& cfgName) const {
  return Shown("cfg" + delimiter + cfgName);
}

std::string DeploymentPaths::SessionShown(const std::string& fileName) const {
  return Shown(DeploymentLayout::kDownloadsFolder + delimiter + fileName);
}
