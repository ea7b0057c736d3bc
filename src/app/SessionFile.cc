#include "app/SessionFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/WriteAll.h"

int SessionFile::Create(const std::string& path, SessionFile& out) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  out.mFd.Reset(fd);
  return 0;
}

bool SessionFile::Fail(int err) {
  if (mError.empty()) mError = std::strerror(err);
  return false;
}

bool SessionFile::Append(std::string_view bytes) {
  if (!mFd.Valid()) return Fail(EBADF);
  if (!mError.empty()) return false;
  size_t done = 0;
  int err = WriteAll(mFd.Get(), bytes, &done);
  mBytes += done;
  return err == 0 || Fail(err);
}

bool SessionFile::Close() {
  if (!mFd.Valid()) return mError.empty();
  bool ok = mError.empty();
  if (::fsync(mFd.Get()) != 0 && ok) ok = Fail(errno);
  if (mFd.Close() != 0 && ok) ok = Fail(errno);
  return ok;
}
