// pelox5-sim: a simulated controller for tests, demonstrations, benchmarks and
// operator training. See HelpText() and README.md.

#include <cstdio>
#include <string>
#include <vector>

#include "Replay.h"
#include "Server.h"
#include "SimOptions.h"
#include "base/ProcessStart.h"

int main(int argc, char** argv) {
  ProcessStart::Prepare();
  std::vector<std::string> args(argv + 1, argv + argc);
  SimOptions options;
  try {
    options = ParseSimOptions(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "pelox5-sim: %s\nTry \"pelox5-sim --help\".\n", e.Message.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(HelpText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  try {
    if (!options.replayPath.empty())
      options.replay = std::make_shared<const ReplayScript>(options.replayPath, options.prompt);
    StopSignal stop;
    if (options.link == SimOptions::Link::kTcp) {
      ServeTcp(options, stop);
    } else {
      ServePty(options, stop);
    }
  } catch (const SimError& e) {
    std::fprintf(stderr, "pelox5-sim: %s\n", e.Message.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelox5-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
