#include "config/DeploymentCheck.h"

namespace DeploymentCheck {

std::string UnusableCfgMessage(const std::string& cfgShown) {
  return "Unable to find or unable to parse the deployment cfg file:" + cfgShown;
}

}  // namespace DeploymentCheck
