#include "app/LogLevel.h"

#include <strings.h>

namespace LogLevel {

Ranked Rank(const std::string& severity) {
  static const Ranked kLevels[] = {{4, "DEBUG"}, {3, "INFO"}, {2, "WARNING"}, {1, "FATAL"}};
  for (const Ranked& level : kLevels)
    if (::strcasecmp(severity.c_str(), level.name) == 0) return level;
  return {0, "UNKNOWN"};
}

}  // namespace LogLevel
