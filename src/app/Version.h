#pragma once
// Version data of the program.

#include <cstdint>

namespace Version {
inline constexpr int32_t MajorVersion = 1;
inline constexpr int32_t MinorVersion = 0;
inline constexpr int32_t BugVersion = 3;
inline constexpr int32_t StageCode = 0;
inline constexpr int32_t NonReleaseVersion = 0;
inline constexpr const char* LongVersion = "1.0.3";
inline constexpr const char* ShortVersion = "1.0.3";
}  // namespace Version
