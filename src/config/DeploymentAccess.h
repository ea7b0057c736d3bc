#pragma once
// DeploymentAccess: the one way into a deployment. Every program that works on a
// deployment opens it here, by name, as the download run does: the project
// folder from the preferences, the deployment folder matched in it, its
// deployment.cfg loaded and checked, and the path of every file of the
// deployment. A failure is a typed error whose Message is the run's FATAL text;
// a program adds words of its own only where its job differs.

#include <functional>
#include <optional>
#include <string>

#include "base/BaseError.h"
#include "base/FolderItem.h"
#include "config/Configuration.h"
#include "config/DeploymentPaths.h"
#include "config/ProjectLocation.h"

namespace DeploymentAccess {

// The family: the deployment cannot be opened; Message is the run's text.
PELOX5_DECLARE_ERROR(AccessError, BaseError);
// The project folder is missing (and not to be created) or unusable.
PELOX5_DECLARE_ERROR(ProjectFolderError, AccessError);
// No folder of the project matches the name, or several do.
PELOX5_DECLARE_ERROR(DeploymentNotFoundError, AccessError);

// deployment.cfg is missing, not valid JSON, or cannot be read (too large, not
// a regular file, refused by the OS). Message is the run's text for all three;
// `detail` holds the parse error or the read failure ("" when missing).
class CfgError : public AccessError {
 public:
  enum class Cause { kMissing, kBadFormat, kUnreadable };
  CfgError(Cause why, std::string detailText, std::string message)
      : AccessError(std::move(message)), cause(why), detail(std::move(detailText)) {}
  Cause cause;
  std::string detail;
};

// "Name" or "Status" refused; Message is the setting's own text.
class SettingRefusedError : public AccessError {
 public:
  SettingRefusedError(std::string item, std::string message)
      : AccessError(std::move(message)), key(std::move(item)) {}
  std::string key;
};

struct Options {
  // The run creates a missing project folder; the other programs never do.
  bool createProjectFolder = false;
  // "Name" must equal the name; "Status" must be "Active".
  bool checkName = true;
  bool requireActive = true;
  // Receives the run's progress lines as (severity, text), in the run's order;
  // empty: none. Failures are raised, never logged here.
  std::function<void(const std::string&, const std::string&)> log;
};

struct Deployment {
  std::string name;  // as asked for
  ProjectLocation::Location location;
  DeploymentPaths paths;
  Configuration cfg;

  // The record recovery file that the cfg's ExtractReceivedRecordFile names, as
  // the run opens it; none when the item is missing or empty. Raises
  // DeploymentSettings::SettingError for a value that is not a text or number.
  std::optional<std::string> RecordRecoveryFile() const;
};

// Opens the deployment `name` of the project at `location`: Locate, then Load.
Deployment Open(const ProjectLocation::Location& location, const std::string& name,
                const Options& options);

// The pieces of Open, for a program that acts between them (the run journals a
// run once the folder is known) or finds its folders otherwise (pelox5-status
// walks every folder of the project).
//
// The deployment folder of `name`. A project folder that exists but cannot be
// searched (not a folder, not readable) raises the FolderUtils exception that
// says so, as the run has always reported it.
DeploymentPaths Locate(const ProjectLocation::Location& location, const std::string& name,
                       const Options& options);
// deployment.cfg of the folder at `paths`, loaded and checked. Raises
// PreferencesModule::PreferenceBadValueException when the location has no
// usable cfg name.
Deployment Load(const ProjectLocation::Location& location, DeploymentPaths paths,
                const std::string& name, const Options& options);
// The paths of a folder of the project at `location`.
DeploymentPaths PathsOf(const ProjectLocation::Location& location, const FolderItem& folder);

}  // namespace DeploymentAccess
