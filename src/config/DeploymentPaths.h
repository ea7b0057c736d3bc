#pragma once
// Where a deployment's files lie. Built once, from the deployment folder that was
// matched on disk (never from the name as typed), so the configuration, the
// downloads folder, the record recovery file and the paths shown in log lines all
// name the same folder.

#include <string>

#include "base/FolderItem.h"
#include "config/DeploymentLayout.h"

struct DeploymentPaths {
  // `deploymentsPath` is the project folder as the log shows it; `delimiter` the
  // preference "PathDelimiter".
  DeploymentPaths(FolderItem matched, const std::string& deploymentsPath,
                  const std::string& delimiter);

  // The text shown for `relative` inside the deployment folder, e.g. "cfg/deployment.cfg".
  std::string Shown(const std::string& relative) const;
  std::string CfgShown(const std::string& cfgName) const;
  std::string SessionShown(const std::string& fileName) const;
  FolderItem Downloads() const { return folder.Child(DeploymentLayout::kDownloadsFolder); }

  FolderItem folder;
  std::string shown;  // deployments path + delimiter + the folder's own name
  std::string delimiter;
};
