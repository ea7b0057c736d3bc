#pragma once
// RecordLog: the in-memory form of a record recovery file, a text file that
// lists, as ranges, the record numbers already received.
//
// File format: lines ended by "\n"; a line is a list of tokens separated by
// ","; a token is N (the range N to N) or A-B (A to B, both ends included),
// each number plain decimal digits (0 to 2147483647) with blanks around it
// allowed. Reading is lenient:
//   - a UTF-8 byte-order mark at the start of the file is ignored;
//   - an empty token, or one of blanks only, adds nothing (so does an empty
//     line, or the "\r" of a CRLF line): it is no claim that record 0 arrived;
//   - every other token that is not plainly N or A-B ("abc", "-20", "+5",
//     "1-2-3", a range whose min is greater than its max, a number beyond
//     2147483647) is skipped and listed in Skipped(), never read as some other
//     number, so no record is claimed that the file does not name.
// Written files hold exactly one "min-max" line per range, ascending, disjoint
// and not adjacent.
//
// The path: a name containing "file:" is a file URL, which must be "file://"
// followed by an absolute path ("file:///data/x.rcd"); "%XX" escapes in it are
// decoded. Any other URL names no file. Other names are POSIX paths.
//
// Bookkeeping (RangeBookkeeping.cc): after cleanupRanges, receivedRanges is
// sorted, disjoint and without adjacent ranges; mFirstRecord is its smallest
// min, mLastRecord its largest max; missingRanges holds the gap before the
// first range (counted from record 0) and every gap between two ranges.
// Record numbers run up to 2147483647; no arithmetic wraps.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/RangeEntry.h"
#include "recovery/RangeText.h"

namespace RecordRecoveryUtils {

class RecordLog {
 public:
  // Stores the path and empties both lists; touches no file.
  explicit RecordLog(std::string path);

  // The largest file readRCD reads: room for about three million ranges.
  static constexpr size_t kMaxFileBytes = size_t{64} << 20;

  // Replaces both lists by the file's ranges, normalised. A missing file gives
  // empty lists and keeps mFirstRecord and mLastRecord. Returns false when the
  // file exists but is not a regular file, is larger than kMaxFileBytes or
  // cannot be read, or when the name is an unusable URL; the lists are then
  // empty, ReadFailure() says why and FailureText() holds the line to show.
  // Never blocks on a FIFO or a device. The tokens it skipped are in Skipped().
  // Prints nothing.
  bool readRCD();

  // After readRCD: the tokens of the file that reading skipped, with their line
  // numbers. A rewrite would lose them, so a writer checks first.
  const SkippedTokens& Skipped() const { return mSkipped; }

  // Why the last readRCD returned false ("not a regular file", "larger than
  // 67108864 bytes", "Permission denied", ...); empty after a successful read.
  const std::string& ReadFailure() const { return mReadFailure; }

  // The one-line report of the last failed readRCD or writeRCD, without line
  // end ("readRCD(): couldnt read /x.rcd (not a regular file)", "writeRCD():
  // couldnt write ..."), for a program that shows it; empty after a success.
  const std::string& FailureText() const { return mFailureText; }

  // Normalises, then replaces the file atomically by the received ranges. With
  // no ranges nothing is written and an existing file stays as it is. After a
  // readRCD, the file is read once more right before it is replaced: ranges
  // added to it meanwhile (by hand) are kept, and a token there that is not N
  // or A-B leaves the file as it is. Returns
  // true when written or when there was nothing to write; on failure leaves the
  // old file whole, sets FailureText() and returns false. Prints nothing.
  bool writeRCD();
  // After a writeRCD that returned false: whether the file was changed
  // meanwhile in a way a rewrite would damage (rather than not writable).
  bool ChangedMeanwhile() const { return mChangedMeanwhile; }

  // Marks one record received; negative numbers and records already covered
  // change nothing.
  void addRecordToRanges(int32_t record);

  // Marks the records min to max received at once, whatever the span. A range
  // with min > max or min < 0 changes nothing.
  void addRangeToRanges(int32_t min, int32_t max);

  void cleanupRanges();
  void refreshMinMaxRangeValues();
  void refreshMissingRangeList();
  bool isInRange(int32_t record) const;

  std::vector<RangeEntry> receivedRanges;
  std::vector<RangeEntry> missingRanges;
  int32_t mFirstRecord = 0;
  int32_t mLastRecord = 0;
  std::string mFilename;

 private:
  std::string mReadFailure;
  std::string mFailureText;
  SkippedTokens mSkipped;
  // The file's text as readRCD read it; none before a successful read.
  std::optional<std::string> mReadText;
  bool mChangedMeanwhile = false;
};

// The POSIX path that a record log name denotes (see above); nullopt for a
// "file:" name that is not "file://" + absolute path, or holds a bad escape.
std::optional<std::string> RecordLogPath(const std::string& name);

}  // namespace RecordRecoveryUtils
