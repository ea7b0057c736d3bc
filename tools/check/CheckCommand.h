#pragma once
// The pelox5-check command line: which deployments to check, whether to probe
// the controller, and the form of the report.

#include <string>
#include <vector>

#include "base/Clock.h"

namespace CheckCommand {

// Runs one command line (without the program name); the report goes to
// standard output, usage errors to standard error. Returns the exit status:
// 0 every check passed (warnings allowed), 1 a check failed, 2 a usage error.
int Run(const std::vector<std::string>& args, Clock& clock);

}  // namespace CheckCommand
