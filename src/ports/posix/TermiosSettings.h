#pragma once
// The serial line settings as codes and their mapping onto termios.

#include <termios.h>

#include <cstdint>

namespace PortSourceUtils::Posix {

struct LineSettings {
  int32_t baud = 8;    // 0..15 = 300 ... 230400 bit/s
  int32_t parity = 0;  // 0 none, 1 odd, 2 even
  int32_t bits = 3;    // 0..3 = 5..8 data bits
  int32_t stop = 0;    // 0 = 1, 1 = 1.5, 2 = 2 stop bits
};

// Bit rate of a baud code, 0 for a code outside 0..15.
int32_t BitRateOfCode(int32_t code);

// Puts `t` in raw mode with the given settings: no echo, no line editing, no
// CR/LF translation, no signals, no flow control, CLOCAL|CREAD, VMIN=1 VTIME=0.
// Linux has no 1.5 stop bits; code 1 selects CSTOPB, which a UART sends as 1.5
// with 5 data bits. Returns false (leaving `t` unspecified) for a code out of
// range. `*needsCustomSpeed` is set when the rate has no B-constant; the speed
// fields are then left at 38400 and the rate must be set with SetCustomSpeed.
bool BuildTermios(const LineSettings& settings, termios& t, bool* needsCustomSpeed);

}  // namespace PortSourceUtils::Posix
