#include "base/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/FolderItem.h"
#include "base/UniqueFd.h"
#include "base/WriteAll.h"

namespace AtomicFile {

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

// The file that `path` finally names: symbolic links at the last component
// are followed (a relative target is taken from the link's folder), so the
// file behind a link is replaced and the link stays. ELOOP after 40 links.
int ResolveLinks(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return errno;
    if (n == 0) return ENOENT;
    if (static_cast<size_t>(n) >= target.size()) return ENAMETOOLONG;  // changed while read
    std::string text(target.data(), static_cast<size_t>(n));
    path = text.front() == '/' ? text : FolderOf(path) + "/" + text;
  }
  return ELOOP;
}

// Whether this account may write the existing file. Root passes every
// permission check, so for root a file without any write bit counts as
// read-only: the operator made it so on purpose.
bool MayWrite(const std::string& path, const struct stat& st) {
  if (::geteuid() == 0) return (st.st_mode & 0222) != 0;
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

int32_t FollowLinks(std::string& path) { return FolderItem::CodeFromErrno(ResolveLinks(path)); }

int32_t Replace(const std::string& linkPath, std::string_view contents) {
  return Replace(linkPath, std::string(contents), nullptr);
}

namespace {

constexpr const char* kTempSuffix = ".tmp";
constexpr size_t kTempRandom = 6;  // the XXXXXX of mkostemp
// A file changed this often while being replaced is replaced as last seen.
constexpr int kLastLooks = 8;

int WriteFromStart(int fd, std::string_view contents) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) return errno;
  if (int err = WriteAll(fd, contents); err != 0) return err;
  return ::fsync(fd) != 0 ? errno : 0;
}

}  // namespace

int32_t Replace(const std::string& linkPath, std::string contents, const LastLook& lastLook) {
  std::string path = linkPath;
  if (int32_t code = FollowLinks(path); code != 0) return code;
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (exists && !MayWrite(path, existing)) return FolderItem::CodeFromErrno(EACCES);

  std::string folder = FolderOf(path);
  std::vector<char> name(path.begin(), path.end());
  const std::string suffix = std::string(kTempSuffix) + std::string(kTempRandom, 'X');
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');

  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.Get() < 0) return FolderItem::CodeFromErrno(errno);
  std::string tmp(name.data());

  int err = 0;
  mode_t mode = 0644;
  if (exists) {
    mode = existing.st_mode & 07777;
  } else {
    mode_t mask = ::umask(022);
    ::umask(mask);
    mode &= ~mask;
  }
  if (::fchmod(fd.Get(), mode) != 0) err = errno;
  if (err == 0) err = WriteAll(fd.Get(), contents);
  if (err == 0 && ::fsync(fd.Get()) != 0) err = errno;
  int32_t refused = 0;
  for (int look = 0; err == 0 && lastLook && look < kLastLooks; ++look) {
    bool changed = false;
    refused = lastLook(contents, changed);
    if (refused != 0 || !changed) break;
    err = WriteFromStart(fd.Get(), contents);
  }
  if (fd.Close() != 0 && err == 0) err = errno;
  if (refused != 0) {
    ::unlink(tmp.c_str());
    return refused;
  }
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    return FolderItem::CodeFromErrno(err);
  }
  SyncFolder(folder);  // best effort: the rename already happened
  return 0;
}

void RemoveLeftovers(const std::string& linkPath) {
  std::string path = linkPath;
  if (FollowLinks(path) != 0) return;
  const std::string folder = FolderOf(path);
  const std::string prefix =
      (path.rfind('/') == std::string::npos ? path : path.substr(path.rfind('/') + 1)) +
      kTempSuffix;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;  // best effort: the leftovers only take room
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + kTempRandom || name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const std::string leftover = folder + "/" + name;
    struct stat st {};
    if (::lstat(leftover.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(leftover.c_str());
  }
  ::closedir(dir);
}

int SyncFolder(const std::string& path) {
  UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return errno;
  if (::fsync(dir.Get()) != 0) return errno;
  return dir.Close() != 0 ? errno : 0;
}

}  // namespace AtomicFile
