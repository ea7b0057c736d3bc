#pragma once
// The checks of one deployment that need no controller: the preferences, the
// deployment folder, deployment.cfg, the port, the record recovery file, the
// downloads folder, the run journal and the systemd timer, in the order a run
// needs them. Each reads through the run's own code; nothing is written.

#include <cstdint>
#include <optional>
#include <string>

#include "CheckLine.h"
#include "base/Clock.h"
#include "config/Configuration.h"
#include "config/DeploymentPaths.h"
#include "config/ProjectLocation.h"
#include "controller/ControllerSettings.h"

namespace SiteCheck {

// What the checks learnt that later ones (and the probe) use.
struct Site {
  explicit Site(Clock& c) : clock(c) {}
  // Times the port test and the probe; the program's own clock.
  Clock& clock;
  std::string name;
  ProjectLocation::Location location;
  std::optional<DeploymentPaths> paths;
  std::optional<Configuration> cfg;
  // The Controller's settings as the run would apply them; valid when portSettingsOk.
  bool portSettingsOk = false;
  ControllerSettings controller;
  bool serial = false;
  // The port itself passed its checks: the probe may open it.
  bool portOk = false;
};

// Free space in the downloads folder under which the check warns.
inline constexpr uint64_t kLowFreeSpaceBytes = uint64_t{256} << 20;

// The preferences and the project folder; false when the project folder cannot
// be used (nothing after it means anything).
bool CheckProject(CheckList& list, Site& site);
// The deployment folder and deployment.cfg; false when there is no usable cfg.
bool CheckDeployment(CheckList& list, Site& site);
void CheckSettings(CheckList& list, Site& site);
void CheckRecordFile(CheckList& list, const Site& site);
void CheckDownloads(CheckList& list, const Site& site);
// The session files this account cannot read, and the record pattern tried
// on the newest session file.
void CheckSessions(CheckList& list, const Site& site);
// "RecordFields", "RecordFieldSeparator" and "TimeZone", when the cfg names any.
void CheckRecordFields(CheckList& list, const Site& site);
// The line of that check for a cfg; none when it names none of the items.
std::optional<CheckLine> RecordFieldsLine(const Configuration& cfg, const std::string& cfgPath);
void CheckJournal(CheckList& list, const Site& site);
void CheckTimer(CheckList& list, const Site& site);

// The item of deployment.cfg that `key` probably means to name: a known item
// a few letters away (letter case ignored) or one that `key` begins with
// ("Baudrate"); none for a known item itself and for one far from every item.
std::optional<std::string> NearKnownKey(const std::string& key);

// The deployment names of a project folder (sub-folders, lower case), sorted.
std::vector<std::string> DeploymentNames(const std::string& projectFolder);

}  // namespace SiteCheck
