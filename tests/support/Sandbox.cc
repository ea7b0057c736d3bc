#include "support/Sandbox.h"

#include <algorithm>
#include <filesystem>
#include <regex>

namespace fs = std::filesystem;

Sandbox::Sandbox() { fs::create_directories(Documents()); }

Subprocess::Options Sandbox::ProcessOptions() const {
  Subprocess::Options options;
  options.workDir = Root();
  options.env = {{"HOME", Home()},
                 {"XDG_CONFIG_HOME", Home() + "/.config"},
                 {"XDG_DOCUMENTS_DIR", Documents()},
                 {"TZ", "UTC"}};
  for (const auto& [key, value] : extraEnv) options.env[key] = value;
  return options;
}

void Sandbox::AddDeployment(const std::string& name, const std::string& cfgJson) {
  fs::create_directories(DeploymentFolder(name) + "/cfg");
  WriteFile(DeploymentFolder(name) + "/cfg/deployment.cfg", cfgJson);
}

std::vector<std::string> Sandbox::SessionFiles(const std::string& name) const {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Downloads(name), ec))
    files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string Sandbox::DownloadTool() { return PELOX5_BINARY_DIR "/src/app/pelox5-download"; }
std::string Sandbox::Simulator() { return PELOX5_BINARY_DIR "/tools/sim/pelox5-sim"; }
std::string Sandbox::RcdTool() { return PELOX5_BINARY_DIR "/tools/rcd/pelox5-rcd"; }
std::string Sandbox::StatusTool() { return PELOX5_BINARY_DIR "/tools/status/pelox5-status"; }
std::string Sandbox::CheckTool() { return PELOX5_BINARY_DIR "/tools/check/pelox5-check"; }

Subprocess::Result Sandbox::Download(const std::vector<std::string>& args,
                                     std::chrono::milliseconds timeout) const {
  return Subprocess::Run(DownloadTool(), args, ProcessOptions(), timeout);
}

std::string WithoutTimeStamps(const std::string& log) {
  static const std::regex stamp(R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: )");
  return std::regex_replace(log, stamp, "$1");
}
