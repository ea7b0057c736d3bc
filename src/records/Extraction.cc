#include "records/Extraction.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/AtomicFile.h"
#include "base/DialogueWords.h"
#include "base/UniqueFd.h"
#include "records/RecordStore.h"
#include "recovery/RangeSet.h"
#include "recovery/RangeText.h"
#include "recovery/RecordLog.h"
#include "recovery/RecordLogAdd.h"

namespace Records {

namespace {

// What is hashed at each end of an absorbed prefix to notice a file changed
// under it.
constexpr int64_t kSampleBytes = 4096;
// Session files are read in chunks of this size; a longer line is no record.
constexpr size_t kChunkBytes = size_t{1} << 20;

int64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<int64_t>(h);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Reads exactly `size` bytes at `offset`, or fewer at the end of the file.
std::string ReadAt(int fd, int64_t offset, int64_t size, const std::string& name) {
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                              static_cast<off_t>(offset + static_cast<int64_t>(got)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw StoreError("Session file " + name + " cannot be read: " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

struct Samples {
  int64_t head, tail;
};

Samples SamplesOf(int fd, int64_t absorbed, const std::string& name) {
  const int64_t size = std::min(kSampleBytes, absorbed);
  return {Fnv1a(ReadAt(fd, 0, size, name)), Fnv1a(ReadAt(fd, absorbed - size, size, name))};
}

struct SessionFile {
  std::string name;
  std::string path;
};

std::vector<SessionFile> ListSessions(const std::string& folder, const std::string& prefix) {
  std::vector<SessionFile> files;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    if (errno == ENOENT) return files;  // no download yet
    throw StoreError("Downloads folder " + folder + " cannot be listed: " + std::strerror(errno));
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (StartsWith(name, prefix)) files.push_back({name, folder + "/" + name});
  }
  const int err = errno;
  ::closedir(dir);
  if (err != 0)
    throw StoreError("Downloads folder " + folder + " cannot be listed: " + std::strerror(err));
  // Session names carry the time they were made: by name is the order received.
  std::sort(files.begin(), files.end(),
            [](const SessionFile& a, const SessionFile& b) { return a.name < b.name; });
  return files;
}

class Absorber {
 public:
  Absorber(const ExtractionSettings& settings, RecordStore& store, ExtractionSummary& summary,
           Clock& clock)
      : mSettings(settings), mStore(store), mSummary(summary), mClock(clock) {}

  void Absorb(const SessionFile& file);
  bool anythingNew = false;

 private:
  // False (after a WARNING) when the file no longer holds what was absorbed.
  bool StillHolds(int fd, const SessionFile& file, const SessionState& state, int64_t size);
  void AbsorbFrom(int fd, const SessionFile& file, SessionState state, int64_t size);
  void Line(std::string_view line, int64_t offset, const SessionFile& file, int64_t session);

  const ExtractionSettings& mSettings;
  RecordStore& mStore;
  ExtractionSummary& mSummary;
  Clock& mClock;
  // Counts of the file in hand.
  int64_t mFound = 0, mFresh = 0, mDuplicates = 0, mConflicts = 0;
  // The numbers stored by the transaction in hand.
  RecordRecoveryUtils::RangeCollector mRanges;
  int64_t mNow = 0;
};

bool Absorber::StillHolds(int fd, const SessionFile& file, const SessionState& state,
                          int64_t size) {
  std::string problem;
  if (size < state.absorbed) {
    problem = "is shorter (" + std::to_string(size) + " bytes) than the " +
              std::to_string(state.absorbed) + " bytes absorbed from it";
  } else if (state.absorbed > 0) {
    const Samples now = SamplesOf(fd, state.absorbed, file.name);
    if (now.head != state.headHash || now.tail != state.tailHash)
      problem = "changed within the " + std::to_string(state.absorbed) + " bytes absorbed from it";
  }
  if (problem.empty()) return true;
  mSettings.log("WARNING", "Session file " + file.path + " " + problem +
                               "; it is not read again (its stored records stay)");
  ++mSummary.unusableSessions;
  return false;
}

void Absorber::Absorb(const SessionFile& file) {
  UniqueFd fd(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid())
    throw StoreError("Session file " + file.path + " cannot be opened: " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    throw StoreError("Session file " + file.path + " cannot be read: " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return;  // not a session file
  const int64_t size = st.st_size;

  // The cheap look first, outside any transaction: most files are done.
  std::optional<SessionState> known = mStore.Session(file.name);
  const int64_t from = known ? known->absorbed : 0;
  if (known && !StillHolds(fd.Get(), file, *known, size)) return;
  if (size == from) return;
  if (size - from < int64_t{64} * 1024 &&
      ReadAt(fd.Get(), from, size - from, file.name).find('\n') == std::string::npos)
    return;  // only a line still being written (or a last prompt)

  mStore.Begin();
  try {
    // Another run may have absorbed more since the look.
    known = mStore.Session(file.name);
    if (known && !StillHolds(fd.Get(), file, *known, size)) {
      mStore.Rollback();
      return;
    }
    mNow = mClock.WallSeconds();
    SessionState state = known ? *known : SessionState{mStore.AddSession(file.name, mNow), 0, 0, 0};
    AbsorbFrom(fd.Get(), file, state, size);
  } catch (...) {
    mStore.Rollback();
    throw;
  }
}

void Absorber::AbsorbFrom(int fd, const SessionFile& file, SessionState state, int64_t size) {
  mFound = mFresh = mDuplicates = mConflicts = 0;
  mRanges = RecordRecoveryUtils::RangeCollector();
  int64_t offset = state.absorbed;  // of the first byte not yet taken
  std::string carry;                // a line begun in the previous chunk
  bool overlong = false;            // within a line longer than a chunk
  int64_t end = offset;             // after the last whole line
  while (offset < size) {
    std::string chunk =
        ReadAt(fd, offset, std::min<int64_t>(kChunkBytes, size - offset), file.name);
    if (chunk.empty()) break;  // truncated meanwhile; the next run says so
    size_t start = 0;
    for (;;) {
      const size_t nl = chunk.find('\n', start);
      if (nl == std::string::npos) break;
      const int64_t lineOffset =
          offset + static_cast<int64_t>(start) - static_cast<int64_t>(carry.size());
      if (!overlong) {
        std::string_view line;
        if (carry.empty()) {
          line = std::string_view(chunk).substr(start, nl - start);
        } else {
          carry.append(chunk, start, nl - start);
          line = carry;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Line(line, lineOffset, file, state.id);
      }
      carry.clear();
      overlong = false;
      start = nl + 1;
      end = offset + static_cast<int64_t>(start);
    }
    if (!overlong) carry.append(chunk, start, std::string::npos);
    if (carry.size() > kChunkBytes) {
      carry.clear();
      overlong = true;
    }
    offset += static_cast<int64_t>(chunk.size());
  }
  if (end == state.absorbed) {  // no whole line after all
    mStore.Rollback();
    return;
  }
  state.absorbed = end;
  const Samples samples = SamplesOf(fd, end, file.name);
  state.headHash = samples.head;
  state.tailHash = samples.tail;
  mStore.UpdateSession(state, mFound, mFresh, mDuplicates, mConflicts, mNow);
  mStore.NoteAbsorbed(mRanges.Ranges(), mFresh, mConflicts);
  mStore.Commit();
  anythingNew = true;
  ++mSummary.sessionsRead;
  mSummary.found += mFound;
  mSummary.fresh += mFresh;
  mSummary.duplicates += mDuplicates;
  mSummary.conflicts += mConflicts;
  mSettings.log("INFO", "Session file " + file.path + ": " + std::to_string(mFound) + " records, " +
                            std::to_string(mFresh) + " new, " + std::to_string(mDuplicates) +
                            " duplicates, " + std::to_string(mConflicts) + " conflicts");
}

void Absorber::Line(std::string_view line, int64_t offset, const SessionFile& file,
                    int64_t session) {
  if (IsDialogueLine(line, mSettings.prompt)) return;
  const std::optional<int32_t> number = mSettings.pattern->Number(line);
  if (!number) return;
  ++mFound;
  int64_t firstSession = 0;
  switch (mStore.Put(*number, line, session, offset, mNow, firstSession)) {
    case PutResult::kNew:
      ++mFresh;
      mRanges.Add(*number);
      break;
    case PutResult::kDuplicate:
      ++mDuplicates;
      break;
    case PutResult::kConflict:
      ++mConflicts;
      mSettings.log("WARNING", "Record " + std::to_string(*number) + " in " + file.name +
                                   " (byte " + std::to_string(offset) +
                                   ") differs from the one stored from " +
                                   mStore.SessionName(firstSession) +
                                   "; the stored line is kept, the new one is in conflicts");
      break;
  }
}

// The identity of the record recovery file as it is now: device, inode, size
// and change time; "missing" when there is none.
std::string StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "missing";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

void UpdateRecoveryFile(const ExtractionSettings& settings, RecordStore& store, bool anythingNew,
                        ExtractionSummary& summary) {
  const std::optional<std::string> path = RecordRecoveryUtils::RecordLogPath(settings.recoveryFile);
  if (!path) throw RecoveryFileError("not a usable file URL: " + settings.recoveryFile);
  const RcdSync sync = store.ReadRcdSync();
  RecordRecoveryUtils::RecordLog log(settings.recoveryFile);
  if (!anythingNew && sync.generation == sync.rcdGeneration && StampOf(*path) == sync.rcdStamp) {
    // Up to date: the file holds what is stored (and whatever else it held).
    if (!log.readRCD())
      throw RecoveryFileError(settings.recoveryFile + " cannot be read (" + log.ReadFailure() +
                              ")");
    for (const std::string& text :
         RecordRecoveryUtils::SkippedTokenWarnings(log.Skipped(), settings.recoveryFile))
      settings.log("WARNING", text);
    summary.missing =
        RecordRecoveryUtils::MissingRecordCount(log.receivedRanges, settings.recordsLogged);
    return;
  }
  const RecordRecoveryUtils::AddOutcome added =
      RecordRecoveryUtils::AddToRecordLog(settings.recoveryFile, store.StoredRanges(), log);
  if (!added.ok) throw RecoveryFileError(added.error);
  store.WriteRcdSync(sync.generation, StampOf(*path));
  summary.missing =
      RecordRecoveryUtils::MissingRecordCount(log.receivedRanges, settings.recordsLogged);
  settings.log("INFO",
               "Record recovery file " + settings.recoveryFile + " holds every stored record");
}

// What the store may take while absorbing `pending` bytes of session files:
// the records as stored, their index and the journal, with room to spare.
constexpr int64_t kStoreBytesPerSessionByte = 2;

// Refuses, before anything is written, an extraction that would leave less
// than the reserve free on the store's file system: the next download's raw
// bytes come first.
void CheckFreeSpace(const ExtractionSettings& settings, const std::vector<SessionFile>& files) {
  if (settings.freeSpaceReserve <= 0) return;  // turned off
  std::optional<RecordStore> store;
  try {
    store = RecordStore::OpenForReading(settings.storePath);
  } catch (const StoreError&) {
    // Counted as if nothing was absorbed; the writer says what is wrong.
  }
  int64_t pending = 0;
  for (const SessionFile& file : files) {
    struct stat st {};
    if (::stat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::optional<SessionState> known;
    if (store) {
      try {
        known = store->Session(file.name);
      } catch (const StoreError&) {
      }
    }
    pending += known && known->absorbed <= st.st_size ? st.st_size - known->absorbed : st.st_size;
  }
  if (pending == 0) return;
  struct statvfs fs {};
  const std::string folder = AtomicFile::FolderOf(settings.storePath);
  if (::statvfs(folder.c_str(), &fs) != 0) return;  // unknown: the writes say what fails
  const int64_t free = static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
  const int64_t needs = pending * kStoreBytesPerSessionByte;
  if (free - needs >= settings.freeSpaceReserve) return;
  auto mb = [](int64_t bytes) { return std::to_string(std::max<int64_t>(bytes, 0) >> 20) + " MB"; };
  throw StoreError("Not enough free space for the extraction: " + folder + " has " + mb(free) +
                   " free, the extraction needs about " + mb(needs) + " for " + mb(pending) +
                   " of session files, and " + mb(settings.freeSpaceReserve) +
                   " stay free for the next downloads (" + settings.freeSpaceReserveItem +
                   "); nothing was stored -- free space or lower the reserve");
}

}  // namespace

bool IsDialogueLine(std::string_view line, const std::string& prompt) {
  if (!prompt.empty() && StartsWith(line, prompt)) return true;
  if (line == DialogueWords::kDone || StartsWith(line, DialogueWords::kRecordsLogged) ||
      StartsWith(line, DialogueWords::kNextDownload) || StartsWith(line, DialogueWords::kError))
    return true;
  const std::string_view word = line.substr(0, line.find(' '));
  return word == DialogueWords::kLogs || word == DialogueWords::kGetData ||
         word == DialogueWords::kGetLog || word == DialogueWords::kQuit;
}

ExtractionSummary Extract(const ExtractionSettings& settings, Clock& clock) {
  ExtractionSummary summary;
  const std::vector<SessionFile> files =
      ListSessions(settings.downloadsFolder, settings.sessionPrefix);
  CheckFreeSpace(settings, files);
  RecordStore store = RecordStore::OpenForWriting(settings.storePath);
  Absorber absorber(settings, store, summary, clock);
  for (const SessionFile& file : files) absorber.Absorb(file);
  const StoreCounts counts = store.Counts();
  summary.stored = counts.records;
  summary.storedConflicts = counts.conflicts;
  if (!settings.recoveryFile.empty())
    UpdateRecoveryFile(settings, store, absorber.anythingNew, summary);
  return summary;
}

}  // namespace Records
