#pragma once
// The host's serial devices as the OS lists them.

#include <string>
#include <vector>

namespace PortSourceUtils::Posix {

struct SerialDeviceEntry {
  std::string name;  // what an operator writes: "/dev/ttyUSB0", "/dev/serial/by-id/..."
  std::string path;  // the device node to open
};

// The terminals of /sys/class/tty that have a `device` link (real serial ports),
// as /dev paths in name order, followed by their stable aliases under
// /dev/serial/by-id and /dev/serial/by-path. Empty when nothing can be listed.
std::vector<SerialDeviceEntry> ListSerialDevices();

// True when `path` names an existing pseudo-terminal slave (directly or through
// a link): a virtual serial port such as socat or a test creates. Nothing is opened.
bool IsVirtualSerialDevice(const std::string& path);

}  // namespace PortSourceUtils::Posix
