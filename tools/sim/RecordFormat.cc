#include "RecordFormat.h"

#include <cstring>

#include "base/CivilDate.h"

namespace {

constexpr size_t kNaturalMax = 64;

// Writes value with at least `width` digits ending before `end`; returns the start.
char* DigitsBackward(uint64_t value, int width, char* end) {
  char* p = end;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
    --width;
  } while (value != 0 || width > 0);
  return p;
}

char* PutDigits(uint64_t value, int width, char* out) {
  char tmp[24];
  char* start = DigitsBackward(value, width, tmp + sizeof tmp);
  size_t n = static_cast<size_t>(tmp + sizeof tmp - start);
  std::memcpy(out, start, n);
  return out + n;
}

constexpr int64_t kDaysTo2026 = 20454;  // 2026-01-01 as days since 1970-01-01

size_t FormatNatural(int64_t n, char* out) {
  char* p = out;
  *p++ = 'R';
  p = PutDigits(static_cast<uint64_t>(n), 6, p);
  *p++ = ',';

  const int64_t minutes = n - 1;
  int64_t year;
  unsigned month, day;
  CivilDate::CivilFromDays(kDaysTo2026 + minutes / 1440, year, month, day);
  const int64_t minuteOfDay = minutes % 1440;
  p = PutDigits(static_cast<uint64_t>(year), 4, p);
  *p++ = '-';
  p = PutDigits(month, 2, p);
  *p++ = '-';
  p = PutDigits(day, 2, p);
  *p++ = ' ';
  p = PutDigits(static_cast<uint64_t>(minuteOfDay / 60), 2, p);
  *p++ = ':';
  p = PutDigits(static_cast<uint64_t>(minuteOfDay % 60), 2, p);
  std::memcpy(p, ":00,", 4);
  p += 4;

  const uint64_t u = static_cast<uint64_t>(n);
  const uint64_t a = u * 37 % 10000, b = u * 53 % 1000, c = u * 7919 % 1000;
  p = PutDigits(a / 100, 1, p);
  *p++ = '.';
  p = PutDigits(a % 100, 2, p);
  *p++ = ',';
  p = PutDigits(b / 100, 1, p);
  *p++ = '.';
  p = PutDigits(b % 100, 2, p);
  *p++ = ',';
  p = PutDigits(c, 1, p);
  *p++ = '\r';
  *p++ = '\n';
  return static_cast<size_t>(p - out);
}

}  // namespace

void RecordFormat::Append(int64_t n, std::string& out) const {
  char line[kNaturalMax];
  size_t length = FormatNatural(n, line);
  if (mRecordSize == 0 || mRecordSize == length) {
    out.append(line, length);
    return;
  }
  const size_t body = length - 2;
  const size_t wanted = mRecordSize - 2;
  if (wanted <= body) {
    out.append(line, wanted);
  } else {
    out.append(line, body);
    out.append(wanted - body, ' ');
  }
  out.append("\r\n", 2);
}

std::string RecordFormat::Line(int64_t n) const {
  std::string line;
  Append(n, line);
  return line;
}
