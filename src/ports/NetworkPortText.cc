#include "ports/NetworkPortText.h"

#include <regex>

#include "base/NumberText.h"

namespace PortSourceUtils {

std::optional<NetworkPortText> ParseNetworkPortText(const std::string& text) {
  // "[\s\S]" is a "." that also matches line ends.
  static const std::regex kPattern(R"((\d+)[\s\S](\d+)[\s\S](\d+)[\s\S](\d+):(\d+))");
  // An absolute path is a device, whatever numbers its name holds
  // (/dev/serial/by-path/...-usb-0:1.4.2:1.0-port0): no endpoint begins with "/".
  if (text.size() > kMaxPortTextLength || text.starts_with('/')) return std::nullopt;
  std::smatch m;
  if (!std::regex_search(text, m, kPattern)) return std::nullopt;
  NetworkPortText result;
  result.address = m.str(1) + "." + m.str(2) + "." + m.str(3) + "." + m.str(4);
  result.port = NumberText::LeadingInt32(m.str(5));
  result.numbersInRange = result.port <= 65535;
  for (int group = 1; group <= 4; ++group) {
    if (NumberText::LeadingInt32(m.str(group)) > 255) result.numbersInRange = false;
  }
  return result;
}

}  // namespace PortSourceUtils
