#pragma once
// Where the download tool keeps its deployments, found from the same
// preferences file and with the same defaults, without creating or rewriting
// anything: no preferences folder, no preferences file, no project folder.

#include <string>

#include "base/BaseError.h"

namespace ProjectLocation {

// The preferences cannot be used; Message says why.
PELOX5_DECLARE_ERROR(LocationError, BaseError);

struct Location {
  std::string preferencesFile;  // the file consulted (it may not exist)
  std::string projectFolder;    // ProjectRootPath + delimiter + ProjectRootFolder
  std::string cfgName;          // DeploymentCfgName, "deployment.cfg" by default
  std::string delimiter;        // PathDelimiter, "/" by default
};

// Reads <application data>/Pelox5Apps/Pelox5Apps.pref. A missing or unreadable
// file gives the tool's defaults (the documents folder, "Pelox5"), as the tool
// would use them on its next run. Raises LocationError when the file is read
// but lacks one of the path items or holds one that is not a text or number.
Location Find();

}  // namespace ProjectLocation
