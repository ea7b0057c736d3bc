// pelox5-download: downloads a deployment's controller data into a raw session file.

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "app/App.h"
#include "base/Clock.h"
#include "base/ProcessStart.h"

int main(int argc, char** argv) {
  ProcessStart::Prepare();
  RealClock clock;
  App app(App::Seams{clock, {}, {}});
  const int32_t status = app.Main(std::vector<std::string>(argv, argv + argc));
  // The help and usage texts the run writes to standard output.
  std::cout.flush();
  return status;
}
