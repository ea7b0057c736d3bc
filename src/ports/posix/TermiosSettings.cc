#include "ports/posix/TermiosSettings.h"

namespace PortSourceUtils::Posix {

speed_t SpeedConstantOfCode(int32_t code) {
  switch (BitRateOfCode(code)) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;
  }
}

bool BuildTermios(const SerialSettings& s, termios& t, bool* needsCustomSpeed) {
  const auto parity = static_cast<int32_t>(s.parity);
  const auto bits = static_cast<int32_t>(s.dataBits);
  const auto stop = static_cast<int32_t>(s.stopBits);
  const auto flow = static_cast<int32_t>(s.flow);
  if (SpeedOfCode(s.baud) == nullptr || parity < 0 || parity > 2 || bits < 0 || bits > 3 ||
      stop < 0 || stop > 2 || flow < 0 || flow > 2) {
    return false;
  }
  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= kSizes[bits] | CLOCAL | CREAD;
  if (s.parity == Parity::kOdd) t.c_cflag |= PARENB | PARODD;
  if (s.parity == Parity::kEven) t.c_cflag |= PARENB;
  if (s.stopBits != StopBits::kOne) t.c_cflag |= CSTOPB;
  if (s.flow == FlowControl::kRtsCts) t.c_cflag |= CRTSCTS;
  if (s.flow == FlowControl::kXonXoff) t.c_iflag |= IXON | IXOFF;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  speed_t speed = SpeedConstantOfCode(s.baud);
  *needsCustomSpeed = speed == B0;
  if (speed == B0) speed = B38400;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return true;
}

}  // namespace PortSourceUtils::Posix
