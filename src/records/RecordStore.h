#pragma once
// The record store of one deployment: an SQLite file ("records.sqlite" in the
// deployment folder) with every record once, by number, as received; the
// conflicting lines seen for a stored number; the session files absorbed and
// how far; and the ranges of stored numbers, kept so the record recovery file
// can be brought up to date without reading every record.
//
// Writers change the file only between Begin() and Commit(): SQLite's journal
// puts it back as it was before Begin() after a crash or a kill. Writers of one
// file wait for each other (BEGIN IMMEDIATE, a busy time-out).

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/BaseError.h"
#include "base/TimeZone.h"
#include "records/RecordFields.h"
#include "records/TypedRow.h"
#include "recovery/RangeEntry.h"

namespace Records {

// The store cannot be opened, read or changed; Message names the file.
PELOX5_DECLARE_ERROR(StoreError, BaseError);
// A reader found the journal of an extraction that was killed and may not
// roll it back itself; the next extraction does.
PELOX5_DECLARE_ERROR(StoreCutOff, StoreError);

// How far a session file was absorbed, and samples of what was absorbed, so
// that a file changed under that prefix is noticed without reading all of it.
struct SessionState {
  int64_t id = 0;
  int64_t absorbed = 0;  // bytes, up to the end of the last whole line
  int64_t headHash = 0;  // of the first kSampleBytes absorbed
  int64_t tailHash = 0;  // of the last kSampleBytes absorbed
};

struct StoreCounts {
  int64_t records = 0;
  int64_t conflicts = 0;
};

// Where the record recovery file stands: the store's generation (one more per
// absorbing commit), the generation last written to the file, and the file's
// identity (device, inode, size, time) just after that write.
struct RcdSync {
  int64_t generation = 0;
  int64_t rcdGeneration = -1;
  std::string rcdStamp;
};

enum class PutResult { kNew, kDuplicate, kConflict };

// What the last extraction left unabsorbed: how many session files it had to
// skip and, for the first of them, its name and why.
struct ExtractionOutcome {
  int64_t skippedSessions = 0;
  std::string firstSkipped;
};

// A column of the typed records after "number": its field's name, type word
// ("integer", "real", "text", "time"), unit and time format; for a "_utc"
// column the time field it belongs to (its type "text").
struct TypedColumn {
  std::string name, type, unit, format, utcOf;
};

// Records per local day ("YYYY-MM-DD") of the first time field.
struct DayCount {
  std::string day;
  int64_t records = 0;
};

// Bounds on a typed column's text, both included; "" leaves that side open.
struct TextBounds {
  int column = -1;  // position among the typed columns
  std::string since, until;
};

class RecordStore {
 public:
  // How long a writer waits for another writer, or for readers to finish.
  static constexpr int kBusyTimeoutMs = 60000;

  // Opens, or creates with its schema, the store at `path` for writing.
  // Refuses a file that is not a regular file or holds another program's
  // tables, before anything is written.
  static RecordStore OpenForWriting(const std::string& path, int busyTimeoutMs = kBusyTimeoutMs);
  // Opens an existing store read-only; none when the file does not exist.
  static std::optional<RecordStore> OpenForReading(const std::string& path);

  RecordStore(RecordStore&&) noexcept;
  RecordStore& operator=(RecordStore&&) noexcept;
  ~RecordStore();

  void Begin();  // BEGIN IMMEDIATE: waits for another writer
  void Commit();
  void Rollback();  // never raises

  std::optional<SessionState> Session(const std::string& name);
  std::string SessionName(int64_t id);
  int64_t AddSession(const std::string& name, int64_t now);
  void UpdateSession(const SessionState& state, int64_t found, int64_t fresh, int64_t duplicates,
                     int64_t conflicts, int64_t now);

  // Stores the record unless its number is stored. For a stored number,
  // kDuplicate when the stored line is the same (or this conflicting line was
  // kept before), kConflict when a new conflicting line was kept;
  // `firstSession` then names the session of the stored line.
  PutResult Put(int32_t number, std::string_view line, int64_t session, int64_t offset, int64_t now,
                int64_t& firstSession);

  // Adds the ranges of numbers stored by this transaction, the counts, and one
  // generation.
  void NoteAbsorbed(const std::vector<RecordRecoveryUtils::RangeEntry>& fresh, int64_t records,
                    int64_t conflicts);

  std::vector<RecordRecoveryUtils::RangeEntry> StoredRanges();
  StoreCounts Counts();
  RcdSync ReadRcdSync();
  void WriteRcdSync(int64_t generation, const std::string& stamp);

  // Calls `emit` with each stored line from `from` to `to`, by number.
  void ForEachLine(int64_t from, int64_t to,
                   const std::function<void(int64_t number, std::string_view line)>& emit);

  // The RecordPattern text a session was last read with; none for a session
  // read before the store kept it.
  std::optional<std::string> SessionPattern(int64_t id);
  // Within a transaction.
  void SetSessionPattern(int64_t id, const std::string& pattern);
  // Whether any stored session was read with another pattern (or an unknown one).
  bool AnySessionReadWithOtherPattern(const std::string& pattern);

  ExtractionOutcome ReadOutcome();
  // In a transaction of its own.
  void WriteOutcome(const ExtractionOutcome& outcome);

  // The typed records, derived from the stored lines. When the cfg names its
  // fields the table typed_records holds them (with typed_columns, record_days
  // and the meta key record_interval_s); without, the fields are field1 to
  // fieldN, text, split from the lines when read.

  // Makes the typed records follow `def` (`zone` loaded for its zone): when
  // the store's definition differs, rebuilds them from the stored lines in a
  // transaction of its own. Returns the records typed by a rebuild; none when
  // the definition was the store's. Outside a transaction.
  std::optional<int64_t> UseFields(const FieldDefinition& def, const TimeZone::Zone* zone,
                                   TypingIssues& issues);
  // Within the transaction that stores the record, after UseFields.
  void PutTyped(int64_t number, std::string_view line);
  // Adds the days, gaps and field count of the records put since the last call;
  // within their transaction, before its commit.
  void NoteTyped();

  std::vector<TypedColumn> TypedColumns();
  std::vector<DayCount> RecordDays(const std::string& fromDay);
  std::optional<int64_t> RecordInterval();
  // Calls `emit` with each typed record from `from` to `to`, by number, its
  // values as text by column (none for NULL).
  using TypedRowFunction =
      std::function<void(int64_t number, const std::vector<std::optional<std::string>>& values)>;
  void ForEachTypedRow(int64_t from, int64_t to, const TypedRowFunction& emit);
  // Only the rows whose column `bounds.column` lies within the bounds.
  void ForEachTypedRow(int64_t from, int64_t to, const TextBounds& bounds,
                       const TypedRowFunction& emit);
  // Publishing to a central database (PublishBookkeeping.cc). The numbers
  // published so far are kept as ranges; the store's conflicts are published
  // in id order up to PublishedConflictId.
  std::vector<RecordRecoveryUtils::RangeEntry> PublishedRanges();
  int64_t PublishedConflictId();
  // In a transaction of its own: adds `ranges` to the published ranges and
  // raises the published conflict id to `conflictId` (never lowers it).
  void MarkPublished(const std::vector<RecordRecoveryUtils::RangeEntry>& ranges,
                     int64_t conflictId);
  // When records first waited for a publish that failed; none while nothing waits.
  std::optional<int64_t> UnpublishedSince();
  // In a transaction of its own; none clears it.
  void SetUnpublishedSince(std::optional<int64_t> since);
  // Each stored record from `from` to `to`, by number, with the name of its
  // session and when it was absorbed (unix seconds).
  void ForEachRecordOfSession(
      int64_t from, int64_t to,
      const std::function<void(int64_t number, std::string_view line, const std::string& session,
                               int64_t absorbedAt)>& emit);
  // Each kept conflict with an id above `afterId`, by id.
  void ForEachConflictAfter(
      int64_t afterId,
      const std::function<void(int64_t id, int64_t number, std::string_view line,
                               const std::string& session, int64_t absorbedAt)>& emit);

  const std::string& Path() const { return mPath; }

 private:
  struct Handle;
  RecordStore(std::string path, std::unique_ptr<Handle> handle);
  [[noreturn]] void Fail(const std::string& what);
  void Exec(const char* sql);
  sqlite3_stmt* Prepared(int slot, const char* sql);
  int64_t MetaInt(const char* key, int64_t fallback);
  // A text value of the meta table; "" when the key is missing or holds no text.
  std::string MetaText(const char* key);
  void SetMeta(const char* key, int64_t value);
  // Creates or replaces a meta value (a text, or none to remove it).
  void PutMeta(const char* key, const std::optional<std::string>& text);
  void PutMeta(const char* key, int64_t value);
  bool HasTable(const char* name);
  void PrepareTyped(const FieldDefinition& def, const TimeZone::Zone* zone, TypingIssues& issues);
  void RebuildTyped(const FieldDefinition& def, const TimeZone::Zone* zone, TypingIssues& issues);
  std::optional<int64_t> StoredFirstTime(int64_t number);
  std::optional<int64_t> EarlierInstant(int64_t number, int field);
  void CountGap(std::optional<int64_t> before, std::optional<int64_t> after);
  void EndOfRun();
  std::vector<TypedColumn> GenericColumns();
  bool HasPatternTable();
  sqlite3* Db() const;
  void SetMetaValue(const char* key, std::optional<int64_t> value);

  std::string mPath;
  std::unique_ptr<Handle> mHandle;
};

}  // namespace Records
