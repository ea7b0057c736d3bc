// pelox5-extract: records from a deployment's session files, into its record
// store and its record recovery file.

#include <exception>
#include <string>
#include <vector>

#include "ExtractCommand.h"
#include "base/Clock.h"
#include "base/ProcessStart.h"
#include "base/WriteAll.h"

int main(int argc, char** argv) {
  // A reader that goes away (pelox5-extract --lines | head) is an EPIPE, and a
  // file-size limit an EFBIG, not a signal that kills the process.
  ProcessStart::Prepare();
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    RealClock clock;
    return ExtractCommand::Run(args, clock);
  } catch (const std::exception& e) {
    WriteAll(2, std::string("pelox5-extract: ") + e.what() + "\n");
    return 1;
  }
}
