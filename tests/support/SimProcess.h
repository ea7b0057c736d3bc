#pragma once
// pelox5-sim started as a child process for end-to-end tests. The simulator
// prints where it listens on its first line: "tcp 127.0.0.1:PORT" or "pty PATH".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/Sandbox.h"

class SimProcess {
 public:
  // Starts the simulator with `args` and waits for its first line. The sent
  // bytes and received commands are logged to files in the sandbox.
  SimProcess(const Sandbox& box, const std::vector<std::string>& args);
  ~SimProcess();

  // The port text for deployment.cfg: "127.0.0.1:PORT" or the pty's path.
  const std::string& PortText() const { return mPortText; }
  std::string SentBytes() const;
  // Size of the sent-bytes log, without reading it (0 before the first write).
  uint64_t SentSize() const;
  // The commands received, one a line.
  std::string Commands() const;
  // The commands received, once the last one logged is `last`: a run's final
  // command may still be on its way to the simulator when the run has ended.
  // Gives up after 20 s and returns what was logged.
  std::string CommandsThrough(const std::string& last) const;
  Subprocess& Process() { return *mProcess; }
  // The first line the simulator printed, and the TCP port or pty path in it.
  const std::string& StartLine() const { return mStartLine; }
  int Port() const;
  std::string PtyPath() const;
  // Sends SIGTERM and returns the exit status (-1 when killed by a signal, -2
  // when it did not end within 5 s).
  int Terminate();
  // Waits up to timeoutMs for the simulator to end: its status, -1 when killed
  // by a signal, -2 on time-out (it is then killed).
  int WaitExit(int timeoutMs);

 private:
  std::unique_ptr<Subprocess> mProcess;
  std::string mStartLine;
  std::string mPortText;
  std::string mSentPath, mCommandsPath;
};
