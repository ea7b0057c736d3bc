// Feeds arbitrary bytes to Configuration as deployment.cfg: loads them, reads the
// download run's items as text and Int32, saves and reloads. Anything but a false
// result or an exception of the configuration family is a fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/Configuration.h"

namespace {

const char* const kItems[] = {"Name",
                              "Status",
                              "Port",
                              "Baud",
                              "ConnectAttemptMaxTries",
                              "ConnectAttemptTimeout",
                              "Prompt",
                              "RecordRequestSize",
                              "ExtractReceivedRecordFile"};

// A folder of its own for the whole fuzzing run, removed at exit.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelox5-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    mPath = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
  }
  const std::string& Path() const { return mPath; }

 private:
  std::string mPath;
};

void ReadItems(const Configuration& config) {
  for (const char* item : kItems) {
    try {
      (void)config.GetText(item);
    } catch (const ConfigurationException&) {
    }
    try {
      (void)config.GetInt32(item);
    } catch (const ConfigurationException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFolder folder;
  {
    std::ofstream out(folder.Path() + "/deployment.cfg", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    Configuration config(FolderItem(folder.Path()), "deployment.cfg");
    if (!config.Load()) return 0;
    ReadItems(config);
    // A document that loaded must save, and read back the same.
    config.Set("Status", "Active");
    if (!config.Save()) std::abort();
    Configuration reloaded(FolderItem(folder.Path()), "deployment.cfg");
    if (!reloaded.Load()) std::abort();
    for (const char* item : kItems) {
      try {
        if (config.Get(item) != reloaded.Get(item)) std::abort();
      } catch (const ConfigurationItemNotFoundException&) {
      }
    }
  } catch (const ConfigurationException&) {
  }
  return 0;
}
