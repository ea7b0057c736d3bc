#pragma once
// The pelox5-extract command: absorbs a deployment's session files into its
// record store and brings its record recovery file up to date, or prints the
// stored record lines.

#include <string>
#include <vector>

#include "base/Clock.h"

namespace ExtractCommand {

// Runs one command line (without the program name): the summary or the lines
// on standard output, log lines on standard error. Returns the exit status: 0
// when all was absorbed, 1 on an error, 2 on a bad command line. `clock` dates
// what is stored.
int Run(const std::vector<std::string>& args, Clock& clock);

std::string HelpText();

}  // namespace ExtractCommand
