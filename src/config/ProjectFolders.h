#pragma once
// Finding the project folder, a deployment's folder in it, and the deployment's
// configuration file in that folder's "cfg" sub-folder.

#include <optional>
#include <string>

#include "base/FolderItem.h"
#include "config/Configuration.h"
#include "config/FolderUtils.h"

// The item for the project folder at `path`. An existing item is returned as it
// is, folder or not. A missing one raises FolderUtils::FolderNotFoundException
// when !createIfMissing; otherwise it is created with FolderUtils::makedirs
// (whose CreateFolderException passes through) unless `askUser` is set and the
// user declines, in which case the missing item is returned. Raises
// FolderUtils::RootPathException for a text that cannot be a path (empty, or
// holding a NUL byte).
FolderItem getTopLevelProjectFolder(const std::string& path, bool createIfMissing, bool askUser);

// The sub-folder of `root` whose name in lower case equals `name`. Letters are
// lowered in ASCII only, and `name` itself is not lowered. Raises the
// FolderUtils::checkfolder exception (message extended) when `root` is unusable,
// and FolderUtils::FolderNotFoundException when nothing matches or when several
// folders match (e.g. "Site1" and "site1"; the message names them all).
FolderItem getDeploymentFolderByName(const std::optional<FolderItem>& root,
                                     const std::string& name);

// The loaded configuration `fileName` in the "cfg" folder of `deploymentFolder`.
// None when the deployment folder, its "cfg" folder or the file is missing.
// ConfigurationBadFormatException and ConfigurationFileUnreadableException (not
// a regular file, too large, refused by the OS) pass through.
std::optional<Configuration> getDeploymentConfig(const std::optional<FolderItem>& deploymentFolder,
                                                 const std::string& fileName);
