#include "ports/posix/SysError.h"

namespace PortSourceUtils::Posix {

int32_t CodeFromErrno(int err) { return err > 0 ? -err : err; }

}  // namespace PortSourceUtils::Posix
