#include "base/UniqueFd.h"

#include <unistd.h>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  int fd = mFd;
  mFd = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (mFd >= 0) ::close(mFd);
  mFd = fd;
}

int UniqueFd::Close() {
  int rc = mFd >= 0 ? ::close(mFd) : 0;
  mFd = -1;
  return rc;
}
