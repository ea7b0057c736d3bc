#pragma once
// The port a deployment names, checked without talking to the controller: for
// a serial device that it exists, is a terminal this account may open, has a
// stable /dev/serial/by-id name and is not held by another process; for a TCP
// endpoint that it is in range and a connection opens in time.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "CheckLine.h"
#include "SiteChecks.h"

namespace SiteCheck {

void CheckPort(CheckList& list, Site& site);

// What keeps an account from opening a device, told from the device's mode,
// owner and group and the account's identity alone.
struct DeviceAccess {
  std::string device;      // as named in the cfg
  std::string kernelName;  // its name under /dev ("ttyUSB0"), for a udev rule
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  std::string groupName;
  uid_t account = 0;
  std::string accountName;
  std::vector<gid_t> accountGroups;  // those of this login session
  // The group database lists the account in `group`: a membership that takes
  // effect at the next login.
  bool listedInGroup = false;
  // The group that serial devices are usually given ("dialout"), when the host
  // has one, and whether the account is in it.
  std::optional<gid_t> serialGroup;
  std::string serialGroupName = "dialout";
};

struct DeviceAccessVerdict {
  bool allowed = false;  // the mode bits let the account read and write
  std::string cause;     // when not allowed: why, in plain words
  std::string fix;
};

// The rule file a fix for a device's mode or group names.
inline constexpr const char* kUdevRuleFile = "/etc/udev/rules.d/99-pelox5-serial.rules";

// Never suggests joining the group root: a device of group root is to be given
// the serial group by a udev rule instead.
DeviceAccessVerdict JudgeDeviceAccess(const DeviceAccess& access);

// Why a port text that names no existing device was taken as a device path,
// and the network port it probably means.
struct PortTextReading {
  std::string why;    // "" for a text that is plainly a path
  std::string meant;  // "a.b.c.d:port" when the text names one another way
};
PortTextReading ReadPortText(const std::string& text);

// "crw-rw----" for a character device of mode 0660.
std::string ModeText(mode_t mode);

// The process holding a lock on the file `path` ("pelox5-download (PID 123)"),
// from /proc/locks; "" when none does or the system does not tell.
std::string LockHolder(const std::string& path);

}  // namespace SiteCheck
