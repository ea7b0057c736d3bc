#pragma once
// The errors of the central database. Every Message names the connection by
// host, port, database and user only: never its password or its raw text.

#include "base/BaseError.h"

namespace Central {

// The family: the central database could not be used; nothing of the failed
// transaction is visible there.
PELOX5_DECLARE_ERROR(CentralError, BaseError);
// The connection string cannot be read, or the server refused or dropped us.
PELOX5_DECLARE_ERROR(ConnectionError, CentralError);
// The database holds tables this program does not know, or a newer version of them.
PELOX5_DECLARE_ERROR(SchemaError, CentralError);

}  // namespace Central
