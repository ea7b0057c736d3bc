#pragma once
// Runs pelox5-sim as a child process for one test and talks to it: reads the
// start line, connects over TCP or opens its pseudo-terminal, and reads replies
// up to a marker. Every read waits on data with a deadline, never on a sleep.

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "support/Subprocess.h"

class LiveSim {
 public:
  // Starts the simulator with `args`; fails the test (via exceptions caught by
  // the fixture) when it does not print its start line.
  explicit LiveSim(const std::vector<std::string>& args);
  // Sends SIGTERM when still running and reaps the child.
  ~LiveSim();
  LiveSim(const LiveSim&) = delete;
  LiveSim& operator=(const LiveSim&) = delete;

  const std::string& StartLine() const { return mStartLine; }
  int Port() const;             // from "tcp 127.0.0.1:PORT"
  std::string PtyPath() const;  // from "pty PATH"
  // Sends SIGTERM and returns the exit status (-1 when killed by a signal).
  int Terminate();
  // Waits up to timeoutMs for the process to exit; its status or -2 on time-out.
  int WaitExit(int timeoutMs);

 private:
  TempDir mDir;  // holds the child's standard output and error
  std::unique_ptr<Subprocess> mProcess;
  std::string mStartLine;
};

// One open link to the simulator (socket or terminal), closed on destruction.
class SimLink {
 public:
  static SimLink Tcp(int port);
  // Opens the terminal in raw mode.
  static SimLink Pty(const std::string& path);
  SimLink(SimLink&& other) noexcept;
  ~SimLink();

  void Send(const std::string& bytes);
  // Reads until the received text ends with `marker`; everything read so far
  // is returned. Throws std::runtime_error on time-out or end of stream.
  std::string ReadUntil(const std::string& marker, int timeoutMs = 5000);
  // Reads at least `count` bytes; throws on time-out or end of stream.
  std::string ReadAtLeast(size_t count, int timeoutMs = 5000);
  // Reads until the peer closes; throws on time-out.
  std::string ReadToEnd(int timeoutMs = 5000);

 private:
  explicit SimLink(int fd) : mFd(fd) {}
  int mFd;
};

// The path of the built simulator.
std::string SimPath();
