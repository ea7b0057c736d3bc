#pragma once
// NetPort: the TCP client backend of PortSource. Adds to the platform socket error
// checks with the system's messages, a blocking write and a purge with an
// optional wait. Address and port are set before Connect.

#include <cstdint>
#include <string>

#include "ports/PortBackend.h"
#include "ports/posix/TcpSocket.h"

namespace PortSourceUtils {

class NetPort : public PortBackend {
 public:
  // Dotted address as the port text gave it (numbers not range-checked here; an
  // address the host cannot use fails in Connect).
  void SetAddress(const std::string& address) { mAddress = address; }
  void SetPort(int32_t port) { mPort = port; }
  const std::string& Address() const { return mAddress; }
  int32_t Port() const { return mPort; }
  // Upper bound of one Connect; an address that never answers fails after it.
  void SetConnectTimeoutMs(int32_t ms) override { mConnectTimeoutMs = ms; }

  // Connects, waiting at most the connect time-out; ConnectionException on failure.
  void Connect() override;
  // False once the peer has closed and its last bytes have been read, or after an error.
  bool IsConnected() override { return mSocket.IsConnected(); }
  std::string LookAhead() override;
  std::string Read(int32_t count) override;
  std::string ReadAll() override;
  // Hands the text over, then waits while connected until the send queue is empty.
  void Write(const std::string& text) override;
  // Waits `ms` when positive, then discards everything received so far.
  void Purge(int32_t ms) override;
  void Poll() override;
  int32_t LastErrorCode() override;
  int32_t BytesLeftToSend();
  void Cancel() { mAbort = true; }
  void Close() override { mSocket.Close(); }
  void WaitForData(int32_t ms, const WaitCue& cue) override { mSocket.WaitReadable(ms, cue); }

 private:
  void CheckError(const char* prefix);

  std::string mAddress;
  int32_t mPort = 0;
  int32_t mConnectTimeoutMs = 3000;
  Posix::TcpSocket mSocket;
  bool mAbort = false;
};

}  // namespace PortSourceUtils
