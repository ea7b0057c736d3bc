#pragma once
// A serial device opened for exclusive use in raw, non-blocking mode.

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
  // TIOCEXCL so no second process can use it, and applies `settings`. An open
  // device is closed first. Returns 0, or a negative code with the device closed
  // and LastError() set (-EWOULDBLOCK when another open holds the device).
  int32_t Open(const std::string& path, const LineSettings& settings);
  // Releases the exclusive use and closes the device.
  void CloseDevice();
};

}  // namespace PortSourceUtils::Posix
