#include "base/AtomicFile.h"

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

namespace {

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

int32_t Replace(const std::string& path, std::string_view contents) {
  std::string folder = FolderOf(path);
  std::vector<char> name(path.begin(), path.end());
  const std::string suffix = ".tmpXXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');

  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.Get() < 0) return FolderItem::CodeFromErrno(errno);
  std::string tmp(name.data());

  int err = 0;
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(022);
    ::umask(mask);
    mode &= ~mask;
  }
  if (::fchmod(fd.Get(), mode) != 0) err = errno;
  if (err == 0) err = WriteAll(fd.Get(), contents);
  if (err == 0 && ::fsync(fd.Get()) != 0) err = errno;
  if (fd.Close() != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    return FolderItem::CodeFromErrno(err);
  }
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());  // best effort: the rename already happened
  return 0;
}

}  // namespace AtomicFile
