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

#include "base/AccountNames.h"
#include "base/AtomicFile.h"
#include "base/DialogueWords.h"
#include "base/UniqueFd.h"
#include "records/LineEnds.h"
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

// A session file that cannot be opened or read; it is skipped, the others are
// absorbed.
PELOX5_DECLARE_ERROR(SessionReadError, StoreError);

// Conflicts named one by one in a run; the rest are counted in one line.
constexpr int64_t kConflictsNamed = 10;

// Reads exactly `size` bytes at `offset`, or fewer at the end of the file.
std::string ReadAt(int fd, int64_t offset, int64_t size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                              static_cast<off_t>(offset + static_cast<int64_t>(got)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw SessionReadError(std::strerror(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

struct Samples {
  int64_t head, tail;
};

Samples SamplesOf(int fd, int64_t absorbed) {
  const int64_t size = std::min(kSampleBytes, absorbed);
  return {Fnv1a(ReadAt(fd, 0, size)), Fnv1a(ReadAt(fd, absorbed - size, size))};
}

constexpr const char* kLineEnds = "\r\n";

// Calls `line` with each whole line from `from` to `size` (without its line
// end) and the offset of its first byte; returns the offset after the last
// line end. CR and LF each end a line and a run of them is one end, so LF, CR
// LF, CR, LF CR and CR CR LF all do; a run cut by the end of the file goes on
// as an empty line, which is no record. A line longer than a chunk is skipped.
int64_t ScanLines(int fd, int64_t from, int64_t size,
                  const std::function<void(std::string_view, int64_t)>& line) {
  int64_t offset = from;  // of the first byte not yet taken
  std::string carry;      // a line begun in the previous chunk
  bool overlong = false;  // within a line longer than a chunk
  int64_t end = from;     // after the last line end
  while (offset < size) {
    const std::string chunk = ReadAt(fd, offset, std::min<int64_t>(kChunkBytes, size - offset));
    if (chunk.empty()) break;  // truncated meanwhile; the next run says so
    const size_t start = ForEachLine(chunk, [&](size_t begin, size_t stop) {
      const int64_t lineOffset =
          offset + static_cast<int64_t>(begin) - static_cast<int64_t>(carry.size());
      if (!overlong) {
        if (carry.empty()) {
          line(std::string_view(chunk).substr(begin, stop - begin), lineOffset);
        } else {
          carry.append(chunk, begin, stop - begin);
          line(carry, lineOffset);
        }
      }
      carry.clear();
      overlong = false;
    });
    if (start > 0) end = offset + static_cast<int64_t>(start);
    if (!overlong) carry.append(chunk, start, std::string::npos);
    if (carry.size() > kChunkBytes) {
      carry.clear();
      overlong = true;
    }
    offset += static_cast<int64_t>(chunk.size());
  }
  return end;
}

// Lines are shown in warnings as text of one line, cut short.
std::string Shown(std::string_view line) {
  std::string shown;
  for (unsigned char c : line.substr(0, 120)) {
    if (c < 0x20 || c == 0x7f) {
      static const char* const kHex = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
    } else {
      shown += static_cast<char>(c);
    }
  }
  if (line.size() > 120) shown += "...";
  return "\"" + shown + "\"";
}

// A line worth naming in a warning: where it is, and its text.
struct NamedLine {
  int64_t count = 0;
  std::string first;
  void Add(const std::string& file, int64_t offset, std::string_view line) {
    if (count++ == 0) first = file + " (byte " + std::to_string(offset) + "): " + Shown(line);
  }
};

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

// The owner and mode of a file and how to let this account read it, for the
// warning that skips it.
std::string AccessAdvice(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  const std::string owner = AccountNames::UserName(st.st_uid);
  const std::string groupName = AccountNames::GroupName(st.st_gid);
  return " (owner " + owner + ", group " + groupName + ", mode " + mode +
         "); let this account read it (e.g. chmod a+r " + path + " as " +
         (owner == "root" ? "root" : owner + " or root") + ") and extract again";
}

class Absorber {
 public:
  Absorber(const ExtractionSettings& settings, RecordStore& store, ExtractionSummary& summary,
           Clock& clock)
      : mSettings(settings), mStore(store), mSummary(summary), mClock(clock) {}

  // Absorbs what is new in `file`; all of it when it was read with another
  // pattern (`again`: some stored session may have been).
  void Absorb(const SessionFile& file, bool again);
  // The warnings that sum up the run.
  void Report();
  bool anythingNew = false;
  ExtractionOutcome outcome;

 private:
  // Why the file no longer holds what was absorbed; "" when it does.
  std::string Change(int fd, const SessionState& state, int64_t size);
  void AbsorbFile(const SessionFile& file, bool again);
  void AbsorbFrom(int fd, const SessionFile& file, SessionState state, int64_t from, int64_t size,
                  bool restart);
  void Line(std::string_view line, int64_t offset, const SessionFile& file, int64_t session);

  const ExtractionSettings& mSettings;
  RecordStore& mStore;
  ExtractionSummary& mSummary;
  Clock& mClock;
  // Counts of the file in hand.
  int64_t mFound = 0, mFresh = 0, mDuplicates = 0, mConflicts = 0, mMatched = 0;
  NamedLine mReplyLines;  // data lines (neither dialogue nor empty) of the file in hand
  // The numbers stored by the transaction in hand.
  RecordRecoveryUtils::RangeCollector mRanges;
  int64_t mNow = 0;
  // Over the run.
  NamedLine mNotNumbers, mTooLarge;
  int64_t mConflictsNamed = 0;
  bool mAgainAnnounced = false;
};

std::string Absorber::Change(int fd, const SessionState& state, int64_t size) {
  if (size < state.absorbed)
    return "is shorter (" + std::to_string(size) + " bytes) than the " +
           std::to_string(state.absorbed) + " bytes absorbed from it";
  if (state.absorbed > 0) {
    const Samples now = SamplesOf(fd, state.absorbed);
    if (now.head != state.headHash || now.tail != state.tailHash)
      return "changed within the " + std::to_string(state.absorbed) + " bytes absorbed from it";
  }
  return "";
}

void Absorber::Absorb(const SessionFile& file, bool again) {
  try {
    AbsorbFile(file, again);
  } catch (const SessionReadError& e) {
    mStore.Rollback();
    mSettings.log("WARNING", "Session file " + file.path + " cannot be read (" + e.Message +
                                 "); it is skipped" + AccessAdvice(file.path));
    ++mSummary.unusableSessions;
    if (outcome.skippedSessions++ == 0)
      outcome.firstSkipped = file.name + ": cannot be read (" + e.Message + ")";
  }
}

void Absorber::AbsorbFile(const SessionFile& file, bool again) {
  UniqueFd fd(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) throw SessionReadError(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw SessionReadError(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) {
    // Opened without blocking and never read: a FIFO would hold the run.
    mSettings.log("WARNING", "Session file " + file.path +
                                 " is not a regular file (a FIFO, device or folder); it is "
                                 "skipped: move it out of the downloads folder");
    ++mSummary.unusableSessions;
    if (outcome.skippedSessions++ == 0) outcome.firstSkipped = file.name + ": not a regular file";
    return;
  }
  const int64_t size = st.st_size;

  // The cheap look first, outside any transaction: most files are done.
  std::optional<SessionState> known = mStore.Session(file.name);
  // Only a stored session can have been read with another pattern.
  again = again && known && mStore.SessionPattern(known->id) != mSettings.pattern->Text();
  bool restart = again || (known && !Change(fd.Get(), *known, size).empty());
  const int64_t from = known && !restart ? known->absorbed : 0;
  if (!restart) {
    if (size == from) return;
    if (size - from < int64_t{64} * 1024) {
      const std::string rest = ReadAt(fd.Get(), from, size - from);
      const size_t stop = rest.find_first_of(kLineEnds);
      // Only a line still being written (or a last prompt), or only the rest
      // of a line end.
      if (stop == std::string::npos || rest.find_first_not_of(kLineEnds) == std::string::npos)
        return;
    }
  }

  mStore.Begin();
  try {
    // Another run may have absorbed more since the look.
    known = mStore.Session(file.name);
    std::string change;
    if (known) {
      change = Change(fd.Get(), *known, size);
      if (again && mStore.SessionPattern(known->id) == mSettings.pattern->Text()) again = false;
      if (again && !mAgainAnnounced) {
        mSettings.log("INFO", "RecordPattern \"" + mSettings.pattern->Text() +
                                  "\" is not the one the stored sessions were read with: every "
                                  "session file is read again from its start");
        mAgainAnnounced = true;
      }
    }
    restart = again || !change.empty();
    if (!change.empty()) {
      mSettings.log("WARNING", "Session file " + file.path + " " + change +
                                   "; it is read again from its start (its stored records stay)");
      ++mSummary.changedSessions;
    }
    mNow = mClock.WallSeconds();
    SessionState state = known ? *known : SessionState{mStore.AddSession(file.name, mNow), 0, 0, 0};
    AbsorbFrom(fd.Get(), file, state, restart ? 0 : state.absorbed, size, restart);
  } catch (...) {
    mStore.Rollback();
    throw;
  }
}

void Absorber::AbsorbFrom(int fd, const SessionFile& file, SessionState state, int64_t from,
                          int64_t size, bool restart) {
  mFound = mFresh = mDuplicates = mConflicts = mMatched = 0;
  mReplyLines = NamedLine();
  mRanges = RecordRecoveryUtils::RangeCollector();
  const int64_t end = ScanLines(fd, from, size, [&](std::string_view line, int64_t offset) {
    Line(line, offset, file, state.id);
  });
  // No whole line after all; a file read again is noted as read even then.
  if (end == from && !restart) {
    mStore.Rollback();
    return;
  }
  state.absorbed = end;
  const Samples samples = SamplesOf(fd, end);
  state.headHash = samples.head;
  state.tailHash = samples.tail;
  mStore.UpdateSession(state, mFound, mFresh, mDuplicates, mConflicts, mNow);
  mStore.SetSessionPattern(state.id, mSettings.pattern->Text());
  mStore.NoteTyped();
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
  if (mReplyLines.count > 0 && mMatched == 0) {
    mSettings.log("WARNING", "Session file " + file.path + " holds " +
                                 std::to_string(mReplyLines.count) +
                                 " reply lines but not one record for RecordPattern \"" +
                                 mSettings.pattern->Text() + "\"; the first: " + mReplyLines.first +
                                 "; fix the pattern and extract again: every session file is "
                                 "then read again");
    ++mSummary.sessionsWithoutRecords;
  }
}

void Absorber::Line(std::string_view line, int64_t offset, const SessionFile& file,
                    int64_t session) {
  if (line.empty() || IsDialogueLine(line, mSettings.prompt)) return;
  mReplyLines.Add(file.name, offset, line);
  const RecordPattern::Match match = mSettings.pattern->Classify(line);
  switch (match.kind) {
    case RecordPattern::Kind::kNoMatch:
      return;
    case RecordPattern::Kind::kNotNumber:
      mNotNumbers.Add(file.name, offset, line);
      return;
    case RecordPattern::Kind::kTooLarge:
      ++mMatched;
      mTooLarge.Add(file.name, offset, line);
      return;
    case RecordPattern::Kind::kRecord:
      break;
  }
  ++mMatched;
  ++mFound;
  int64_t firstSession = 0;
  switch (mStore.Put(match.number, line, session, offset, mNow, firstSession)) {
    case PutResult::kNew:
      ++mFresh;
      mRanges.Add(match.number);
      mStore.PutTyped(match.number, line);
      break;
    case PutResult::kDuplicate:
      ++mDuplicates;
      break;
    case PutResult::kConflict:
      ++mConflicts;
      if (mConflictsNamed++ < kConflictsNamed)
        mSettings.log("WARNING", "Record " + std::to_string(match.number) + " in " + file.name +
                                     " (byte " + std::to_string(offset) +
                                     ") differs from the one stored from " +
                                     mStore.SessionName(firstSession) +
                                     "; the stored line is kept, the new one is in conflicts");
      break;
  }
}

void Absorber::Report() {
  if (mConflictsNamed > kConflictsNamed)
    mSettings.log("WARNING", std::to_string(mConflictsNamed - kConflictsNamed) +
                                 " more conflicting records (" + std::to_string(mConflictsNamed) +
                                 " in all this run); every one is in the conflicts table");
  if (mNotNumbers.count > 0)
    mSettings.log("WARNING", std::to_string(mNotNumbers.count) + " lines match RecordPattern \"" +
                                 mSettings.pattern->Text() +
                                 "\" but its first group is not only digits; they are no "
                                 "records; the first: " +
                                 mNotNumbers.first);
  const TypingIssues& typing = mSummary.typing;
  auto warn = [this](const TypingIssue& issue, const std::string& what, const std::string& then) {
    if (issue.count > 0)
      mSettings.log("WARNING", std::to_string(issue.count) + " " + what + "; " + then +
                                   " (the stored lines are kept as received); the first: record " +
                                   std::to_string(issue.firstNumber) + ": " +
                                   Shown(issue.firstText));
  };
  warn(typing.badValues, "values are not of their field's type", "they are NULL in typed_records");
  warn(typing.shortLines, "record lines have fewer fields than RecordFields names",
       "the missing fields are NULL");
  warn(typing.longLines, "record lines have more fields than RecordFields names",
       "the fields beyond are left out of typed_records");
  warn(typing.nonexistentTimes,
       "local times do not exist in TimeZone \"" + mSettings.fields.zone +
           "\" (the hour skipped when clocks go forward)",
       "their local time is kept, their _utc column is NULL");
  if (mTooLarge.count > 0)
    mSettings.log("WARNING", std::to_string(mTooLarge.count) +
                                 " record lines have numbers above 2147483647, which the record "
                                 "recovery file cannot hold; they are not stored (first: " +
                                 mTooLarge.first + ")");
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
  summary.typedRebuilt = store.UseFields(settings.fields, settings.zone, summary.typing);
  if (summary.typedRebuilt && *summary.typedRebuilt > 0)
    settings.log("INFO",
                 "The record fields are not those the typed records were made with: "
                 "the typed records were rebuilt from the " +
                     std::to_string(*summary.typedRebuilt) + " stored lines");
  Absorber absorber(settings, store, summary, clock);
  // Spares the look at each session's pattern when all were read with this one.
  const bool again = store.AnySessionReadWithOtherPattern(settings.pattern->Text());
  for (const SessionFile& file : files) absorber.Absorb(file, again);
  absorber.Report();
  // Written when it changes, so a run with nothing new leaves the store as it was.
  const ExtractionOutcome before = store.ReadOutcome();
  if (before.skippedSessions != absorber.outcome.skippedSessions ||
      before.firstSkipped != absorber.outcome.firstSkipped)
    store.WriteOutcome(absorber.outcome);
  const StoreCounts counts = store.Counts();
  summary.stored = counts.records;
  summary.storedConflicts = counts.conflicts;
  if (!settings.recoveryFile.empty())
    UpdateRecoveryFile(settings, store, absorber.anythingNew, summary);
  return summary;
}

}  // namespace Records
