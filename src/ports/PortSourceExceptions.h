#pragma once
// The exception family of the port subsystem. A caller that catches
// PortSourceException also catches the three others.

#include "base/BaseError.h"

namespace PortSourceUtils {

PELOX5_DECLARE_ERROR(PortSourceException, BaseError);
PELOX5_DECLARE_ERROR(InvalidPortException, PortSourceException);
PELOX5_DECLARE_ERROR(ConnectionException, PortSourceException);
PELOX5_DECLARE_ERROR(TimeoutException, PortSourceException);

}  // namespace PortSourceUtils
