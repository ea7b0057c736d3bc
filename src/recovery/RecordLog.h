#pragma once
// RecordLog: the in-memory form of a record recovery file, a text file that
// lists, as ranges, the record numbers already received.

#include <cstdint>
#include <string>
#include <vector>

#include "recovery/RangeEntry.h"

namespace RecordRecoveryUtils {

class RecordLog {
 public:
  // Stores the path and empties both lists; touches no file.
  explicit RecordLog(std::string path);

  void readRCD();
  void writeRCD();
  void addRecordToRanges(int32_t record);

  void cleanupRanges();
  void refreshMinMaxRangeValues();
  void refreshMissingRangeList();
  bool isInRange(int32_t record) const;

  std::vector<RangeEntry> receivedRanges;
  std::vector<RangeEntry> missingRanges;
  int32_t mFirstRecord = 0;
  int32_t mLastRecord = 0;
  std::string mFilename;
};

}  // namespace RecordRecoveryUtils
