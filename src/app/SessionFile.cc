#include "app/SessionFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/WriteAll.h"

namespace {
constexpr size_t kBufferSize = 256 * 1024;
}

int SessionFile::Create(const std::string& path, SessionFile& out) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  out.mFd.Reset(fd);
  out.mBuffer.reserve(kBufferSize);
  return 0;
}

SessionFile::~SessionFile() {
  if (mFd.Valid()) Flush();
}

bool SessionFile::Fail(int err) {
  if (mError.empty()) mError = std::strerror(err);
  return false;
}

bool SessionFile::Append(std::string_view bytes) {
  if (!mFd.Valid()) return Fail(EBADF);
  if (!mError.empty()) return false;
  if (mBuffer.size() + bytes.size() > kBufferSize && !Flush()) return false;
  if (bytes.size() >= kBufferSize) {
    mBuffer.append(bytes);
    return Flush();
  }
  mBuffer.append(bytes);
  return true;
}

bool SessionFile::Flush() {
  if (!mFd.Valid()) return Fail(EBADF);
  size_t done = 0;
  int err = WriteAll(mFd.Get(), mBuffer, &done);
  mBytes += done;
  mBuffer.erase(0, done);
  return err == 0 ? mError.empty() : Fail(err);
}

bool SessionFile::Close() {
  if (!mFd.Valid()) return mError.empty();
  bool ok = Flush();
  if (::fsync(mFd.Get()) != 0 && ok) ok = Fail(errno);
  if (mFd.Close() != 0 && ok) ok = Fail(errno);
  return ok;
}
