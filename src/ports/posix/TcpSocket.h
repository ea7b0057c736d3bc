#pragma once
// A TCP client socket: non-blocking, TCP_NODELAY, sends without SIGPIPE.

#include <cstdint>
#include <functional>
#include <string>

#include "ports/posix/FdStream.h"

namespace PortSourceUtils::Posix {

class TcpSocket : public FdStream {
 public:
  TcpSocket() : FdStream(Kind::kSocket) {}

  // Connects to a dotted IPv4 address; each of its four numbers must be 0..255
  // (leading zeros allowed, read as decimal), the port 1..65535, else -EINVAL.
  // Waits at most `timeoutMs` for the connection (-ETIMEDOUT after that).
  // Returns 0 or a negative code; on failure the socket is closed and
  // LastError() holds the code.
  int32_t Connect(const std::string& address, int32_t port, int32_t timeoutMs,
                  const std::function<void()>& turn = {});

  // Open, and not closed by the peer, or closed with received bytes still unread.
  bool IsConnected() const;
};

}  // namespace PortSourceUtils::Posix
