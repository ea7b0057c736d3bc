#include "FaultRun.h"

#include <fstream>
#include <sstream>

using nlohmann::json;

size_t RunOutcome::FatalCount() const {
  size_t n = 0;
  for (size_t at = 0; (at = log.find("(FATAL) : ", at)) != std::string::npos; ++at) ++n;
  return n;
}

PendingRun::PendingRun(const Sandbox& box, const std::string& deployment,
                       const std::vector<std::string>& wrapper)
    : mBox(box), mDeployment(deployment) {
  std::vector<std::string> args{"-d", deployment, "-l", "DEBUG"};
  if (wrapper.empty()) {
    mProcess = std::make_unique<Subprocess>(Sandbox::DownloadTool(), args, box.ProcessOptions());
    return;
  }
  // The wrapper is a program and its arguments; the tool and its own
  // arguments follow them.
  std::vector<std::string> all(wrapper.begin() + 1, wrapper.end());
  all.push_back(Sandbox::DownloadTool());
  all.insert(all.end(), args.begin(), args.end());
  mProcess = std::make_unique<Subprocess>(wrapper[0], all, box.ProcessOptions());
}

RunOutcome PendingRun::Finish(std::chrono::milliseconds timeout) {
  RunOutcome out;
  auto status = mProcess->Wait(timeout);
  if (status) out.status = *status;
  out.log = WithoutTimeStamps(mProcess->Stderr());
  out.out = mProcess->Stdout();
  out.session = OnlySession(mBox, mDeployment);
  return out;
}

json FaultTest::Cfg(const std::string& name, const std::string& port) {
  return {{"Name", name},
          {"Status", "Active"},
          {"Port", port},
          {"ConnectAttemptMaxTries", 2},
          {"ConnectAttemptTimeout", 1},
          {"ExtractReceivedRecordFile", "extract.rcd"}};
}

void FaultTest::Deploy(const std::string& name, const json& cfg) {
  box.AddDeployment(name, cfg.dump(2));
}

void FaultTest::Deploy(const std::string& name, const std::string& cfgText) {
  box.AddDeployment(name, cfgText);
}

void FaultTest::WriteRcd(const std::string& name, const std::string& text) {
  WriteFile(box.DeploymentFolder(name) + "/extract.rcd", text);
}

RunOutcome FaultTest::Run(const std::string& name, const std::vector<std::string>& wrapper) {
  return PendingRun(box, name, wrapper).Finish();
}

std::string OnlySession(const Sandbox& box, const std::string& name) {
  auto files = box.SessionFiles(name);
  return files.size() == 1 ? ReadFile(files[0]) : "";
}

bool IsPrefix(const std::string& part, const std::string& whole) {
  return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

long ResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      long kib = -1;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}
