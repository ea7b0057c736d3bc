#include "base/SpecialFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace SpecialFolders {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Value of KEY="..." in a user-dirs.dirs file, with $HOME expanded; "" if absent.
std::string UserDirsEntry(const FolderItem& file, const std::string& key, const std::string& home) {
  std::ifstream in(file.NativePath());
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    return value;
  }
  return "";
}

}  // namespace

FolderItem Home() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return FolderItem(home.empty() ? "/" : home);
}

FolderItem ApplicationData() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (!config.empty() && config.front() == '/') return FolderItem(config);
  return Home().Child(".config");
}

FolderItem Documents() {
  std::string documents = Env("XDG_DOCUMENTS_DIR");
  if (!documents.empty()) return FolderItem(documents);
  std::string home = Home().NativePath();
  std::vector<FolderItem> candidates{ApplicationData().Child("user-dirs.dirs"),
                                     Home().Child(".config").Child("user-dirs.dirs")};
  for (const FolderItem& file : candidates) {
    std::string entry = UserDirsEntry(file, "XDG_DOCUMENTS_DIR", home);
    if (!entry.empty()) return FolderItem(entry);
  }
  return Home().Child("Documents");
}

FolderItem CurrentWorkingDirectory() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return FolderItem("/");
    buffer.resize(buffer.size() * 2);
  }
  return FolderItem(buffer.data());
}

}  // namespace SpecialFolders
