#include "PortChecks.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/AccountNames.h"
#include "base/AsciiText.h"
#include "base/Clock.h"
#include "controller/Controller.h"
#include "ports/PortSource.h"
#include "ports/PortSourceExceptions.h"
#include "ports/posix/SerialDeviceList.h"

namespace SiteCheck {

namespace {

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string UserName() { return AccountNames::UserName(::getuid()); }

using AccountNames::GroupName;

// Whether the group database lists `user` as a member of `gid` (a membership
// this login session may not have yet).
bool ListedInGroup(const std::string& user, gid_t gid) {
  const group* gr = ::getgrgid(gid);
  if (gr == nullptr || gr->gr_mem == nullptr) return false;
  for (char** member = gr->gr_mem; *member != nullptr; ++member)
    if (user == *member) return true;
  return false;
}

std::string ProcessName(const std::string& pid) {
  std::ifstream comm("/proc/" + pid + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "a process whose name is not shown" : name;
}

std::string StableNames() {
  std::string names;
  for (const auto& entry : PortSourceUtils::Posix::ListSerialDevices())
    if (entry.name.rfind("/dev/serial/by-id/", 0) == 0)
      names += (names.empty() ? "" : ", ") + entry.name;
  return names;
}

// The /dev/serial/by-id name of the device `path` resolves to; "" when none.
std::string StableNameOf(const std::string& path) {
  const std::string device = RealPath(path);
  for (const auto& entry : PortSourceUtils::Posix::ListSerialDevices())
    if (entry.name.rfind("/dev/serial/by-id/", 0) == 0 && RealPath(entry.path) == device)
      return entry.name;
  return "";
}

// The device and this account (real IDs, as access() and open() judge them).
DeviceAccess AccessOf(const std::string& port, const struct stat& st) {
  DeviceAccess a;
  a.device = port;
  const std::string real = RealPath(port);
  a.kernelName = real.substr(real.rfind('/') + 1);
  a.mode = st.st_mode;
  a.owner = st.st_uid;
  a.group = st.st_gid;
  a.groupName = GroupName(st.st_gid);
  a.account = ::getuid();
  a.accountName = UserName();
  a.accountGroups.push_back(::getgid());
  const int count = ::getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    if (got > 0)
      a.accountGroups.insert(a.accountGroups.end(), groups.begin(), groups.begin() + got);
  }
  a.listedInGroup = ListedInGroup(a.accountName, st.st_gid);
  if (const group* gr = ::getgrnam(a.serialGroupName.c_str())) a.serialGroup = gr->gr_gid;
  return a;
}

void CheckSerial(CheckList& list, Site& site) {
  const std::string& port = site.controller.portName;
  struct stat st {};
  if (::stat(port.c_str(), &st) != 0) {
    const std::string reason = std::strerror(errno);
    const std::string present = StableNames();
    const PortTextReading reading = ReadPortText(port);
    std::string fix = present.empty()
                          ? "plug the adapter in, or set \"Port\" to the device it uses"
                          : "plug the adapter in, or set \"Port\" to one of: " + present;
    if (!reading.meant.empty())
      fix = "set \"Port\": \"" + reading.meant + "\" for the network port, or " + fix;
    list.Fail(
        "serial device",
        port + " does not exist (" + reason + ")" + (reading.why.empty() ? "" : ": " + reading.why),
        fix);
    return;
  }
  if (!S_ISCHR(st.st_mode)) {
    list.Fail("serial device", port + " is not a device", "set \"Port\" to the serial device");
    return;
  }
  // A terminal the run accepts: listed by the host as a serial port, or a
  // pseudo-terminal. Told without opening the line, since an open can change
  // its modem lines.
  try {
    PortSourceUtils::PortSource source(port, site.controller.serial);
  } catch (const PortSourceUtils::PortSourceException& e) {
    list.Fail("serial device", e.Message, "set \"Port\" to a serial device of this host");
    return;
  }
  if (::access(port.c_str(), R_OK | W_OK) != 0) {
    const int err = errno;
    const DeviceAccess access = AccessOf(port, st);
    const DeviceAccessVerdict verdict = JudgeDeviceAccess(access);
    if (verdict.allowed)  // an ACL, a read-only file system, a security module
      list.Fail("serial device",
                "account " + access.accountName + " may not open " + port + " (" +
                    std::strerror(err) + ") although its mode " + ModeText(st.st_mode) +
                    " allows it",
                "ask the administrator to give account " + access.accountName +
                    " read and write access to " + port);
    else
      list.Fail("serial device", verdict.cause, verdict.fix);
    return;
  }
  const std::string holder = LockHolder(port);
  if (!holder.empty()) {
    list.Fail("serial device", port + " is in use by " + holder,
              "wait until it has finished, or stop it");
    return;
  }
  site.portOk = true;
  list.Ok("serial device", port + ": a terminal this account may open, not in use");

  if (port.rfind("/dev/serial/", 0) == 0) {
    list.Ok("stable device name", port);
  } else if (const std::string stable = StableNameOf(port); !stable.empty()) {
    list.Warn("stable device name",
              port +
                  " may get another name when the adapter is plugged in again; its stable "
                  "name is " +
                  stable,
              "set \"Port\": \"" + stable + "\"");
  } else {
    list.Ok("stable device name", "none under /dev/serial/by-id (not a USB adapter)");
  }
}

void CheckTcp(CheckList& list, Site& site) {
  try {
    PortSourceUtils::PortSource source(site.controller.portName);
  } catch (const PortSourceUtils::PortSourceException& e) {
    list.Fail("TCP endpoint", e.Message,
              "set \"Port\" to a.b.c.d:port (numbers 0 to 255, port 1024 to 65535)");
    return;
  }
  // One attempt of the run's own port acquisition, with its time-out.
  ControllerSettings once = site.controller;
  once.connectAttemptMaxTries = 1;
  Controller controller(site.clock, once);
  try {
    controller.GetPort();
  } catch (const PortSourceUtils::PortSourceException&) {
    const int32_t code = controller.mPort ? controller.mPort->LastErrorCode() : 0;
    list.Fail("TCP connection",
              "no connection to " + site.controller.portName + " within ConnectAttemptTimeout (" +
                  std::to_string(site.controller.connectAttemptTimeout) +
                  " s): " + (code < 0 ? std::strerror(-code) : "not connected"),
              "check that the bridge at " + site.controller.portName +
                  " is running and reachable (no firewall in between)");
    return;
  }
  controller.mPort->Close();
  site.portOk = true;
  list.Ok("TCP connection", site.controller.portName + " accepts a connection");
}

bool ReadWrite(mode_t mode, int shift) { return ((mode >> shift) & 06) == 06; }

bool Contains(const std::vector<gid_t>& groups, gid_t gid) {
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// A rule that gives the device to `group` with read and write for it, kept
// over a re-plug, and the change that helps until then.
std::string UdevRule(const DeviceAccess& a, const std::string& group, const std::string& now) {
  return std::string("add a udev rule to ") + kUdevRuleFile + ": KERNEL==\"" + a.kernelName +
         "\", GROUP=\"" + group +
         "\", MODE=\"0660\" and run sudo udevadm trigger (until then: " + now + ")";
}

}  // namespace

PortTextReading ReadPortText(const std::string& text) {
  PortTextReading reading;
  if (!text.empty() && text[0] == '/') return reading;
  const std::string rule =
      "it is not four numbers and a port (a.b.c.d:port, e.g. 127.0.0.1:4001), so it was taken "
      "as the path of a serial device";
  if (text.size() > 3 && AsciiText::Lower(text.substr(0, 3)) == "com" &&
      text.find_first_not_of("0123456789", 3) == std::string::npos) {
    reading.why = rule + "; " + text +
                  " is a port name of another operating system: here a serial device is a "
                  "path such as /dev/ttyUSB0";
    return reading;
  }
  reading.why = rule + " (device paths begin with /dev/)";
  // HOST:PORT or HOST PORT, HOST four numbers or localhost.
  const size_t split = text.find_last_of(": ");
  if (split == std::string::npos || split == 0 || split + 1 >= text.size()) return reading;
  const std::string portText = text.substr(split + 1);
  std::string host = text.substr(0, text.find_last_not_of(": ", split) + 1);
  if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5)
    return reading;
  const long port = std::stol(portText);
  if (port < 1 || port > 65535) return reading;
  if (AsciiText::Lower(host) == "localhost") host = "127.0.0.1";
  if (host.find_first_not_of("0123456789.") != std::string::npos) {
    reading.why += "; a host name is not looked up: write its address";
    return reading;
  }
  int numbers = 0;
  for (size_t at = 0; at <= host.size(); ++numbers) {
    const size_t dot = std::min(host.find('.', at), host.size());
    const std::string number = host.substr(at, dot - at);
    if (number.empty() || number.size() > 3 ||
        number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) > 255)
      return reading;
    at = dot + 1;
  }
  if (numbers != 4) return reading;
  reading.meant = host + ":" + portText;
  return reading;
}

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode)    ? "c"
                     : S_ISBLK(mode)  ? "b"
                     : S_ISDIR(mode)  ? "d"
                     : S_ISFIFO(mode) ? "p"
                     : S_ISSOCK(mode) ? "s"
                     : S_ISLNK(mode)  ? "l"
                                      : "-";
  for (int bit = 8; bit >= 0; --bit) text += (mode & (1u << bit)) ? "rwx"[(8 - bit) % 3] : '-';
  return text;
}

DeviceAccessVerdict JudgeDeviceAccess(const DeviceAccess& a) {
  const std::string& user = a.accountName;
  const std::string& device = a.device;
  const std::string mode = ModeText(a.mode);
  const std::string group = "'" + a.groupName + "'";
  if (a.account == 0) return {true, "", ""};
  // The owner's bits alone count for the owner, the group's for its members.
  if (a.account == a.owner) {
    if (ReadWrite(a.mode, 6)) return {true, "", ""};
    return {false,
            "account " + user + " owns " + device + ", but its mode " + mode +
                " gives the owner no read and write access",
            UdevRule(a, a.groupName, "sudo chmod u+rw " + device)};
  }
  if (Contains(a.accountGroups, a.group)) {
    if (ReadWrite(a.mode, 3)) return {true, "", ""};
    return {false,
            "account " + user + " is in group " + group + " of " + device + ", but its mode " +
                mode + " gives that group no read and write access",
            UdevRule(a, a.groupName, "sudo chmod g+rw " + device)};
  }
  if (ReadWrite(a.mode, 0)) return {true, "", ""};
  const std::string join = "sudo usermod -aG ";
  if (a.group == 0) {
    // Joining root would hand the account the whole host: the device gets the
    // serial group instead.
    const bool inSerial = a.serialGroup && Contains(a.accountGroups, *a.serialGroup);
    return {
        false,
        "account " + user + " may not open " + device + ": it belongs to group 'root' (mode " +
            mode + "), which no account should join for it",
        UdevRule(a, a.serialGroupName,
                 "sudo chgrp " + a.serialGroupName + " " + device + "; sudo chmod g+rw " + device) +
            (inSerial ? ""
                      : ", and " + join + a.serialGroupName + " " + user + ", then log in again")};
  }
  if (!ReadWrite(a.mode, 3))
    return {false,
            "account " + user + " may not open " + device + ": its mode " + mode +
                " gives its group " + group +
                " no read and write access, and this account "
                "is not in that group",
            UdevRule(a, a.groupName, "sudo chmod g+rw " + device) + ", and " + join + a.groupName +
                " " + user + ", then log in again"};
  if (a.listedInGroup)
    return {false,
            "account " + user + " may not open " + device + ": it belongs to group " + group +
                ", which this login session is not in yet",
            "log in again (or run: newgrp " + a.groupName + "): " + user + " was added to group " +
                a.groupName + " after this session began"};
  return {false,
          "account " + user + " may not open " + device + ": it belongs to group " + group +
              ", which this account is not in",
          join + a.groupName + " " + user + ", then log in again"};
}

std::string LockHolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  const std::string self = std::to_string(::getpid());
  while (std::getline(locks, line)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; waiters carry "->".
    if (line.find("->") != std::string::npos) continue;
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, where;
    if (!(fields >> number >> kind >> mode >> access >> pid >> where)) continue;
    if (where == id && pid != self) return ProcessName(pid) + " (PID " + pid + ")";
  }
  return "";
}

void CheckPort(CheckList& list, Site& site) {
  if (!site.portSettingsOk) return;  // the settings lines said why
  if (site.serial)
    CheckSerial(list, site);
  else
    CheckTcp(list, site);
}

}  // namespace SiteCheck
