#pragma once
// The message of the exception a call raises, for checks on its exact text.

#include <string>

// Runs `body` and returns the Message of the exception of type E it raises;
// "<nothing raised>" when it raises none.
template <typename E, typename F>
std::string MessageOf(F body) {
  try {
    body();
  } catch (const E& e) {
    return e.Message;
  }
  return "<nothing raised>";
}
