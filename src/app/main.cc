// pelox5-download: downloads a deployment's controller data into a raw session file.
// main() is the only place that ends the process: every way out, a normal end, a
// fatal stop, an error no stage handles or a stop signal, comes here, and the
// session file is flushed to disk and closed before the status is returned.

#include <cxxabi.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/App.h"
#include "app/ExitRequest.h"
#include "base/ProcessStart.h"

namespace {

std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? name.get() : type.name();
}

int32_t Finish(App& app, int32_t status) {
  if (!app.FinishSession()) status = 1;
  app.WriteRunJournal(status);
  // Lines logged before log output was attached still reach standard error.
  if (!app.logBuffer.empty()) app.HandleLogMessageAvailable(app);
  std::cout.flush();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  ProcessStart::Prepare();
  std::vector<std::string> args(argv, argv + argc);
  App& app = App::Instance();
  try {
    try {
      return Finish(app, app.Run(args));
    } catch (const ExitRequest& request) {
      return Finish(app, request.code);
    } catch (const std::exception& e) {
      app.LogNewMessage("FATAL", "Unhandled error (" + TypeName(typeid(e)) + "): " + e.what());
      return Finish(app, 1);
    }
  } catch (const ExitRequest&) {
    return Finish(app, 1);
  } catch (...) {
    return Finish(app, 1);
  }
}
