#pragma once
// The serial line settings mapped onto termios.

#include <termios.h>

#include "ports/SerialSettings.h"

namespace PortSourceUtils::Posix {

// The B-constant of a baud code; B0 for a code outside the table or a rate the
// host has no constant for (such a rate is set with SetCustomSpeed).
speed_t SpeedConstantOfCode(int32_t code);

// Puts `t` in raw mode with the given settings: no echo, no line editing, no
// CR/LF translation, no signals, CLOCAL|CREAD, VMIN=1 VTIME=0, and flow control
// as asked (none: neither RTS/CTS nor XON/XOFF). Returns false (leaving `t`
// unspecified) for a code or value out of range. `*needsCustomSpeed` is set when
// the rate has no B-constant; the speed fields are then left at 38400 and the
// rate must be set with SetCustomSpeed.
bool BuildTermios(const SerialSettings& settings, termios& t, bool* needsCustomSpeed);

}  // namespace PortSourceUtils::Posix
