// Feeds arbitrary bytes to Prefs as the preferences file: loads them, reads the
// application's items as text and Int32, fills in defaults and saves. Prefs
// reports trouble as false or a preferences exception; anything else is a fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/PreferencesModule.h"

namespace {

const char* const kItems[] = {"ProjectRootPath", "PathDelimiter", "ProjectRootFolder", "LogLevel",
                              "DeploymentCfgName"};

// A home of its own for the whole fuzzing run, removed at exit.
class ScratchHome {
 public:
  ScratchHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelox5-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    mPath = pattern;
    ::setenv("HOME", mPath.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (mPath + "/config").c_str(), 1);
    std::filesystem::create_directories(mPath + "/config/Pelox5Apps");
  }
  ~ScratchHome() {
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
  }
  std::string PrefsFile() const { return mPath + "/config/Pelox5Apps/Pelox5Apps.pref"; }

 private:
  std::string mPath;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchHome home;
  {
    std::ofstream out(home.PrefsFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  PreferencesModule::Prefs prefs("Pelox5Apps");
  bool loaded = prefs.Load();
  for (const char* item : kItems) {
    try {
      (void)prefs.GetText(item);
    } catch (const PreferencesModule::PreferencesException&) {
      prefs.Set(item, "default");
    }
    try {
      (void)prefs.GetInt32(item);
    } catch (const PreferencesModule::PreferencesException&) {
    }
  }
  // Whatever was read can be written back: the parser only accepts valid UTF-8.
  if (!prefs.Save()) std::abort();
  if (loaded) {
    PreferencesModule::Prefs reloaded("Pelox5Apps");
    if (!reloaded.Load()) std::abort();
  }
  return 0;
}
