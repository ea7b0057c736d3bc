#pragma once
// The bit rate a client applied to the simulator's pseudo-terminal, and the
// bytes a peer at another rate would see.

#include <cstdint>
#include <string>
#include <string_view>

// The output bit rate set on the terminal `fd` (either side of a pty: they
// share one setting), custom rates included; -1 when it cannot be read.
int64_t TerminalBitRate(int fd);

// What arrives when `bytes` are sent at the wrong rate: one byte each, every one
// with the high bit set (framing errors), so no text, line end or prompt
// survives. The same input always gives the same bytes.
std::string GarbledAtWrongSpeed(std::string_view bytes);
