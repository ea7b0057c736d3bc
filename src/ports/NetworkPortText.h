#pragma once
// The rule that tells a network port text from a serial device name.

#include <cstdint>
#include <optional>
#include <string>

namespace PortSourceUtils {

struct NetworkPortText {
  std::string address;  // the four numbers joined with "."
  int32_t port = 0;     // clamped to the Int32 range, never wrapped
  // Each address number 0..255 and the port at most 65535.
  bool numbersInRange = false;
};

// Searches the text for "(\d+).(\d+).(\d+).(\d+):(\d+)" (unanchored, each "."
// matching any character, line ends included); nullopt when it does not match
// or when the text begins with "/" (an absolute path is always a serial device).
// Texts longer than kMaxPortTextLength never match: the regex engine recurses
// per character and such a text cannot be a usable address anyway.
std::optional<NetworkPortText> ParseNetworkPortText(const std::string& text);

inline constexpr size_t kMaxPortTextLength = 4096;

}  // namespace PortSourceUtils
