// Arbitrary bytes as a record recovery file: reading must give normalised ranges
// and consistent missing ranges, and writing then reading must give them back.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recovery/RecordLog.h"

using RecordRecoveryUtils::RangeEntry;
using RecordRecoveryUtils::RecordLog;

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Sorted, disjoint, not adjacent, min <= max, first and last set, and the
// missing ranges exactly the gaps from record 0 up to the last range.
void CheckNormalised(const RecordLog& log) {
  const std::vector<RangeEntry>& ranges = log.receivedRanges;
  if (ranges.empty()) {
    Require(log.missingRanges.empty());
    return;
  }
  std::vector<RangeEntry> gaps;
  int64_t next = 0;
  for (size_t i = 0; i < ranges.size(); ++i) {
    Require(ranges[i].min <= ranges[i].max);
    if (i > 0) Require(int64_t{ranges[i - 1].max} + 1 < ranges[i].min);
    if (next < ranges[i].min) gaps.emplace_back(static_cast<int32_t>(next), ranges[i].min - 1);
    next = int64_t{ranges[i].max} + 1;
  }
  Require(log.mFirstRecord == ranges.front().min);
  Require(log.mLastRecord == ranges.back().max);
  Require(log.missingRanges == gaps);
}

// A private folder for one run's file, removed with it afterwards; in memory
// where the host has /dev/shm, so that each write's flush to disk stays cheap.
class RunFolder {
 public:
  RunFolder() {
    std::string pattern =
        ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/rcd_fuzz-XXXXXX" : "/tmp/rcd_fuzz-XXXXXX";
    Require(::mkdtemp(pattern.data()) != nullptr);
    mPath = pattern;
  }
  ~RunFolder() {
    ::unlink(File().c_str());
    ::rmdir(mPath.c_str());
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  std::string File() const { return mPath + "/log.rcd"; }

 private:
  std::string mPath;
};

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Require(file != nullptr);
  Require(std::fwrite(data, 1, size, file) == size);
  Require(std::fclose(file) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunFolder folder;
  const std::string path = folder.File();
  WriteBytes(path, data, size);

  RecordLog log(path);
  Require(log.readRCD());
  CheckNormalised(log);

  if (!log.receivedRanges.empty()) {
    RecordLog before = log;
    Require(log.writeRCD());
    RecordLog again(path);
    Require(again.readRCD());
    Require(again.receivedRanges == before.receivedRanges);
    Require(again.missingRanges == before.missingRanges);

    // Adding a record keeps the invariant and covers it.
    int32_t record = size > 0 ? static_cast<int32_t>(data[0]) * 7 : 0;
    again.addRecordToRanges(record);
    CheckNormalised(again);
    Require(again.isInRange(record));
  }
  return 0;
}
