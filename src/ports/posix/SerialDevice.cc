#include "ports/posix/SerialDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "ports/posix/CustomSpeed.h"

namespace PortSourceUtils::Posix {

SerialDevice::~SerialDevice() { CloseDevice(); }

int32_t SerialDevice::Open(const std::string& path, const LineSettings& settings) {
  CloseDevice();
  auto fail = [this](int err) {
    SetError(CodeFromErrno(err));
    return LastError();
  };
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return fail(errno);
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return fail(errno);
  if (::ioctl(fd.Get(), TIOCEXCL) != 0 && errno != EINVAL && errno != ENOTTY) return fail(errno);

  termios t{};
  if (::tcgetattr(fd.Get(), &t) != 0) return fail(errno);
  bool customSpeed = false;
  if (!BuildTermios(settings, t, &customSpeed)) return fail(EINVAL);
  if (::tcsetattr(fd.Get(), TCSANOW, &t) != 0) return fail(errno);
  if (customSpeed) {
    int32_t code = SetCustomSpeed(fd.Get(), BitRateOfCode(settings.baud));
    if (code != 0) {
      SetError(code);
      return code;
    }
  }
  Attach(std::move(fd));
  return 0;
}

void SerialDevice::CloseDevice() {
  // TIOCEXCL outlives our descriptor while another side (a pty master) holds
  // the terminal; clear it so the device can be opened again. Failure is harmless.
  if (IsOpen()) ::ioctl(Fd(), TIOCNXCL);
  Close();
}

}  // namespace PortSourceUtils::Posix
