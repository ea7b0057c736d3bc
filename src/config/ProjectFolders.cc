#include "config/ProjectFolders.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/AsciiText.h"
#include "config/DeploymentLayout.h"
#include "config/JsonDocument.h"

FolderItem getTopLevelProjectFolder(const std::string& path, bool createIfMissing, bool askUser) {
  if (path.empty() || path.find('\0') != std::string::npos)
    throw FolderUtils::RootPathException("Invalid directory path:\n" + path + "\nErrorNumber:" +
                                         std::to_string(FolderItem::CodeFromErrno(EINVAL)));
  FolderItem folder(path);
  if (folder.Exists()) return folder;
  if (!createIfMissing)
    throw FolderUtils::FolderNotFoundException(
        "Directory not found:\n" + path + "\nAnd caller specified NOT to create it if missing.");
  int32_t answer = 1;
  if (askUser)
    answer = FolderUtils::askme("Project path does not exist. \n" + path +
                                "\nDo you want me to create it now?");
  if (answer == 1) FolderUtils::makedirs(path);
  return folder;
}

FolderItem getDeploymentFolderByName(const std::optional<FolderItem>& root,
                                     const std::string& name) {
  try {
    FolderUtils::checkfolder(root, false);
  } catch (FolderUtils::FolderUtilsException& e) {
    e.Message +=
        ":  getAllDeploymentFolders() cant get deployments due to problems with root folder.";
    throw;
  }

  std::vector<FolderItem> matches;
  FolderItem listed = *root;
  for (const FolderItem& item : listed.Children()) {
    if (!item.IsFolder()) continue;
    if (AsciiText::Lower(item.Name()) == name) matches.push_back(item);
  }
  if (matches.size() > 1) {
    // Each would give the run a different configuration, downloads folder and
    // record file: none is chosen.
    std::vector<std::string> names;
    for (const FolderItem& item : matches) names.push_back(item.Name());
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& folder : names) list += (list.empty() ? "" : ", ") + folder;
    throw FolderUtils::FolderNotFoundException(
        "getDeploymentFolderByName(): - more than one deployment folder matches. \nPath:" +
        root->NativePath() + "\nDeployment Name:" + name + "\nFolders:" + list);
  }
  if (matches.empty() || !matches.front().Exists())
    throw FolderUtils::FolderNotFoundException(
        "getDeploymentFolderByName(): - target deployment folder not found. \nPath:" +
        root->NativePath() + "\nDeployment Name:" + name);
  return matches.front();
}

std::optional<Configuration> getDeploymentConfig(const std::optional<FolderItem>& deploymentFolder,
                                                 const std::string& fileName) {
  if (!deploymentFolder || !deploymentFolder->IsFolder()) return std::nullopt;
  FolderItem cfgFolder = deploymentFolder->Child(DeploymentLayout::kCfgFolder);
  if (!cfgFolder.IsFolder()) return std::nullopt;
  std::optional<FolderItem> file = JsonDocument::ChildFile(cfgFolder, fileName);
  if (!file || !file->Exists()) return std::nullopt;

  try {
    Configuration config(cfgFolder, fileName);
    if (!config.Load()) return std::nullopt;  // removed since the look above
    return config;
  } catch (const ConfigurationFolderNotFoundException&) {
    return std::nullopt;
  } catch (const ConfigurationItemNotFoundException&) {
    return std::nullopt;
  }
}
