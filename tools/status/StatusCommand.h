#pragma once
// pelox5-status's command line and run, apart from main so tests can drive it.

#include <string>
#include <vector>

#include "base/Clock.h"

namespace StatusCommand {

// Exit statuses.
inline constexpr int kAllComplete = 0;
inline constexpr int kNeedsAttention = 1;  // also: the project cannot be read
inline constexpr int kUsage = 2;

// The text of --help, ending with a line feed.
std::string HelpText();

// Runs with argv[1..]; the report goes to standard output (or to the --output
// file, replaced atomically), errors to standard error. Ages are measured
// against `clock`'s wall time.
int Run(const std::vector<std::string>& args, Clock& clock);

}  // namespace StatusCommand
