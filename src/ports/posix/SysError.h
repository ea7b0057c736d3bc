#pragma once
// errno to the port subsystem's error codes, and an owned file descriptor.

#include <cstdint>

#include "base/UniqueFd.h"

namespace PortSourceUtils::Posix {

// 0 for 0, otherwise -|err|: the codes of the port subsystem are never positive.
int32_t CodeFromErrno(int err);

// The one owning descriptor type of the project.
using ::UniqueFd;

}  // namespace PortSourceUtils::Posix
