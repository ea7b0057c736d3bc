#include "app/SessionName.h"

#include <cstdio>

#include "config/DeploymentLayout.h"

namespace SessionName {

std::string Format(const std::string& deployment, const std::tm& local) {
  auto first = deployment.find_first_not_of(' ');
  auto last = deployment.find_last_not_of(' ');
  std::string name = first == std::string::npos ? "" : deployment.substr(first, last - first + 1);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, ".%04d%03d.%02d%02d%02d", local.tm_year + 1900,
                local.tm_yday + 1, local.tm_hour, local.tm_min, local.tm_sec);
  return DeploymentLayout::kSessionPrefix + name + stamp;
}

}  // namespace SessionName
