#pragma once
// A test's own link to a running pelox5-sim (see support/SimProcess.h): connects
// over TCP or opens its pseudo-terminal, and reads replies up to a marker. Every
// read waits on data with a deadline, never on a sleep.

#include <string>
#include <vector>

#include "support/Subprocess.h"

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
