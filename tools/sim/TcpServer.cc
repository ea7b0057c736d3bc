#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "Connection.h"
#include "Server.h"

namespace {

UniqueFd Listen(int port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) ThrowErrno("socket", errno);
  int on = 1;
  if (::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    ThrowErrno("setsockopt(SO_REUSEADDR)", errno);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowErrno("cannot listen on 127.0.0.1:" + std::to_string(port), errno);
  }
  if (::listen(fd.Get(), 16) != 0) ThrowErrno("listen", errno);
  return fd;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowErrno("getsockname", errno);
  }
  return ntohs(address.sin_port);
}

// Waits for the next client; an invalid descriptor when a stop signal came first.
UniqueFd Accept(int listener, StopSignal& stop) {
  for (;;) {
    if (stop.Requested()) return UniqueFd();
    pollfd pfd{listener, POLLIN, 0};
    if (stop.Wait(&pfd, 1, -1) <= 0) continue;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) return UniqueFd(fd);
    // A client that gave up before being accepted is not our failure.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      continue;
    }
    ThrowErrno("accept", errno);
  }
}

}  // namespace

void ServeTcp(const SimOptions& options, StopSignal& stop) {
  UniqueFd listener = Listen(options.tcpPort);
  AnnounceLink("tcp 127.0.0.1:" + std::to_string(BoundPort(listener.Get())));
  AppendFile commandLog(options.logCommands);
  AppendFile sentLog(options.logSent);
  AppendFile timingLog(options.logTiming);
  Session session(options, commandLog, sentLog);
  FaultShaper shaper(options);
  for (;;) {
    UniqueFd client = Accept(listener.Get(), stop);
    if (!client.Valid()) return;
    // Small pieces (--chunk, --throttle, the prompt) go out at once.
    int on = 1;
    ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ConnectionEnd end = ServeConnection(client.Get(), true, session, shaper, stop, timingLog);
    if (end == ConnectionEnd::kStop) return;
    // Closing with unread input would reset the connection and could cost the
    // peer the last reply: end our side first and take what is already here.
    ::shutdown(client.Get(), SHUT_WR);
    char discard[4096];
    for (int i = 0; i < 64 && ::recv(client.Get(), discard, sizeof discard, 0) > 0; ++i) {
    }
    if (options.once) return;
  }
}

void AnnounceLink(const std::string& line) {
  if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) {
    ThrowErrno("cannot write to standard output", errno);
  }
}
