#include "app/SessionFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/FolderItem.h"

namespace {
constexpr size_t kBufferSize = 256 * 1024;
}

int32_t SessionFile::Create(const std::string& path, SessionFile& out) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? -EEXIST : FolderItem::CodeFromErrno(errno);
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
  while (done < mBuffer.size()) {
    ssize_t n = ::write(mFd.Get(), mBuffer.data() + done, mBuffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      mBuffer.erase(0, done);
      return Fail(err);
    }
    done += static_cast<size_t>(n);
    mBytes += static_cast<uint64_t>(n);
  }
  mBuffer.clear();
  return mError.empty();
}

bool SessionFile::Close() {
  if (!mFd.Valid()) return mError.empty();
  bool ok = Flush();
  if (::fsync(mFd.Get()) != 0 && ok) ok = Fail(errno);
  if (mFd.Close() != 0 && ok) ok = Fail(errno);
  return ok;
}
