// pelox5-check: tells what a deployment's download needs that is missing or
// wrong, and how to fix it.

#include <unistd.h>

#include <exception>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "base/Clock.h"
#include "base/ProcessStart.h"
#include "base/WriteAll.h"

int main(int argc, char** argv) {
  // A reader that goes away (pelox5-check | head) is an EPIPE, not a signal.
  ProcessStart::Prepare();
  std::vector<std::string> args(argv + 1, argv + argc);
  RealClock clock;
  try {
    return CheckCommand::Run(args, clock);
  } catch (const std::exception& e) {
    // An error outside every deployment's checks: a failure, not an abort.
    WriteAll(STDERR_FILENO, std::string("pelox5-check: ") + e.what() + "\n");
    return 1;
  }
}
