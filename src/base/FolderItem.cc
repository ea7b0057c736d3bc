#include "base/FolderItem.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "base/SysError.h"

FolderItem::FolderItem(std::string nativePath) : mPath(std::move(nativePath)) {
  // Keep "/" itself, drop any other trailing slashes so Name() and Parent() work.
  while (mPath.size() > 1 && mPath.back() == '/') mPath.pop_back();
}

int32_t FolderItem::CodeFromErrno(int err) {
  if (err == EACCES || err == EPERM || err == EROFS) return kPermissionDenied;
  return ::CodeFromErrno(err);
}

bool FolderItem::Exists() const {
  struct stat st {};
  return ::stat(mPath.c_str(), &st) == 0;
}

bool FolderItem::IsFolder() const {
  struct stat st {};
  return ::stat(mPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderItem::IsReadable() const { return ::access(mPath.c_str(), R_OK) == 0; }

bool FolderItem::IsWriteable() const { return ::access(mPath.c_str(), W_OK) == 0; }

std::string FolderItem::Name() const {
  if (mPath == "/") return "";
  auto slash = mPath.rfind('/');
  return slash == std::string::npos ? mPath : mPath.substr(slash + 1);
}

std::optional<FolderItem> FolderItem::Parent() const {
  if (mPath == "/" || mPath.empty()) return std::nullopt;
  auto slash = mPath.rfind('/');
  if (slash == std::string::npos) return FolderItem(".");
  if (slash == 0) return FolderItem("/");
  return FolderItem(mPath.substr(0, slash));
}

FolderItem FolderItem::Child(const std::string& name) const {
  if (mPath.empty() || mPath.back() == '/') return FolderItem(mPath + name);
  return FolderItem(mPath + "/" + name);
}

bool FolderItem::CreateAsFolder() {
  // Never writable by others, whatever the umask; the group bits follow it.
  if (::mkdir(mPath.c_str(), 0775) == 0) {
    mLastErrorCode = 0;
    return true;
  }
  mLastErrorCode = CodeFromErrno(errno);
  return false;
}

std::vector<FolderItem> FolderItem::Children() {
  std::vector<FolderItem> items;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(mPath.c_str()), ::closedir);
  if (!dir) {
    mLastErrorCode = CodeFromErrno(errno);
    return items;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") items.push_back(Child(name));
    errno = 0;
  }
  mLastErrorCode = CodeFromErrno(errno);
  return items;
}
