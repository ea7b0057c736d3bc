#pragma once
// A temporary user for end-to-end runs: HOME, XDG_CONFIG_HOME and
// XDG_DOCUMENTS_DIR point into a temporary folder, with helpers to lay out a
// project, write a deployment's files and run the built executables.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "TempDir.h"
#include "support/Subprocess.h"

class Sandbox {
 public:
  Sandbox();

  const std::string& Root() const { return mDir.Path(); }
  std::string Home() const { return Root() + "/home"; }
  std::string Documents() const { return Home() + "/Documents"; }
  std::string PrefsFile() const { return Home() + "/.config/Pelox5Apps/Pelox5Apps.pref"; }
  std::string ProjectFolder() const { return Documents() + "/Pelox5"; }
  std::string DeploymentFolder(const std::string& name) const {
    return ProjectFolder() + "/" + name;
  }
  std::string Downloads(const std::string& name) const {
    return DeploymentFolder(name) + "/downloads";
  }

  Subprocess::Options ProcessOptions() const;

  // Creates the deployment's folder and cfg/deployment.cfg holding `cfgJson`.
  void AddDeployment(const std::string& name, const std::string& cfgJson);
  // The session files in a deployment's downloads folder, sorted by name.
  std::vector<std::string> SessionFiles(const std::string& name) const;

  static std::string DownloadTool();
  static std::string Simulator();
  static std::string RcdTool();
  static std::string StatusTool();
  static std::string CheckTool();

  Subprocess::Result Download(const std::vector<std::string>& args,
                              std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

  std::map<std::string, std::string> extraEnv;

 private:
  TempDir mDir;
};

// Drops the time stamps of log lines: "YYYY-MM-DD HH:MM:SS: (INFO) : x" -> "(INFO) : x".
std::string WithoutTimeStamps(const std::string& log);
