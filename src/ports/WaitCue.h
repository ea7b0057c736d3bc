#pragma once
// What a caller waiting on a port expects next.

#include <cstddef>
#include <string_view>

namespace PortSourceUtils {

struct WaitCue {
  // Bytes any of which may end the reply waited for (such as the last byte of
  // a prompt): a wait returns as soon as one arrives.
  std::string_view end;
  // How many more bytes the reply surely holds before its end can come (0: not
  // known). A wait need not wake for fewer: a TCP link lets them collect in the
  // socket until they are all in or the wait's time is up.
  size_t bytesAhead = 0;
};

}  // namespace PortSourceUtils
