#pragma once
// The exception family of the command-line options. Every member carries
// ErrorNumber 1; a caller that catches OptionParserException catches them all and
// tells the cases apart by class.

#include <cstdint>
#include <string>
#include <utility>

#include "base/BaseError.h"

// Definition errors, too few extras, and the base of the others.
class OptionParserException : public BaseError {
 public:
  OptionParserException(int32_t errorNumber, std::string message)
      : BaseError(std::move(message), errorNumber) {}
};

// A value refused, missing or invalid.
PELOX5_DECLARE_ERROR(OptionInvalidKeyValueException, OptionParserException);
// A required option that was not given.
PELOX5_DECLARE_ERROR(OptionMissingKeyException, OptionParserException);
// An argument that names no option.
PELOX5_DECLARE_ERROR(OptionUnrecognizedKeyException, OptionParserException);
