#include "base/TimeZone.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "base/CivilDate.h"
#include "base/WholeFile.h"

namespace TimeZone {

using CivilDate::CivilFromDays;
using CivilDate::DaysFromCivil;

namespace {

constexpr const char* kZoneFolder = "/usr/share/zoneinfo/";
// Far above any zone file (the largest are a few KiB).
constexpr size_t kZoneFileLimit = size_t{1} << 20;

// "YYYY-MM-DD HH:MM:SS", with `between` for the blank and `tail` after it;
// written digit by digit, as it is made for every typed time.
void Format(int64_t seconds, char between, const char* tail, std::string& out) {
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t rest = seconds - days * 86400;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  if (y < 0 || y > 9999) {
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u%c%02d:%02d:%02d%s",
                  static_cast<long long>(y), m, d, between, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60), tail);
    out = text;
    return;
  }
  char text[24];
  auto two = [&text](int at, unsigned value) {
    text[at] = static_cast<char>('0' + value / 10);
    text[at + 1] = static_cast<char>('0' + value % 10);
  };
  two(0, static_cast<unsigned>(y / 100));
  two(2, static_cast<unsigned>(y % 100));
  text[4] = '-';
  two(5, m);
  text[7] = '-';
  two(8, d);
  text[10] = between;
  two(11, static_cast<unsigned>(rest / 3600));
  text[13] = ':';
  two(14, static_cast<unsigned>(rest / 60 % 60));
  text[16] = ':';
  two(17, static_cast<unsigned>(rest % 60));
  out.assign(text, 19);
  out += tail;
}

uint32_t Be32(const std::string& b, size_t at) {
  return uint32_t{static_cast<unsigned char>(b[at])} << 24 |
         uint32_t{static_cast<unsigned char>(b[at + 1])} << 16 |
         uint32_t{static_cast<unsigned char>(b[at + 2])} << 8 |
         uint32_t{static_cast<unsigned char>(b[at + 3])};
}

int64_t Be64(const std::string& b, size_t at) {
  return static_cast<int64_t>(uint64_t{Be32(b, at)} << 32 | Be32(b, at + 4));
}

// A name of the database: letters, digits and "/_+-." in parts that are
// neither empty nor "." or "..".
bool PlainName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.back() == '/') return false;
  if (name.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/_+-.") !=
      std::string::npos)
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t stop = std::min(name.find('/', start), name.size());
    const std::string part = name.substr(start, stop - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = stop + 1;
  }
  return true;
}

}  // namespace

int64_t CivilSeconds(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         hour * 3600 + minute * 60 + second;
}

void AssignLocalText(int64_t seconds, std::string& out) { Format(seconds, ' ', "", out); }

void AssignUtcText(int64_t seconds, std::string& out) { Format(seconds, 'T', "Z", out); }

std::string LocalText(int64_t seconds) {
  std::string text;
  AssignLocalText(seconds, text);
  return text;
}

std::string UtcText(int64_t seconds) {
  std::string text;
  AssignUtcText(seconds, text);
  return text;
}

std::optional<Zone> Zone::Load(const std::string& name, std::string& error) {
  Zone zone;
  if (name == "UTC") return zone;  // needs no file
  if (!PlainName(name)) {
    error = "\"" + name + "\" is not a zone name (such as Europe/Berlin or UTC)";
    return std::nullopt;
  }
  const std::string path = kZoneFolder + name;
  std::string bytes;
  const WholeFile::ReadOutcome read = WholeFile::Read(path, kZoneFileLimit, bytes);
  if (!read.Read()) {
    error = "\"" + name + "\" is not a zone of the system's zone database (" + path + ": " +
            read.Reason() + ")";
    return std::nullopt;
  }
  // The version 2+ data block, with 64-bit times, follows the version 1 block.
  auto bad = [&] {
    error = path + " is not zone data of version 2 or later";
    return std::nullopt;
  };
  if (bytes.size() < 44 || bytes.compare(0, 4, "TZif") != 0 || bytes[4] < '2') return bad();
  auto blockSize = [&](size_t at, size_t timeSize) -> std::optional<size_t> {
    if (bytes.size() < at + 44) return std::nullopt;
    const uint64_t isut = Be32(bytes, at + 20), isstd = Be32(bytes, at + 24),
                   leap = Be32(bytes, at + 28), time = Be32(bytes, at + 32),
                   type = Be32(bytes, at + 36), chars = Be32(bytes, at + 40);
    const uint64_t size =
        44 + time * timeSize + time + type * 6 + chars + leap * (timeSize + 4) + isstd + isut;
    if (size > bytes.size() - at) return std::nullopt;
    return static_cast<size_t>(size);
  };
  const std::optional<size_t> v1 = blockSize(0, 4);
  if (!v1) return bad();
  const size_t at = *v1;
  if (!blockSize(at, 8) || bytes.compare(at, 4, "TZif") != 0) return bad();
  const uint32_t timeCount = Be32(bytes, at + 32), typeCount = Be32(bytes, at + 36);
  if (typeCount == 0) return bad();
  const size_t times = at + 44, indices = times + size_t{timeCount} * 8,
               types = indices + timeCount;
  auto offsetOf = [&](size_t type) { return static_cast<int32_t>(Be32(bytes, types + type * 6)); };
  zone.mInitialOffset = offsetOf(0);
  for (uint32_t i = 0; i < timeCount; ++i) {
    const auto type = static_cast<unsigned char>(bytes[indices + i]);
    if (type >= typeCount) return bad();
    const int64_t when = Be64(bytes, times + size_t{i} * 8);
    if (!zone.mTransitions.empty() && when <= zone.mTransitions.back()) return bad();
    zone.mTransitions.push_back(when);
    zone.mOffsets.push_back(offsetOf(type));
  }
  return zone;
}

int32_t Zone::OffsetAt(int64_t utc) const {
  const auto after = std::upper_bound(mTransitions.begin(), mTransitions.end(), utc);
  if (after == mTransitions.begin()) return mInitialOffset;
  return mOffsets[static_cast<size_t>(after - mTransitions.begin() - 1)];
}

Resolution Zone::FromLocal(int64_t local) const {
  // Every offset lies within 26 hours of UTC, and transitions are far more than
  // a day apart: the offsets a day either side are all that can apply.
  constexpr int64_t kSpan = 26 * 3600;
  Resolution r;
  if (local >= mQuietFrom && local <= mQuietTo) {
    r.instants[r.count++] = local - mQuietOffset;
    return r;
  }
  const int32_t candidates[2] = {OffsetAt(local - kSpan), OffsetAt(local + kSpan)};
  for (int i = 0; i < 2; ++i) {
    if (i == 1 && candidates[1] == candidates[0]) break;
    const int64_t utc = local - candidates[i];
    if (OffsetAt(utc) == candidates[i]) r.instants[r.count++] = utc;
  }
  if (r.count == 1 && candidates[0] == candidates[1]) {
    // The span between the transitions around it, less a margin of the
    // largest offset either side, has this one offset.
    const int64_t utc = r.instants[0];
    const auto after = std::upper_bound(mTransitions.begin(), mTransitions.end(), utc);
    const int64_t from = after == mTransitions.begin() ? INT64_MIN / 2 : *(after - 1);
    const int64_t to = after == mTransitions.end() ? INT64_MAX / 2 : *after;
    mQuietFrom = from + kSpan;
    mQuietTo = to - kSpan;
    mQuietOffset = candidates[0];
  }
  if (r.count == 2) {
    if (r.instants[0] > r.instants[1]) std::swap(r.instants[0], r.instants[1]);
    // The change back lies between the two; the local hour it repeats spans
    // the back step before and after it.
    const auto change = std::upper_bound(mTransitions.begin(), mTransitions.end(), r.instants[0]);
    const int64_t step = r.instants[1] - r.instants[0];
    const int64_t at = change != mTransitions.end() ? *change : r.instants[1];
    r.repeatStart = at - step;
    r.repeatEnd = at + step;
  }
  return r;
}

}  // namespace TimeZone
