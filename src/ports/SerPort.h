#pragma once
// SerPort: the serial backend of PortSource. Adds to the platform serial device a
// connected flag, error checks with the system's messages, a blocking write and a
// purge with an optional wait. Device and line settings are assigned before Connect.

#include <cstdint>
#include <string>

#include "ports/PortBackend.h"
#include "ports/SerialSettings.h"
#include "ports/posix/SerialDevice.h"

namespace PortSourceUtils {

class SerPort : public PortBackend {
 public:
  // The device node to open; empty means none assigned.
  void SetDevice(const std::string& path) { mDevicePath = path; }
  const std::string& Device() const { return mDevicePath; }
  void SetSettings(const SerialSettings& settings) { mSettings = settings; }
  const SerialSettings& Settings() const { return mSettings; }

  // Opens the device and applies the line settings. InvalidPortException when
  // none is assigned or the device did not take the speed or character size
  // (the message names the device and the setting), ConnectionException when it
  // cannot be opened (busy, missing, refused). Close puts the device's own
  // settings back.
  void Connect() override;
  // The connected flag: what Connect and SetConnected recorded, not the line's state.
  bool IsConnected() override { return mConnected; }
  void SetConnected(bool connected) { mConnected = connected; }
  // No error check here; PortSource adds one.
  std::string LookAhead() override;
  std::string Read(int32_t count) override;
  std::string ReadAll() override;
  // Hands the text over, then waits while connected until the send queue is empty.
  void Write(const std::string& text) override;
  // Waits `ms` when 1 or more, then drops everything received, what the OS still
  // holds included. A device error raises as ReadAll does.
  void Purge(int32_t ms) override;
  void Poll() override;
  int32_t LastErrorCode() override;
  int32_t BytesLeftToSend();
  // Clears the connected flag, then closes the device.
  void Close() override;
  void WaitForData(int32_t ms, const WaitCue& cue) override;

 private:
  void CheckError(const char* prefix);

  std::string mDevicePath;
  SerialSettings mSettings;
  Posix::SerialDevice mDevice;
  bool mConnected = false;
};

}  // namespace PortSourceUtils
