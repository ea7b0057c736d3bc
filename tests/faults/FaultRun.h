#pragma once
// Shared verbs of the fault and load tests: deployments with small time-outs,
// runs of the download tool (alone or many at once) and checks on their
// status, log and session file.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/Sandbox.h"
#include "support/SimProcess.h"

// What one run of the download tool left behind.
struct RunOutcome {
  int status = -1000;   // -1000: still running when the wait gave up
  std::string log;      // standard error without time stamps
  std::string out;      // standard output
  std::string session;  // the run's session file ("" when there is none)

  // Whether the log holds `text`; a failed check shows the whole log.
  testing::AssertionResult Logged(const std::string& text) const {
    if (log.find(text) != std::string::npos)
      return testing::AssertionSuccess() << "logged: " << text;
    return testing::AssertionFailure() << "not logged: " << text << "\nlog:\n" << log;
  }
  size_t FatalCount() const;
};

// A started download run; Finish() waits for it and collects its outcome.
class PendingRun {
 public:
  PendingRun(const Sandbox& box, const std::string& deployment,
             const std::vector<std::string>& wrapper = {});
  Subprocess& Process() { return *mProcess; }
  RunOutcome Finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));

 private:
  const Sandbox& mBox;
  std::string mDeployment;
  std::unique_ptr<Subprocess> mProcess;
};

class FaultTest : public ::testing::Test {
 protected:
  // deployment.cfg with small time-outs so that failures come quickly.
  static nlohmann::json Cfg(const std::string& name, const std::string& port);
  void Deploy(const std::string& name, const nlohmann::json& cfg);
  void Deploy(const std::string& name, const std::string& cfgText);
  void WriteRcd(const std::string& name, const std::string& text);
  RunOutcome Run(const std::string& name, const std::vector<std::string>& wrapper = {});

  Sandbox box;
};

// The session file of a deployment when it holds exactly one, else "".
std::string OnlySession(const Sandbox& box, const std::string& name);
// True when `part` is a prefix of `whole`.
bool IsPrefix(const std::string& part, const std::string& whole);
// VmRSS of a process in KiB, -1 when it cannot be read.
long ResidentKiB(pid_t pid);
