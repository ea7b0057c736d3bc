#include "ports/posix/SerialDeviceList.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace PortSourceUtils::Posix {
namespace fs = std::filesystem;
namespace {

std::vector<std::string> SortedEntries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::vector<SerialDeviceEntry> ListSerialDevices() {
  std::vector<SerialDeviceEntry> devices;
  std::error_code ec;
  for (const std::string& name : SortedEntries("/sys/class/tty")) {
    if (!fs::exists(fs::path("/sys/class/tty") / name / "device", ec)) continue;
    std::string path = "/dev/" + name;
    devices.push_back({path, path});
  }
  size_t real = devices.size();
  for (const char* folder : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
    for (const std::string& name : SortedEntries(folder)) {
      std::string alias = std::string(folder) + "/" + name;
      fs::path target = fs::canonical(alias, ec);
      if (ec) continue;
      bool known = std::any_of(devices.begin(), devices.begin() + static_cast<long>(real),
                               [&](const SerialDeviceEntry& d) { return d.path == target; });
      if (known) devices.push_back({alias, target.string()});
    }
  }
  return devices;
}

bool IsVirtualSerialDevice(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
#ifdef __linux__
  // Unix98 pty slaves use majors 136..143.
  unsigned int major = ::major(st.st_rdev);
  return major >= 136 && major <= 143;
#else
  return true;
#endif
}

}  // namespace PortSourceUtils::Posix
