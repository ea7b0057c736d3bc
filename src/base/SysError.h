#pragma once
// errno to the system's error codes: the one mapping every layer builds on.

#include <cstdint>

// 0 for 0, otherwise -|err|: error codes of the system are never positive.
int32_t CodeFromErrno(int err);
