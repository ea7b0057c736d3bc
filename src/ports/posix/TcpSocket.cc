#include "ports/posix/TcpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <optional>

#include "base/Clock.h"
#include "base/DeadlinePoll.h"
#include "ports/PortSourceUtils.h"

namespace PortSourceUtils::Posix {
namespace {

// Dotted decimal IPv4 of four numbers 0..255, in network byte order.
std::optional<uint32_t> ParseAddress(const std::string& text) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
    uint32_t number = 0;
    size_t start = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      number = number * 10 + static_cast<uint32_t>(text[i] - '0');
      if (number > 255) return std::nullopt;
    }
    if (i == start) return std::nullopt;
    value = value << 8 | number;
  }
  if (i != text.size()) return std::nullopt;
  return htonl(value);
}

}  // namespace

int32_t TcpSocket::Connect(const std::string& address, int32_t port, int32_t timeoutMs,
                           const std::function<void()>& turn) {
  Close();
  auto fail = [this](int err) {
    SetError(CodeFromErrno(err));
    return LastError();
  };
  std::optional<uint32_t> ip = ParseAddress(address);
  if (!ip || port < 1 || port > 65535) return fail(EINVAL);

  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fail(errno);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr.s_addr = *ip;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(errno);
    // Bounded wait for the handshake, giving pending events (a stop request) a
    // turn several times a second; the descriptor closes if one ends the wait.
    const int revents = PollUntil(fd.Get(), POLLOUT, Clock::Get().MonotonicMs() + timeoutMs, turn);
    if (revents == 0) return fail(ETIMEDOUT);
    if (revents < 0) return fail(errno);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return fail(errno);
    if (err != 0) return fail(err);
  }
  int one = 1;
  // Small commands should leave at once; a failure here only costs latency.
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Attach(std::move(fd));
  return 0;
}

bool TcpSocket::IsConnected() const {
  return IsOpen() && !(InputEnded() && Buffered() == 0) && LastError() == 0;
}

}  // namespace PortSourceUtils::Posix
