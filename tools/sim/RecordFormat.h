#pragma once
// The text of one simulated record. Record n (n >= 1) is one line:
//   "R" + n (at least 6 digits) + "," + time stamp + "," + a + "," + b + "," + c + CR LF
// The time stamp is 2026-01-01 00:00:00 plus (n - 1) minutes, written
// "YYYY-MM-DD HH:MM:SS"; a is (n*37 mod 10000)/100 and b is (n*53 mod 1000)/100,
// both with two decimals; c is n*7919 mod 1000. The same n always gives the
// same line, so tests can predict every byte.

#include <cstddef>
#include <cstdint>
#include <string>

class RecordFormat {
 public:
  // recordSize 0 keeps each line's natural length; otherwise (3..65536) lines
  // are padded with blanks before the CR LF or cut, keeping the CR LF.
  explicit RecordFormat(size_t recordSize = 0) : mRecordSize(recordSize) {}

  // Appends record n to out.
  void Append(int64_t n, std::string& out) const;
  // Record n as a string (tests and small replies).
  std::string Line(int64_t n) const;

 private:
  size_t mRecordSize;
};
