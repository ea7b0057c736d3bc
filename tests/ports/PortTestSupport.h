#pragma once
// Helpers shared by the serial and TCP tests: exception messages, waiting on data
// with a deadline, and blocking reads and writes on the test's side of a link.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "ports/PortSource.h"
#include "support/MessageOf.h"

namespace PortTest {

using ::MessageOf;

// Lets the port wait for data until `done` holds or two seconds pass.
inline bool WaitUntil(PortSourceUtils::PortSource& port, const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    port.WaitForData(20);
  }
  return true;
}

// Reads exactly `count` bytes from `fd`, or fewer when it ends or two seconds pass.
inline std::string ReadBytes(int fd, size_t count) {
  std::string out;
  while (out.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) break;
    char buf[4096];
    ssize_t n = read(fd, buf, std::min(sizeof buf, count - out.size()));
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

inline bool WriteBytes(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace PortTest
