#include "ports/posix/TermiosSettings.h"

namespace PortSourceUtils::Posix {
namespace {

constexpr int32_t kRates[] = {300,  600,   1200,  1800,  2400,  3600,  4800,   7200,
                              9600, 14400, 19200, 28800, 38400, 57600, 115200, 230400};

// B-constant of a bit rate, B0 when the platform has none.
speed_t SpeedConstant(int32_t rate) {
  switch (rate) {
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

}  // namespace

int32_t BitRateOfCode(int32_t code) { return code >= 0 && code < 16 ? kRates[code] : 0; }

bool BuildTermios(const LineSettings& s, termios& t, bool* needsCustomSpeed) {
  int32_t rate = BitRateOfCode(s.baud);
  if (rate == 0 || s.parity < 0 || s.parity > 2 || s.bits < 0 || s.bits > 3 || s.stop < 0 ||
      s.stop > 2) {
    return false;
  }
  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= kSizes[s.bits] | CLOCAL | CREAD;
  if (s.parity == 1) t.c_cflag |= PARENB | PARODD;
  if (s.parity == 2) t.c_cflag |= PARENB;
  if (s.stop != 0) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  speed_t speed = SpeedConstant(rate);
  *needsCustomSpeed = speed == B0;
  if (speed == B0) speed = B38400;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return true;
}

}  // namespace PortSourceUtils::Posix
