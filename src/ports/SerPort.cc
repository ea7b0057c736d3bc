#include "ports/SerPort.h"

#include "ports/PortSourceExceptions.h"
#include "ports/PortSourceUtils.h"

namespace PortSourceUtils {
namespace {
// Longest single wait of the blocking write before it looks at the flag again.
constexpr int32_t kWriteWaitMs = 100;
}  // namespace

void SerPort::Connect() {
  if (mDevicePath.empty()) {
    mConnected = false;
    throw InvalidPortException("SerPort.Connect(): Invalid Serial Port. LastError:" +
                               std::to_string(LastErrorCode()));
  }
  if (mDevice.Open(mDevicePath, mSettings) == 0) {
    mConnected = true;
    return;
  }
  mConnected = false;
  // Settings the device refuses will not take on a second attempt either.
  if (!mDevice.SettingsProblem().empty()) {
    throw InvalidPortException("SerPort.Connect(): " + mDevicePath + " did not take the line " +
                               "settings: " + mDevice.SettingsProblem());
  }
  throw ConnectionException("SerPort.Connect(): Could not connect. LastError:" +
                            std::to_string(LastErrorCode()));
}

std::string SerPort::LookAhead() { return mDevice.LookAhead(); }

std::string SerPort::Read(int32_t count) {
  std::string text = mDevice.Read(count);
  CheckError("Read failed. LastError:");
  return text;
}

std::string SerPort::ReadAll() {
  std::string text = mDevice.ReadAll();
  CheckError("Serport.ReadAll failed  LastError:");
  return text;
}

void SerPort::Write(const std::string& text) {
  if (!text.empty()) {
    mDevice.Write(text);
    while (mConnected && mDevice.BytesLeftToSend() > 0) {
      mDevice.WaitWritable(kWriteWaitMs);
      mDevice.Poll();
      PendingEvents();
    }
  }
  CheckError("Write failed . LastError:");
}

void SerPort::Purge(int32_t ms) {
  if (ms >= 1) Sleep(ms);
  mDevice.Purge();
  CheckError("Serport.ReadAll failed  LastError:");
}

void SerPort::Poll() { mDevice.Poll(); }

int32_t SerPort::LastErrorCode() {
  int32_t code = mDevice.LastError();
  return code > 0 ? -code : code;
}

int32_t SerPort::BytesLeftToSend() { return mDevice.BytesLeftToSend(); }

void SerPort::Close() {
  mConnected = false;
  mDevice.CloseDevice();
}

void SerPort::WaitForData(int32_t ms, const WaitCue& cue) { mDevice.WaitReadable(ms, cue); }

void SerPort::CheckError(const char* prefix) {
  int32_t code = LastErrorCode();
  if (code != 0) throw PortSourceException(prefix + std::to_string(code));
}

}  // namespace PortSourceUtils
