#pragma once
// The message every program that reads one deployment's cfg gives when the
// cfg cannot be used, as the download run gives it.

#include <string>

namespace DeploymentCheck {

// The FATAL text for a cfg that is missing or cannot be parsed; `cfgShown` is
// the path as the log shows it.
std::string UnusableCfgMessage(const std::string& cfgShown);

}  // namespace DeploymentCheck
