#pragma once
// A plain error of the program. Nothing raises it today; the run treats it as
// non-fatal around the "logs" and "getdata" requests.

#include "base/BaseError.h"

PELOX5_DECLARE_ERROR(GeneralException, BaseError);
