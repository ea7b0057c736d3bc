#include "ports/NetPort.h"

#include "ports/PortSourceExceptions.h"
#include "ports/PortSourceUtils.h"

namespace PortSourceUtils {
namespace {
// Longest single wait of the blocking write before it looks at the link again.
constexpr int32_t kWriteWaitMs = 100;
}  // namespace

void NetPort::Connect() {
  mSocket.Connect(mAddress, mPort, mConnectTimeoutMs, [this] { PendingEvents(); });
  if (!IsConnected()) {
    throw ConnectionException("Could not connect. LastError:" + std::to_string(LastErrorCode()));
  }
}

std::string NetPort::LookAhead() {
  std::string text = mSocket.LookAhead();
  CheckError("LookAhead failed. LastError:");
  return text;
}

std::string NetPort::Read(int32_t count) {
  std::string text = mSocket.Read(count);
  CheckError("Read failed. LastError:");
  return text;
}

std::string NetPort::ReadAll() {
  std::string text = mSocket.ReadAll();
  CheckError("Netport.ReadAll failed. LastError:");
  return text;
}

void NetPort::Write(const std::string& text) {
  if (!text.empty()) {
    mSocket.Write(text);
    // A failed send empties the queue and ends the wait; the check below reports it.
    while (mSocket.IsConnected() && mSocket.BytesLeftToSend() > 0) {
      mSocket.WaitWritable(kWriteWaitMs);
      mSocket.Poll();
      PendingEvents();
    }
  }
  CheckError("Write failed . LastError:");
}

void NetPort::Purge(int32_t ms) {
  if (ms > 0) Sleep(ms);
  mSocket.Purge();
}

void NetPort::Poll() { mSocket.Poll(); }

int32_t NetPort::LastErrorCode() {
  int32_t code = mSocket.LastError();
  return code > 0 ? -code : code;
}

int32_t NetPort::BytesLeftToSend() {
  int32_t count = mSocket.BytesLeftToSend();
  CheckError("BytesLeftToSend failed. LastError:");
  return count;
}

void NetPort::CheckError(const char* prefix) {
  int32_t code = LastErrorCode();
  if (code != 0) throw PortSourceException(prefix + std::to_string(code));
}

}  // namespace PortSourceUtils
