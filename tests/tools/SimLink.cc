#include "SimLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for fd to become readable; false on time-out.
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    int rc = ::poll(&pfd, 1, RemainingMs(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) throw std::runtime_error("poll failed");
  }
}

}  // namespace

SimLink SimLink::Tcp(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
  return SimLink(fd);
}

SimLink SimLink::Pty(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios raw{};
  ::tcgetattr(fd, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  return SimLink(fd);
}

SimLink::SimLink(SimLink&& other) noexcept : mFd(other.mFd) { other.mFd = -1; }

SimLink::~SimLink() {
  if (mFd >= 0) ::close(mFd);
}

void SimLink::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(mFd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR) throw std::runtime_error("write failed");
    if (n > 0) done += static_cast<size_t>(n);
  }
}

std::string SimLink::ReadUntil(const std::string& marker, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  char buffer[4096];
  while (text.size() < marker.size() ||
         text.compare(text.size() - marker.size(), marker.size(), marker) != 0) {
    if (!WaitReadable(mFd, deadline)) {
      throw std::runtime_error("timed out waiting for \"" + marker + "\" after: " + text);
    }
    ssize_t n = ::read(mFd, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("stream ended before \"" + marker + "\": " + text);
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::string SimLink::ReadAtLeast(size_t count, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  char buffer[65536];
  while (text.size() < count) {
    if (!WaitReadable(mFd, deadline)) throw std::runtime_error("timed out reading");
    ssize_t n = ::read(mFd, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("stream ended after " + std::to_string(text.size()));
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::string SimLink::ReadToEnd(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  char buffer[65536];
  for (;;) {
    if (!WaitReadable(mFd, deadline)) throw std::runtime_error("timed out waiting for the end");
    ssize_t n = ::read(mFd, buffer, sizeof buffer);
    if (n <= 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}
