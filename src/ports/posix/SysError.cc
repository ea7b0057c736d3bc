#include "ports/posix/SysError.h"

#include <unistd.h>

namespace PortSourceUtils::Posix {

int32_t CodeFromErrno(int err) { return err > 0 ? -err : err; }

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
  // close() errors are not actionable here: the descriptor is gone either way.
  if (mFd >= 0) ::close(mFd);
  mFd = fd;
}

}  // namespace PortSourceUtils::Posix
