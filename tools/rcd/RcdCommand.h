#pragma once
// The pelox5-rcd command: shows, lists the gaps of, or adds to a record
// recovery file through RecordRecoveryUtils::RecordLog.

#include <cstdio>
#include <string>
#include <vector>

namespace RcdTool {

// Runs one command line (without the program name). Results go to `out`,
// one-line complaints about arguments to `err`; the record log's own failure
// messages go to standard output. Returns the exit status, 0 or 1.
int Run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace RcdTool
