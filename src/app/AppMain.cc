// App::Main: the only place a run ends. Every way out, a normal end, a fatal
// stop, an error no stage handles or a stop signal, comes here, and the session
// file is flushed to disk and closed before the status is returned.

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "app/App.h"
#include "app/ExitRequest.h"

namespace {

std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? name.get() : type.name();
}

}  // namespace

int32_t App::Main(const std::vector<std::string>& args) {
  auto finish = [this](int32_t status) {
    if (!FinishSession()) status = 1;
    WriteRunJournal(status);
    // Lines logged before log output was attached still reach standard error.
    if (!logBuffer.empty()) HandleLogMessageAvailable(*this);
    return status;
  };
  try {
    try {
      return finish(Run(args));
    } catch (const ExitRequest& request) {
      return finish(request.code);
    } catch (const std::exception& e) {
      LogNewMessage("FATAL", "Unhandled error (" + TypeName(typeid(e)) + "): " + e.what());
      return finish(1);
    }
  } catch (const ExitRequest&) {
    return finish(1);
  } catch (...) {
    return finish(1);
  }
}
