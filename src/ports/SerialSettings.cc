#include "ports/SerialSettings.h"

namespace PortSourceUtils {

static_assert([] {
  for (int32_t i = 0; i < kSerialSpeedCount; ++i)
    if (kSerialSpeeds[i].code != i) return false;
  return true;
}());

const SerialSpeed* SpeedOfCode(int32_t code) {
  return code >= 0 && code < kSerialSpeedCount ? &kSerialSpeeds[code] : nullptr;
}

int32_t BitRateOfCode(int32_t code) {
  const SerialSpeed* speed = SpeedOfCode(code);
  return speed ? speed->bitRate : 0;
}

}  // namespace PortSourceUtils
