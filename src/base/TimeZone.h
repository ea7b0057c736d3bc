#pragma once
// A time zone read from the system's zone database (the TZif files under
// /usr/share/zoneinfo), and the conversion of a local wall-clock time to the
// UTC instants it may stand for. Instants after the file's last transition
// keep the offset of that transition; the database's files carry transitions
// to 2037.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace TimeZone {

// Seconds since 1970-01-01 00:00:00 of a civil date and time, read as if it
// were UTC (the proleptic Gregorian calendar).
int64_t CivilSeconds(int year, int month, int day, int hour, int minute, int second);
// "YYYY-MM-DD HH:MM:SS" and "YYYY-MM-DDTHH:MM:SSZ" of such seconds.
std::string LocalText(int64_t seconds);
std::string UtcText(int64_t seconds);
// The same into `out`, replacing what it held (and keeping its room).
void AssignLocalText(int64_t seconds, std::string& out);
void AssignUtcText(int64_t seconds, std::string& out);

// The UTC instants a local time stands for: none in the gap of a change to
// summer time, two (earlier first) in the hour repeated by the change back,
// one otherwise. For two, `repeatStart` and `repeatEnd` bound the UTC
// instants of the repeated local hour: [repeatStart, repeatEnd).
struct Resolution {
  int count = 0;
  int64_t instants[2] = {0, 0};
  int64_t repeatStart = 0, repeatEnd = 0;
};

class Zone {
 public:
  // The zone of an IANA name ("Europe/Berlin"), or "UTC". None, with `error`
  // saying why, for a name that is empty, absolute, climbs out with "..",
  // names no regular file of the database or a file that is not zone data.
  static std::optional<Zone> Load(const std::string& name, std::string& error);

  // The offset from UTC, in seconds, in force at a UTC instant.
  int32_t OffsetAt(int64_t utc) const;
  // The UTC instants of a local time (CivilSeconds of its wall-clock fields).
  Resolution FromLocal(int64_t local) const;

 private:
  std::vector<int64_t> mTransitions;  // UTC instants, ascending
  std::vector<int32_t> mOffsets;      // in force from each transition on
  int32_t mInitialOffset = 0;         // before the first transition
  // The local times last found far from any transition, with their one
  // offset: records come in time order, so most fall in the same span.
  mutable int64_t mQuietFrom = 1, mQuietTo = 0;
  mutable int32_t mQuietOffset = 0;
};

}  // namespace TimeZone
