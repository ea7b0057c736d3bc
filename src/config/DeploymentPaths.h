#pragma once
// Where a deployment's files lie. Built once, from the deployment folder that was
// matched on disk (never from the name as typed), so the configuration, the
// downloads folder, the record recovery file and the paths shown in log lines all
// name the same folder. Every file of a deployment is named here, once.

#include <string>

#include "base/FolderItem.h"
#include "config/DeploymentLayout.h"

struct DeploymentPaths {
  // `deploymentsPath` is the project folder as the log shows it; `delimiter` the
  // preference "PathDelimiter"; `cfgName` the preference "DeploymentCfgName".
  DeploymentPaths(FolderItem matched, const std::string& deploymentsPath,
                  const std::string& delimiter, const std::string& cfgName);

  // The text shown for `relative` inside the deployment folder, e.g. "cfg/deployment.cfg".
  std::string Shown(const std::string& relative) const;
  // deployment.cfg, as the log shows it and as a file.
  std::string CfgShown() const;
  FolderItem Cfg() const;
  std::string SessionShown(const std::string& fileName) const;
  FolderItem Downloads() const { return folder.Child(DeploymentLayout::kDownloadsFolder); }
  // The record recovery file named `fileName` (the cfg's ExtractReceivedRecordFile),
  // as the run opens it.
  std::string RecordRecoveryFile(const std::string& fileName) const { return Shown(fileName); }
  FolderItem RecordStore() const { return folder.Child(DeploymentLayout::kRecordStoreFile); }
  FolderItem RunJournal() const { return folder.Child(DeploymentLayout::kRunJournalFile); }

  FolderItem folder;
  std::string shown;  // deployments path + delimiter + the folder's own name
  std::string delimiter;
  std::string cfgName;
};
