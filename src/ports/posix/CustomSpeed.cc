// Kept apart from TermiosSettings.cc: the kernel's termios2 header clashes with
// the C library's <termios.h>.
#include "ports/posix/CustomSpeed.h"

#include <cerrno>
#include <cstdint>

#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

#include "base/SysError.h"

namespace PortSourceUtils::Posix {

int32_t SetCustomSpeed(int fd, int32_t bitRate) {
#ifdef __linux__
  struct termios2 t2 {};
  if (::ioctl(fd, TCGETS2, &t2) != 0) return CodeFromErrno(errno);
  t2.c_cflag &= ~CBAUD;
  t2.c_cflag |= BOTHER;
  t2.c_cflag &= ~(CBAUD << IBSHIFT);
  t2.c_cflag |= BOTHER << IBSHIFT;
  t2.c_ispeed = static_cast<speed_t>(bitRate);
  t2.c_ospeed = static_cast<speed_t>(bitRate);
  if (::ioctl(fd, TCSETS2, &t2) != 0) return CodeFromErrno(errno);
  return 0;
#else
  (void)fd;
  (void)bitRate;
  return CodeFromErrno(EINVAL);
#endif
}

int32_t ReadOutputBitRate(int fd) {
#ifdef __linux__
  struct termios2 t2 {};
  if (::ioctl(fd, TCGETS2, &t2) != 0) return CodeFromErrno(errno);
  return static_cast<int32_t>(t2.c_ospeed);
#else
  (void)fd;
  return 0;
#endif
}

}  // namespace PortSourceUtils::Posix
