// pelox5-status: the state of every deployment at a glance.

#include <string>
#include <vector>

#include "StatusCommand.h"
#include "base/Clock.h"
#include "base/ProcessStart.h"

int main(int argc, char** argv) {
  // A reader that goes away (pelox5-status | head) is an EPIPE, not a signal.
  ProcessStart::Prepare();
  std::vector<std::string> args(argv + 1, argv + argc);
  RealClock clock;
  return StatusCommand::Run(args, clock);
}
