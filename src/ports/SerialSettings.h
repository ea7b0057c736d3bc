#pragma once
// The serial line settings: the one table of speeds (code, text, bit rate) and
// typed parity, data bits, stop bits and flow control. The baud code is the
// number stored and passed around for a speed: 0..15, -1 for a text the table
// does not hold (PortSourceUtils.h converts the texts).

#include <cstdint>

namespace PortSourceUtils {

struct SerialSpeed {
  int32_t code;
  const char* text;
  int32_t bitRate;
};

// Indexed by code.
inline constexpr SerialSpeed kSerialSpeeds[] = {
    {0, "300", 300},      {1, "600", 600},      {2, "1200", 1200},      {3, "1800", 1800},
    {4, "2400", 2400},    {5, "3600", 3600},    {6, "4800", 4800},      {7, "7200", 7200},
    {8, "9600", 9600},    {9, "14400", 14400},  {10, "19200", 19200},   {11, "28800", 28800},
    {12, "38400", 38400}, {13, "57600", 57600}, {14, "115200", 115200}, {15, "230400", 230400}};
inline constexpr int32_t kSerialSpeedCount =
    static_cast<int32_t>(sizeof kSerialSpeeds / sizeof kSerialSpeeds[0]);
inline constexpr int32_t kUnknownBaudCode = -1;
inline constexpr int32_t kDefaultBaudCode = 8;  // 9600 bit/s

// The row of a code; null outside the table.
const SerialSpeed* SpeedOfCode(int32_t code);
// The bit rate of a code; 0 outside the table.
int32_t BitRateOfCode(int32_t code);

// The numbers are the codes the line settings have always been stored and
// passed as; a value outside the enumerators is refused when the line is set up.
enum class Parity : int32_t { kNone = 0, kOdd = 1, kEven = 2 };
enum class DataBits : int32_t { k5 = 0, k6 = 1, k7 = 2, k8 = 3 };
// The host has no 1.5 stop bits; kOneAndHalf sets two, which a UART sends as
// 1.5 with 5 data bits.
enum class StopBits : int32_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };
enum class FlowControl : int32_t { kNone = 0, kRtsCts = 1, kXonXoff = 2 };

// The number of data bits, 5..8 (for messages).
inline int32_t DataBitCount(DataBits bits) { return static_cast<int32_t>(bits) + 5; }

// 9600 bit/s, 8 data bits, no parity, 1 stop bit, no flow control.
struct SerialSettings {
  int32_t baud = kDefaultBaudCode;
  Parity parity = Parity::kNone;
  DataBits dataBits = DataBits::k8;
  StopBits stopBits = StopBits::kOne;
  FlowControl flow = FlowControl::kNone;
};

}  // namespace PortSourceUtils
