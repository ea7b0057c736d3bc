#pragma once
// The one base error type of the system. Every module's exception family derives
// from it; callers tell cases apart by class, never by ErrorNumber.

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

class BaseError : public std::exception {
 public:
  explicit BaseError(std::string message, int32_t errorNumber = 0)
      : ErrorNumber(errorNumber), Message(std::move(message)) {}

  const char* what() const noexcept override { return Message.c_str(); }

  // Public on purpose: some callers set the number after construction or append
  // context to the message before raising the same exception again.
  int32_t ErrorNumber;
  std::string Message;
};

// Declares a subclass that only forwards its constructor, for exception families
// whose members add nothing but their type.
#define PELOX5_DECLARE_ERROR(Name, Base) \
  class Name : public Base {             \
   public:                               \
    using Base::Base;                    \
  }
