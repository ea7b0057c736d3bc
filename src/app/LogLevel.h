#pragma once
// Log severities and their ranks: FATAL 1, WARNING 2, INFO 3, DEBUG 4; any other
// text ranks 0 and is shown as "UNKNOWN". Names compare without regard to case.

#include <string>

namespace LogLevel {

struct Ranked {
  int rank;
  const char* name;
};

Ranked Rank(const std::string& severity);

}  // namespace LogLevel
