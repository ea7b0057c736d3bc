#pragma once
// Runs pelox5-sim as a child process for the length of a test and reads the line
// that says where it listens ("tcp 127.0.0.1:PORT" or "pty /dev/pts/N").

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class SimProcess {
 public:
  // Starts the simulator with `args`; Where() is empty when it did not come up.
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return;
    args.insert(args.begin(), PELOX5_BINARY_DIR "/tools/sim/pelox5-sim");
    mPid = ::fork();
    if (mPid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    mOut = out[0];
    if (mPid > 0) ReadFirstLine();
  }

  ~SimProcess() {
    if (mPid > 0) {
      ::kill(mPid, SIGTERM);
      int status = 0;
      ::waitpid(mPid, &status, 0);
    }
    if (mOut >= 0) ::close(mOut);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The address after "tcp " or the device after "pty ".
  const std::string& Where() const { return mWhere; }

 private:
  void ReadFirstLine() {
    std::string line;
    char c = 0;
    while (line.size() < 256) {
      pollfd p{mOut, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0 || ::read(mOut, &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    const size_t blank = line.find(' ');
    if (blank != std::string::npos) mWhere = line.substr(blank + 1);
  }

  pid_t mPid = -1;
  int mOut = -1;
  std::string mWhere;
};
