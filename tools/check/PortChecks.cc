#include "PortChecks.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

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

std::string UserName() {
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) return pw->pw_name;
  return std::to_string(::getuid());
}

std::string GroupName(gid_t gid) {
  if (const group* gr = ::getgrgid(gid); gr && gr->gr_name) return gr->gr_name;
  return std::to_string(gid);
}

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

void CheckSerial(CheckList& list, Site& site) {
  const std::string& port = site.controller.portName;
  struct stat st {};
  if (::stat(port.c_str(), &st) != 0) {
    const std::string present = StableNames();
    list.Fail("serial device", port + " does not exist (" + std::strerror(errno) + ")",
              present.empty() ? "plug the adapter in, or set \"Port\" to the device it uses"
                              : "plug the adapter in, or set \"Port\" to one of: " + present);
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
    const std::string user = UserName();
    const std::string groupName = GroupName(st.st_gid);
    std::string fix = "sudo usermod -aG " + groupName + " " + user + ", then log in again";
    if (ListedInGroup(user, st.st_gid))
      fix = "log in again (or run: newgrp " + groupName + "): " + user + " was added to group " +
            groupName + " after this session began";
    list.Fail("serial device",
              "account " + user + " may not open " + port + ": it belongs to group '" + groupName +
                  "', which this account is not in",
              fix);
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

}  // namespace

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
