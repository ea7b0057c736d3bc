#include "base/SysError.h"

int32_t CodeFromErrno(int err) { return err > 0 ? -err : err; }
