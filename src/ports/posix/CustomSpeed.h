#pragma once
// Bit rates that have no B-constant. This header must not pull in <termios.h>.

#include <cstdint>

namespace PortSourceUtils::Posix {

// Sets input and output rate of an open terminal to `bitRate` (termios2 with
// BOTHER on Linux). Returns 0 or a negative code; other hosts give -EINVAL.
int32_t SetCustomSpeed(int fd, int32_t bitRate);

}  // namespace PortSourceUtils::Posix
