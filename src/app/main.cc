// pelox5-download: downloads a deployment's controller data into a raw session file.

#include <string>
#include <vector>

#include "app/App.h"
#include "base/Clock.h"
#include "base/ProcessStart.h"

int main(int argc, char** argv) {
  ProcessStart::Prepare();
  RealClock clock;
  App app(App::Seams{clock, {}, {}});
  return app.Main(std::vector<std::string>(argv, argv + argc));
}
