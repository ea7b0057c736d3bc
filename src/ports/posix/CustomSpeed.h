#pragma once
// Bit rates that have no B-constant. This header must not pull in <termios.h>.

#include <cstdint>

namespace PortSourceUtils::Posix {

// Sets input and output rate of an open terminal to `bitRate` (termios2 with
// BOTHER on Linux). Returns 0 or a negative code; other hosts give -EINVAL.
int32_t SetCustomSpeed(int fd, int32_t bitRate);

// The output bit rate the terminal really uses (termios2 on Linux, which reports
// custom rates too), 0 when the host cannot tell, or a negative code.
int32_t ReadOutputBitRate(int fd);

}  // namespace PortSourceUtils::Posix
