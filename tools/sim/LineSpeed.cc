// termios2 comes from <asm/termbits.h>, which cannot share a file with <termios.h>.
#include "LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int64_t TerminalBitRate(int fd) {
  struct termios2 settings {};
  if (::ioctl(fd, TCGETS2, &settings) != 0) return -1;
  return static_cast<int64_t>(settings.c_ospeed);
}

std::string GarbledAtWrongSpeed(std::string_view bytes) {
  std::string out(bytes.size(), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[i] = static_cast<char>(0x80 | ((b * 7 + 3) & 0x7F));
  }
  return out;
}
