#include "SysIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/FolderItem.h"
#include "base/WriteAll.h"

void ThrowErrno(const std::string& what, int err) {
  throw SimError(what + ": " + std::strerror(err), FolderItem::CodeFromErrno(err));
}

void SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
    ThrowErrno("fcntl(O_NONBLOCK)", errno);
}

AppendFile::AppendFile(const std::string& path) : mPath(path) {
  if (path.empty()) return;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) ThrowErrno("cannot open " + path, errno);
  mFd.Reset(fd);
}

void AppendFile::Append(std::string_view data) {
  if (!mFd.Valid()) return;
  if (int err = WriteAll(mFd.Get(), data)) ThrowErrno("cannot write " + mPath, err);
}
