#pragma once
// Runs a built executable as a child process for end-to-end tests: arguments,
// extra environment, standard output and error captured in files, a bounded wait.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

class Subprocess {
 public:
  struct Options {
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    std::string workDir;                     // where stdout/stderr files go (required)
    bool newSession = false;                 // setsid(), e.g. for a pseudo-terminal
    std::string stdoutPath;                  // standard output to this existing file or terminal
    std::string stderrPath;                  // standard error to this existing file or terminal
  };

  Subprocess(const std::string& program, const std::vector<std::string>& args,
             const Options& options);
  ~Subprocess();  // kills the child if it still runs
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t Pid() const { return mPid; }
  // Waits up to `timeout`; the exit status, or -signal when killed by one;
  // nullopt on time-out (the child keeps running).
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  void Signal(int signal);
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until standard output holds a whole first line, returns it.
  std::optional<std::string> FirstStdoutLine(std::chrono::milliseconds timeout) const;

  // Runs to completion (killed after `timeout`).
  struct Result {
    int status;
    std::string out, err;
  };
  static Result Run(const std::string& program, const std::vector<std::string>& args,
                    const Options& options,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60));

 private:
  pid_t mPid = -1;
  std::optional<int> mStatus;
  std::string mOutPath, mErrPath;
};

// Runs `program` with its standard output (`stream` STDOUT_FILENO) or error
// (STDERR_FILENO) on a new pseudo-terminal; returns all it wrote there. `status`
// gets its exit status, -1000 when it had not ended after `timeout` (it is killed).
std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          Subprocess::Options options, int stream, int& status,
                          std::chrono::milliseconds timeout = std::chrono::seconds(60));

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
