#pragma once
// A serial device opened for exclusive use in raw, non-blocking mode. The
// device's own settings are kept when it is opened and put back when it closes,
// so the line is left as it was found.

#include <termios.h>

#include <cstdint>
#include <string>

#include "ports/posix/FdStream.h"
#include "ports/posix/TermiosSettings.h"

namespace PortSourceUtils::Posix {

class SerialDevice : public FdStream {
 public:
  SerialDevice() : FdStream(Kind::kTerminal) {}
  ~SerialDevice() override;

  // Opens `path` (O_NOCTTY, O_NONBLOCK, O_CLOEXEC), takes a non-blocking flock and
  // TIOCEXCL so no second process can use it, applies `settings` and reads them
  // back. An open device is closed first. Returns 0, or a negative code with the
  // device closed (its settings restored) and LastError() set (-EWOULDBLOCK when
  // another open holds the device). When the device did not take the speed or
  // the character size, SettingsProblem() says what and the code is -EINVAL.
  int32_t Open(const std::string& path, const SerialSettings& settings);
  // Puts the settings found at Open back (after the bytes handed to the OS have
  // gone out, waiting half a second at most), releases the exclusive use and
  // closes the device.
  void CloseDevice();

  // Empty, or what the last Open found not taken, e.g. "speed 7200 bit/s reads
  // back as 38400 bit/s".
  const std::string& SettingsProblem() const { return mSettingsProblem; }

 private:
  // Compares what the device holds with what was asked; empty when all took.
  std::string CheckSettings(int fd, const SerialSettings& settings);
  void RestoreSettings(int fd);

  termios mOriginal{};
  int32_t mOriginalRate = 0;
  bool mHaveOriginal = false;
  std::string mSettingsProblem;
};

}  // namespace PortSourceUtils::Posix
