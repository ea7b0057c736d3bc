#include "records/RecordStore.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>

#include "records/StoreStatement.h"
#include "recovery/RangeSet.h"

namespace Records {

namespace {

// Version 1 of the tables (documented for users who query them with sqlite3).
constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS sessions(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  absorbed_bytes INTEGER NOT NULL DEFAULT 0,
  head_hash INTEGER NOT NULL DEFAULT 0,
  tail_hash INTEGER NOT NULL DEFAULT 0,
  records INTEGER NOT NULL DEFAULT 0,
  new_records INTEGER NOT NULL DEFAULT 0,
  duplicates INTEGER NOT NULL DEFAULT 0,
  conflicts INTEGER NOT NULL DEFAULT 0,
  first_absorbed_at INTEGER NOT NULL,
  last_absorbed_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS records(
  number INTEGER PRIMARY KEY,
  line BLOB NOT NULL,
  session INTEGER NOT NULL REFERENCES sessions(id),
  offset INTEGER NOT NULL,
  absorbed_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS conflicts(
  id INTEGER PRIMARY KEY,
  number INTEGER NOT NULL,
  line BLOB NOT NULL,
  session INTEGER NOT NULL REFERENCES sessions(id),
  offset INTEGER NOT NULL,
  absorbed_at INTEGER NOT NULL,
  UNIQUE(number, line));
CREATE TABLE IF NOT EXISTS stored_ranges(
  first INTEGER PRIMARY KEY,
  last INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS meta(
  key TEXT PRIMARY KEY,
  value);
INSERT OR IGNORE INTO meta(key, value) VALUES
  ('schema_version', 1), ('generation', 0), ('rcd_generation', -1), ('rcd_stamp', ''),
  ('stored_records', 0), ('conflicts', 0);
)SQL";

// Tables added since version 1, created in stores of every age. The numbers
// published to a central database, as ranges.
constexpr const char* kAddedTables = R"SQL(
CREATE TABLE IF NOT EXISTS published_ranges(
  first INTEGER PRIMARY KEY,
  last INTEGER NOT NULL);
)SQL";

// Prepared statements, by slot.
enum Slot {
  kSelectSession,
  kSelectSessionName,
  kInsertSession,
  kUpdateSession,
  kInsertRecord,
  kSelectRecord,
  kInsertConflict,
  kSelectMeta,
  kUpdateMeta,
  kRangesBelow,
  kDeleteRanges,
  kInsertRange,
  kAllRanges,
  kLines,
  kSelectPattern,
  kUpsertPattern,
  kOtherPattern,
  kUpsertMeta,
  kDeleteMeta,
  kHasTable,
  kAddDay,
  kAddGap,
  kUsualGap,
  kSlots
};

}  // namespace

namespace {

// What typing the records of this store needs: the definition and its typer,
// the statements for its columns, and what the records put since the last
// NoteTyped add to the days, the gaps and the field count.
struct TypedState {
  FieldDefinition def;
  std::optional<TimeZone::Zone> zone;
  std::unique_ptr<LineTyper> typer;
  TypingIssues* issues = nullptr;
  Statement insert, firstTime;
  std::vector<Statement> earlier;  // by field
  std::vector<TypedValue> values;
  std::map<std::string, int64_t> days;
  int64_t* dayCount = nullptr;  // the entry of `days` counted last
  const std::string* lastDay = nullptr;
  std::map<int64_t, int64_t> gaps;
  int64_t maxFields = 0, committedMaxFields = 0;
  bool maxFieldsGrew = false;
  std::optional<int64_t> last;  // the number put last, and its first time
  std::optional<int64_t> lastTime;
};

}  // namespace

struct RecordStore::Handle {
  sqlite3* db = nullptr;
  std::array<sqlite3_stmt*, kSlots> statements{};
  std::unique_ptr<TypedState> typed;
  ~Handle() {
    typed.reset();
    for (sqlite3_stmt* s : statements) sqlite3_finalize(s);
    sqlite3_close(db);
  }
};

RecordStore::RecordStore(std::string path, std::unique_ptr<Handle> handle)
    : mPath(std::move(path)), mHandle(std::move(handle)) {}
RecordStore::RecordStore(RecordStore&&) noexcept = default;
RecordStore& RecordStore::operator=(RecordStore&&) noexcept = default;
RecordStore::~RecordStore() = default;
sqlite3* RecordStore::Db() const { return mHandle->db; }

namespace {

// What SQLite's own message leaves unsaid: which limit was met, or who holds
// the lock that timed out.
std::string CauseOf(sqlite3* db) {
  const int code = sqlite3_errcode(db);
  const int err = sqlite3_system_errno(db);
  // SQLite does not always keep the errno of a failed write: a write that
  // fails while this process has a file-size limit is taken as that limit.
  rlimit limit{};
  const bool sizeLimited =
      ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
  if (err == EFBIG ||
      (sizeLimited && (code == SQLITE_FULL || sqlite3_extended_errcode(db) == SQLITE_IOERR_WRITE)))
    return "the file-size limit of this process (ulimit -f, " +
           (sizeLimited ? std::to_string(limit.rlim_cur) + " bytes" : std::string("its bytes")) +
           ") is reached; raise it or run without one";
  if (err == ENOSPC || code == SQLITE_FULL) return "the file system is full";
  if (code == SQLITE_BUSY)
    return "another program holds the store open in a transaction (an extraction, an sqlite3 "
           "shell or a database viewer with a query open); close it and run again";
  return sqlite3_errmsg(db);
}

}  // namespace

void RecordStore::Fail(const std::string& what) {
  throw StoreError("Record store " + mPath + ": " + what + ": " + CauseOf(mHandle->db));
}

void RecordStore::Exec(const char* sql) {
  if (sqlite3_exec(mHandle->db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail("cannot run");
}

sqlite3_stmt* RecordStore::Prepared(int slot, const char* sql) {
  sqlite3_stmt*& s = mHandle->statements[slot];
  if (!s) {
    if (sqlite3_prepare_v3(mHandle->db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
        SQLITE_OK)
      Fail("cannot read its tables (is it a record store?)");
  } else {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
  return s;
}

namespace {

// The one step of a statement that returns no row; the statement is reset at
// once, so it holds no lock.
bool Done(sqlite3_stmt* s) {
  const bool done = sqlite3_step(s) == SQLITE_DONE;
  sqlite3_reset(s);
  return done;
}

// Resets a statement that returned rows when the reader is done with them: a
// statement left stepping holds a read lock that would keep other writers
// from committing.
struct ResetOnExit {
  sqlite3_stmt* statement;
  ~ResetOnExit() { sqlite3_reset(statement); }
};

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The store and the journal SQLite keeps beside it must be regular files: a
// FIFO would block the open until someone writes to it, a device or folder
// is never a store. Refused before SQLite opens anything.
void RefuseOtherFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string name = path + suffix;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode)) continue;
    throw StoreError("Record store " + (*suffix ? "file " + name : path) + " is " +
                     KindOf(st.st_mode) + ", not a regular file; move it away and run again");
  }
}

std::unique_ptr<sqlite3, int (*)(sqlite3*)> OpenDb(const std::string& path, int flags,
                                                   std::string& error) {
  sqlite3* db = nullptr;
  // One thread uses a connection: SQLite's own locking of it is not needed.
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owned(db, sqlite3_close);
  if (rc != SQLITE_OK) error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return owned;
}

}  // namespace

RecordStore RecordStore::OpenForWriting(const std::string& path, int busyTimeoutMs) {
  // A file that nobody may write is refused before SQLite opens it, so even a
  // run as root leaves it untouched.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
    throw StoreError("Record store " + path + " is read-only; it is left as it is");
  RefuseOtherFiles(path);
  std::string error;
  auto db = OpenDb(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (!error.empty()) throw StoreError("Record store " + path + " cannot be opened: " + error);
  if (sqlite3_db_readonly(db.get(), "main") == 1)
    throw StoreError("Record store " + path + " is read-only; it is left as it is");
  auto handle = std::make_unique<Handle>();
  handle->db = db.release();
  RecordStore store(path, std::move(handle));
  sqlite3_busy_timeout(store.mHandle->db, busyTimeoutMs);
  // Reading the schema tells an SQLite file from any other file; a file of
  // another kind fails here, before anything is written. Our tables go only
  // into an empty file: one that holds other tables belongs to another program.
  sqlite3_stmt* check = nullptr;
  if (sqlite3_prepare_v2(store.mHandle->db,
                         "SELECT count(*), count(CASE WHEN name = 'meta' THEN 1 END) "
                         "FROM sqlite_master",
                         -1, &check, nullptr) != SQLITE_OK)
    store.Fail("cannot be read");
  const int rc = sqlite3_step(check);
  const int objects = rc == SQLITE_ROW ? sqlite3_column_int(check, 0) : 0;
  const bool known = rc == SQLITE_ROW && sqlite3_column_int(check, 1) == 1;
  sqlite3_finalize(check);
  if (rc != SQLITE_ROW) store.Fail("cannot be read");
  if (!known && objects > 0)
    throw StoreError("Record store " + path +
                     " is an SQLite file of another program (it holds tables but not a record "
                     "store's); it is left untouched -- move it away or name another deployment");
  if (!known) {
    store.Begin();
    try {
      store.Exec(kSchema);
      store.Commit();
    } catch (...) {
      store.Rollback();
      throw;
    }
  }
  if (store.MetaInt("schema_version", 0) != 1)
    throw StoreError("Record store " + path + " has a schema this program does not know");
  // Tables added after the first version; older stores get them here.
  store.Exec(kAddedTables);
  return store;
}

namespace {

// Whether a read-only connection finds the journal of a writer that was cut
// off: SQLite must roll it back before anyone can read, which takes a writer.
bool NeedsRollback(sqlite3* db) {
  sqlite3_stmt* probe = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &probe, nullptr) !=
      SQLITE_OK)
    return (sqlite3_extended_errcode(db) & 0xff) == SQLITE_READONLY;
  const int rc = sqlite3_step(probe);
  sqlite3_finalize(probe);
  return rc != SQLITE_ROW && (sqlite3_extended_errcode(db) & 0xff) == SQLITE_READONLY;
}

}  // namespace

std::optional<RecordStore> RecordStore::OpenForReading(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  RefuseOtherFiles(path);
  std::string error;
  auto db = OpenDb(path, SQLITE_OPEN_READONLY, error);
  if (!error.empty()) throw StoreError("Record store " + path + " cannot be opened: " + error);
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  if (NeedsRollback(db.get())) {
    // An extraction was killed before its commit. A reader that may write
    // puts the store back to its last commit, as the next extraction would;
    // one that may not says so instead of failing on SQLite's words.
    db = OpenDb(path, SQLITE_OPEN_READWRITE, error);
    if (!error.empty() || sqlite3_db_readonly(db.get(), "main") == 1 || NeedsRollback(db.get()))
      throw StoreCutOff("Record store " + path +
                        ": an extraction was cut off before it finished; the next extraction "
                        "mends the store (until then it cannot be read by this account)");
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  }
  auto handle = std::make_unique<Handle>();
  handle->db = db.release();
  RecordStore store(path, std::move(handle));
  if (store.MetaInt("schema_version", 0) != 1)
    throw StoreError("Record store " + path + " has a schema this program does not know");
  return store;
}

void RecordStore::Begin() { Exec("BEGIN IMMEDIATE"); }
void RecordStore::Commit() { Exec("COMMIT"); }
void RecordStore::Rollback() {
  if (!sqlite3_get_autocommit(mHandle->db))
    sqlite3_exec(mHandle->db, "ROLLBACK", nullptr, nullptr, nullptr);
  // What the records put in the transaction would have added goes with it.
  if (TypedState* t = mHandle->typed.get()) {
    t->days.clear();
    t->dayCount = nullptr;
    t->lastDay = nullptr;
    t->gaps.clear();
    t->last.reset();
    t->lastTime.reset();
    t->maxFields = t->committedMaxFields;
    t->maxFieldsGrew = false;
  }
}

std::optional<SessionState> RecordStore::Session(const std::string& name) {
  sqlite3_stmt* s =
      Prepared(kSelectSession,
               "SELECT id, absorbed_bytes, head_hash, tail_hash FROM sessions WHERE name = ?");
  ResetOnExit resetS{s};
  sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) Fail("cannot read the sessions");
  return SessionState{sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1),
                      sqlite3_column_int64(s, 2), sqlite3_column_int64(s, 3)};
}

std::string RecordStore::SessionName(int64_t id) {
  sqlite3_stmt* s = Prepared(kSelectSessionName, "SELECT name FROM sessions WHERE id = ?");
  ResetOnExit resetS{s};
  sqlite3_bind_int64(s, 1, id);
  if (sqlite3_step(s) != SQLITE_ROW) return "session " + std::to_string(id);
  return reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
}

int64_t RecordStore::AddSession(const std::string& name, int64_t now) {
  sqlite3_stmt* s =
      Prepared(kInsertSession,
               "INSERT INTO sessions(name, first_absorbed_at, last_absorbed_at) VALUES(?, ?, ?)");
  sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, now);
  sqlite3_bind_int64(s, 3, now);
  if (!Done(s)) Fail("cannot add a session");
  return sqlite3_last_insert_rowid(mHandle->db);
}

void RecordStore::UpdateSession(const SessionState& state, int64_t found, int64_t fresh,
                                int64_t duplicates, int64_t conflicts, int64_t now) {
  sqlite3_stmt* s =
      Prepared(kUpdateSession,
               "UPDATE sessions SET absorbed_bytes = ?, head_hash = ?, tail_hash = ?, "
               "records = records + ?, new_records = new_records + ?, "
               "duplicates = duplicates + ?, conflicts = conflicts + ?, "
               "last_absorbed_at = ? WHERE id = ?");
  sqlite3_bind_int64(s, 1, state.absorbed);
  sqlite3_bind_int64(s, 2, state.headHash);
  sqlite3_bind_int64(s, 3, state.tailHash);
  sqlite3_bind_int64(s, 4, found);
  sqlite3_bind_int64(s, 5, fresh);
  sqlite3_bind_int64(s, 6, duplicates);
  sqlite3_bind_int64(s, 7, conflicts);
  sqlite3_bind_int64(s, 8, now);
  sqlite3_bind_int64(s, 9, state.id);
  if (!Done(s)) Fail("cannot update a session");
}

PutResult RecordStore::Put(int32_t number, std::string_view line, int64_t session, int64_t offset,
                           int64_t now, int64_t& firstSession) {
  sqlite3_stmt* insert = Prepared(kInsertRecord,
                                  "INSERT OR IGNORE INTO records(number, line, session, offset, "
                                  "absorbed_at) VALUES(?, ?, ?, ?, ?)");
  sqlite3_bind_int(insert, 1, number);
  sqlite3_bind_blob(insert, 2, line.data(), static_cast<int>(line.size()), SQLITE_STATIC);
  sqlite3_bind_int64(insert, 3, session);
  sqlite3_bind_int64(insert, 4, offset);
  sqlite3_bind_int64(insert, 5, now);
  if (!Done(insert)) Fail("cannot store a record");
  if (sqlite3_changes(mHandle->db) == 1) return PutResult::kNew;

  sqlite3_stmt* stored =
      Prepared(kSelectRecord, "SELECT line, session FROM records WHERE number = ?");
  ResetOnExit resetStored{stored};
  sqlite3_bind_int(stored, 1, number);
  if (sqlite3_step(stored) != SQLITE_ROW) Fail("cannot read a stored record");
  const void* bytes = sqlite3_column_blob(stored, 0);
  const std::string_view storedLine(static_cast<const char*>(bytes),
                                    static_cast<size_t>(sqlite3_column_bytes(stored, 0)));
  if (storedLine == line) return PutResult::kDuplicate;
  firstSession = sqlite3_column_int64(stored, 1);

  sqlite3_stmt* conflict = Prepared(kInsertConflict,
                                    "INSERT OR IGNORE INTO conflicts(number, line, session, "
                                    "offset, absorbed_at) VALUES(?, ?, ?, ?, ?)");
  sqlite3_bind_int(conflict, 1, number);
  sqlite3_bind_blob(conflict, 2, line.data(), static_cast<int>(line.size()), SQLITE_STATIC);
  sqlite3_bind_int64(conflict, 3, session);
  sqlite3_bind_int64(conflict, 4, offset);
  sqlite3_bind_int64(conflict, 5, now);
  if (!Done(conflict)) Fail("cannot store a conflict");
  return sqlite3_changes(mHandle->db) == 1 ? PutResult::kConflict : PutResult::kDuplicate;
}

int64_t RecordStore::MetaInt(const char* key, int64_t fallback) {
  sqlite3_stmt* s = Prepared(kSelectMeta, "SELECT value FROM meta WHERE key = ?");
  ResetOnExit resetS{s};
  sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return fallback;
  if (rc != SQLITE_ROW) Fail("cannot read its meta table");
  return sqlite3_column_int64(s, 0);
}

std::string RecordStore::MetaText(const char* key) {
  sqlite3_stmt* s = Prepared(kSelectMeta, "SELECT value FROM meta WHERE key = ?");
  ResetOnExit resetS{s};
  sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
  if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) == SQLITE_TEXT)
    return reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  return "";
}

void RecordStore::SetMeta(const char* key, int64_t value) {
  sqlite3_stmt* s = Prepared(kUpdateMeta, "UPDATE meta SET value = ? WHERE key = ?");
  sqlite3_bind_int64(s, 1, value);
  sqlite3_bind_text(s, 2, key, -1, SQLITE_STATIC);
  if (!Done(s)) Fail("cannot update its meta table");
}

void RecordStore::NoteAbsorbed(const std::vector<RecordRecoveryUtils::RangeEntry>& fresh,
                               int64_t records, int64_t conflicts) {
  // Only the stored ranges that overlap or touch a fresh one are read; they
  // and the fresh ranges merge into the runs that replace them.
  std::vector<RecordRecoveryUtils::RangeEntry> runs = fresh;
  for (const RecordRecoveryUtils::RangeEntry& range : fresh) {
    sqlite3_stmt* below = Prepared(
        kRangesBelow, "SELECT first, last FROM stored_ranges WHERE first <= ? ORDER BY first DESC");
    ResetOnExit resetBelow{below};
    sqlite3_bind_int64(below, 1, int64_t{range.max} + 1);
    int rc;
    while ((rc = sqlite3_step(below)) == SQLITE_ROW) {
      const int64_t f = sqlite3_column_int64(below, 0), l = sqlite3_column_int64(below, 1);
      if (l < int64_t{range.min} - 1) break;
      runs.emplace_back(static_cast<int32_t>(f), static_cast<int32_t>(l));
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail("cannot read the stored ranges");
  }
  RecordRecoveryUtils::MergeRanges(runs);
  // Every stored range that merged starts within one of the runs, and no other does.
  for (const RecordRecoveryUtils::RangeEntry& run : runs) {
    sqlite3_stmt* remove =
        Prepared(kDeleteRanges, "DELETE FROM stored_ranges WHERE first BETWEEN ? AND ?");
    sqlite3_bind_int64(remove, 1, run.min);
    sqlite3_bind_int64(remove, 2, run.max);
    if (!Done(remove)) Fail("cannot update the stored ranges");
    sqlite3_stmt* insert =
        Prepared(kInsertRange, "INSERT INTO stored_ranges(first, last) VALUES(?, ?)");
    sqlite3_bind_int64(insert, 1, run.min);
    sqlite3_bind_int64(insert, 2, run.max);
    if (!Done(insert)) Fail("cannot update the stored ranges");
  }
  SetMeta("stored_records", MetaInt("stored_records", 0) + records);
  SetMeta("conflicts", MetaInt("conflicts", 0) + conflicts);
  SetMeta("generation", MetaInt("generation", 0) + 1);
}

std::vector<RecordRecoveryUtils::RangeEntry> RecordStore::StoredRanges() {
  std::vector<RecordRecoveryUtils::RangeEntry> ranges;
  sqlite3_stmt* s = Prepared(kAllRanges, "SELECT first, last FROM stored_ranges ORDER BY first");
  ResetOnExit resetS{s};
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    ranges.emplace_back(sqlite3_column_int(s, 0), sqlite3_column_int(s, 1));
  if (rc != SQLITE_DONE) Fail("cannot read the stored ranges");
  return ranges;
}

StoreCounts RecordStore::Counts() {
  return {MetaInt("stored_records", 0), MetaInt("conflicts", 0)};
}

RcdSync RecordStore::ReadRcdSync() {
  RcdSync sync;
  sync.generation = MetaInt("generation", 0);
  sync.rcdGeneration = MetaInt("rcd_generation", -1);
  sync.rcdStamp = MetaText("rcd_stamp");
  return sync;
}

void RecordStore::WriteRcdSync(int64_t generation, const std::string& stamp) {
  Begin();
  try {
    // Another run may have written the file for a later generation meanwhile.
    SetMeta("rcd_generation", std::max(generation, MetaInt("rcd_generation", -1)));
    sqlite3_stmt* s = Prepared(kUpdateMeta, "UPDATE meta SET value = ? WHERE key = ?");
    sqlite3_bind_text(s, 1, stamp.data(), static_cast<int>(stamp.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 2, "rcd_stamp", -1, SQLITE_STATIC);
    if (!Done(s)) Fail("cannot update its meta table");
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
}

void RecordStore::ForEachLine(int64_t from, int64_t to,
                              const std::function<void(int64_t, std::string_view)>& emit) {
  sqlite3_stmt* s = Prepared(
      kLines, "SELECT number, line FROM records WHERE number BETWEEN ? AND ? ORDER BY number");
  ResetOnExit resetS{s};
  sqlite3_bind_int64(s, 1, from);
  sqlite3_bind_int64(s, 2, to);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const void* bytes = sqlite3_column_blob(s, 1);
    emit(sqlite3_column_int64(s, 0),
         std::string_view(static_cast<const char*>(bytes),
                          static_cast<size_t>(sqlite3_column_bytes(s, 1))));
  }
  if (rc != SQLITE_DONE) Fail("cannot read the records");
}

// The patterns live in a table of their own, added by the first extraction
// that stores one, so stores made before it open unchanged.
bool RecordStore::HasPatternTable() {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(mHandle->db,
                         "SELECT count(*) FROM sqlite_master WHERE name = 'session_patterns'", -1,
                         &s, nullptr) != SQLITE_OK)
    Fail("cannot be read");
  const int rc = sqlite3_step(s);
  const bool has = rc == SQLITE_ROW && sqlite3_column_int(s, 0) == 1;
  sqlite3_finalize(s);
  if (rc != SQLITE_ROW) Fail("cannot be read");
  return has;
}

std::optional<std::string> RecordStore::SessionPattern(int64_t id) {
  if (!HasPatternTable()) return std::nullopt;
  sqlite3_stmt* s =
      Prepared(kSelectPattern, "SELECT pattern FROM session_patterns WHERE session = ?");
  ResetOnExit resetS{s};
  sqlite3_bind_int64(s, 1, id);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) Fail("cannot read the session patterns");
  const void* bytes = sqlite3_column_blob(s, 0);
  return std::string(static_cast<const char*>(bytes),
                     static_cast<size_t>(sqlite3_column_bytes(s, 0)));
}

void RecordStore::SetSessionPattern(int64_t id, const std::string& pattern) {
  if (!HasPatternTable())
    Exec(
        "CREATE TABLE IF NOT EXISTS session_patterns("
        "session INTEGER PRIMARY KEY REFERENCES sessions(id), pattern BLOB NOT NULL)");
  sqlite3_stmt* s = Prepared(
      kUpsertPattern, "INSERT OR REPLACE INTO session_patterns(session, pattern) VALUES(?, ?)");
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_blob(s, 2, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
  if (!Done(s)) Fail("cannot store a session's pattern");
}

bool RecordStore::AnySessionReadWithOtherPattern(const std::string& pattern) {
  // Without the table every stored session was read with an unknown pattern.
  if (!HasPatternTable()) return MetaInt("generation", 0) > 0;
  sqlite3_stmt* s = Prepared(kOtherPattern,
                             "SELECT 1 FROM sessions LEFT JOIN session_patterns ON session = id "
                             "WHERE pattern IS NULL OR pattern != ? LIMIT 1");
  ResetOnExit resetS{s};
  sqlite3_bind_blob(s, 1, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail("cannot read the session patterns");
  return rc == SQLITE_ROW;
}

ExtractionOutcome RecordStore::ReadOutcome() {
  ExtractionOutcome outcome;
  outcome.skippedSessions = MetaInt("skipped_sessions", 0);
  outcome.firstSkipped = MetaText("first_skipped");
  return outcome;
}

void RecordStore::WriteOutcome(const ExtractionOutcome& outcome) {
  Begin();
  try {
    sqlite3_stmt* s = Prepared(kUpsertMeta, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    sqlite3_bind_text(s, 1, "skipped_sessions", -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, outcome.skippedSessions);
    if (!Done(s)) Fail("cannot update its meta table");
    s = Prepared(kUpsertMeta, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    sqlite3_bind_text(s, 1, "first_skipped", -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 2, outcome.firstSkipped.data(),
                      static_cast<int>(outcome.firstSkipped.size()), SQLITE_STATIC);
    if (!Done(s)) Fail("cannot update its meta table");
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
}

void RecordStore::PutMeta(const char* key, const std::optional<std::string>& text) {
  if (!text) {
    sqlite3_stmt* s = Prepared(kDeleteMeta, "DELETE FROM meta WHERE key = ?");
    sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
    if (!Done(s)) Fail("cannot update its meta table");
    return;
  }
  sqlite3_stmt* s = Prepared(kUpsertMeta, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
  sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
  sqlite3_bind_text(s, 2, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
  if (!Done(s)) Fail("cannot update its meta table");
}

void RecordStore::PutMeta(const char* key, int64_t value) {
  sqlite3_stmt* s = Prepared(kUpsertMeta, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
  sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, value);
  if (!Done(s)) Fail("cannot update its meta table");
}

bool RecordStore::HasTable(const char* name) {
  sqlite3_stmt* s = Prepared(kHasTable, "SELECT count(*) FROM sqlite_master WHERE name = ?");
  ResetOnExit resetS{s};
  sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
  if (sqlite3_step(s) != SQLITE_ROW) Fail("cannot be read");
  return sqlite3_column_int(s, 0) > 0;
}

namespace {

// Column names are plain (checked with the definition), quoted all the same.
std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

constexpr const char* kUtcLayout = "%Y-%m-%dT%H:%M:%SZ";

std::optional<int64_t> TimeOfColumn(sqlite3_stmt* s, int column, bool utc) {
  if (sqlite3_column_type(s, column) != SQLITE_TEXT) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  return ParseTime(text, utc ? kUtcLayout : kDefaultTimeFormat);
}

}  // namespace

std::optional<int64_t> RecordStore::UseFields(const FieldDefinition& def,
                                              const TimeZone::Zone* zone, TypingIssues& issues) {
  // The typed records follow the definition when it is the store's and their
  // tables are all there (a user may have dropped one).
  auto current = [&] {
    return MetaText("typed_definition") == def.Canonical() && MetaInt("max_fields", -1) >= 0 &&
           (!def.Named() || (HasTable("typed_records") && HasTable("typed_columns") &&
                             HasTable("record_days") && HasTable("record_gaps")));
  };
  if (current()) {
    PrepareTyped(def, zone, issues);
    return std::nullopt;
  }
  Begin();
  try {
    // Another extraction may have rebuilt them while this one waited.
    const bool rebuilt = current();
    if (rebuilt)
      PrepareTyped(def, zone, issues);
    else
      RebuildTyped(def, zone, issues);
    Commit();
    if (rebuilt) return std::nullopt;
  } catch (...) {
    Rollback();
    mHandle->typed.reset();
    throw;
  }
  return MetaInt("stored_records", 0);
}

void RecordStore::PrepareTyped(const FieldDefinition& def, const TimeZone::Zone* zone,
                               TypingIssues& issues) {
  {
    mHandle->typed.reset();
    auto t = std::make_unique<TypedState>();
    t->def = def;
    if (zone) t->zone = *zone;
    t->typer = std::make_unique<LineTyper>(t->def, t->zone ? &*t->zone : nullptr);
    t->issues = &issues;
    t->maxFields = t->committedMaxFields = MetaInt("max_fields", 0);
    if (def.Named()) {
      std::string sql = "INSERT OR REPLACE INTO typed_records VALUES(?";
      for (size_t i = 0; i < t->typer->Columns().size(); ++i) sql += ", ?";
      sql += ")";
      if (!(t->insert = Prepare(mHandle->db, sql.c_str()))) Fail("cannot read its typed records");
      const int first = t->typer->FirstUtcColumn() >= 0 ? t->typer->FirstUtcColumn()
                                                        : t->typer->FirstTimeColumn();
      if (first >= 0) {
        sql = "SELECT " + Quoted(t->typer->Columns()[static_cast<size_t>(first)].name) +
              " FROM typed_records WHERE number = ?";
        t->firstTime = Prepare(mHandle->db, sql.c_str());
        if (!t->firstTime) Fail("cannot read its typed records");
      }
      t->earlier.resize(def.fields.size());
    }
    mHandle->typed = std::move(t);
  }
}

void RecordStore::RebuildTyped(const FieldDefinition& def, const TimeZone::Zone* zone,
                               TypingIssues& issues) {
  mHandle->typed.reset();
  Exec(
      "DROP TABLE IF EXISTS typed_records; DROP TABLE IF EXISTS typed_columns; "
      "DROP TABLE IF EXISTS record_days; DROP TABLE IF EXISTS record_gaps; "
      "DELETE FROM meta WHERE key IN ('record_interval_s', 'typed_definition', 'max_fields')");
  if (def.Named()) {
    const std::vector<ColumnSpec> columns = ColumnsOf(def);
    std::string sql = "CREATE TABLE typed_records(number INTEGER PRIMARY KEY";
    for (const ColumnSpec& c : columns) sql += ", " + Quoted(c.name) + " " + SqlType(c.type);
    sql += ");";
    Exec(sql.c_str());
    Exec(
        "CREATE TABLE typed_columns(position INTEGER PRIMARY KEY, name TEXT NOT NULL, "
        "type TEXT NOT NULL, unit TEXT NOT NULL DEFAULT '', format TEXT NOT NULL DEFAULT '', "
        "utc_of TEXT);"
        "CREATE TABLE record_days(day TEXT PRIMARY KEY, records INTEGER NOT NULL);"
        "CREATE TABLE record_gaps(gap INTEGER PRIMARY KEY, pairs INTEGER NOT NULL);");
    Statement add = Prepare(mHandle->db,
                            "INSERT INTO typed_columns(position, name, type, unit, format, utc_of) "
                            "VALUES(?, ?, ?, ?, ?, ?)");
    if (!add) Fail("cannot make its typed records");
    for (size_t i = 0; i < columns.size(); ++i) {
      const ColumnSpec& c = columns[i];
      sqlite3_reset(add.get());
      sqlite3_bind_int64(add.get(), 1, static_cast<int64_t>(i) + 1);
      sqlite3_bind_text(add.get(), 2, c.name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(add.get(), 3, c.utcOf.empty() ? TypeWord(c.type) : "text", -1,
                        SQLITE_STATIC);
      sqlite3_bind_text(add.get(), 4, c.unit.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(add.get(), 5, c.format.c_str(), -1, SQLITE_TRANSIENT);
      if (c.utcOf.empty())
        sqlite3_bind_null(add.get(), 6);
      else
        sqlite3_bind_text(add.get(), 6, c.utcOf.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(add.get()) != SQLITE_DONE) Fail("cannot make its typed records");
    }
  }
  PutMeta("typed_definition", def.Canonical());
  PutMeta("field_separator", def.separator);
  PutMeta("max_fields", int64_t{0});
  // The new layout's statements, then every stored line by number.
  PrepareTyped(def, zone, issues);
  ForEachLine(0, INT64_MAX,
              [this](int64_t number, std::string_view line) { PutTyped(number, line); });
  NoteTyped();
}

void RecordStore::PutTyped(int64_t number, std::string_view line) {
  TypedState* t = mHandle->typed.get();
  if (!t) return;
  auto countFields = [t](int64_t fields) {
    if (fields <= t->maxFields) return;
    t->maxFields = fields;
    t->maxFieldsGrew = true;
  };
  if (!t->def.Named()) {
    countFields(FieldCount(line, t->def.separator));
    return;
  }
  std::optional<int64_t> firstTime;
  t->typer->Type(
      number, line, [this, number](int field) { return EarlierInstant(number, field); }, t->values,
      firstTime, *t->issues);
  countFields(t->typer->FieldsOfLast());
  sqlite3_stmt* s = t->insert.get();
  sqlite3_reset(s);
  sqlite3_bind_int64(s, 1, number);
  for (size_t i = 0; i < t->values.size(); ++i) {
    const TypedValue& v = t->values[i];
    const int at = static_cast<int>(i) + 2;
    switch (v.kind) {
      case TypedValue::Kind::kNull:
        sqlite3_bind_null(s, at);
        break;
      case TypedValue::Kind::kInteger:
        sqlite3_bind_int64(s, at, v.integer);
        break;
      case TypedValue::Kind::kReal:
        sqlite3_bind_double(s, at, v.real);
        break;
      case TypedValue::Kind::kText:
        sqlite3_bind_text(s, at, v.text.data(), static_cast<int>(v.text.size()), SQLITE_STATIC);
        break;
    }
  }
  if (!Done(s)) Fail("cannot store a typed record");
  if (const int day = t->typer->FirstTimeColumn(); day >= 0) {
    const TypedValue& v = t->values[static_cast<size_t>(day)];
    if (v.kind == TypedValue::Kind::kText) {
      // Records come mostly in time order: the day of the one before, counted
      // without a look into the map.
      const std::string_view day = std::string_view(v.text).substr(0, 10);
      if (!t->dayCount || day != *t->lastDay) {
        const auto entry = t->days.try_emplace(std::string(day), 0).first;
        t->dayCount = &entry->second;
        t->lastDay = &entry->first;
      }
      ++*t->dayCount;
    }
  }
  // The gaps between consecutive numbers: with the record put just before,
  // else with a stored neighbour below, and at the end of each run of
  // consecutive numbers with a stored neighbour above.
  if (t->last && *t->last == number - 1) {
    CountGap(t->lastTime, firstTime);
  } else {
    EndOfRun();
    if (firstTime) CountGap(StoredFirstTime(number - 1), firstTime);
  }
  t->last = number;
  t->lastTime = firstTime;
}

void RecordStore::CountGap(std::optional<int64_t> before, std::optional<int64_t> after) {
  if (before && after && *after > *before) ++mHandle->typed->gaps[*after - *before];
}

void RecordStore::EndOfRun() {
  TypedState* t = mHandle->typed.get();
  if (t->last && t->lastTime) CountGap(t->lastTime, StoredFirstTime(*t->last + 1));
  t->last.reset();
  t->lastTime.reset();
}

std::optional<int64_t> RecordStore::StoredFirstTime(int64_t number) {
  sqlite3_stmt* s = mHandle->typed->firstTime.get();
  if (!s) return std::nullopt;
  sqlite3_reset(s);
  ResetOnExit resetS{s};
  sqlite3_bind_int64(s, 1, number);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) Fail("cannot read its typed records");
  return TimeOfColumn(s, 0, mHandle->typed->typer->FirstUtcColumn() >= 0);
}

std::optional<int64_t> RecordStore::EarlierInstant(int64_t number, int field) {
  TypedState* t = mHandle->typed.get();
  Statement& statement = t->earlier[static_cast<size_t>(field)];
  if (!statement) {
    const std::string column = Quoted(t->def.fields[static_cast<size_t>(field)].name + "_utc");
    const std::string sql = "SELECT " + column + " FROM typed_records WHERE number < ? AND " +
                            column + " IS NOT NULL ORDER BY number DESC LIMIT 1";
    statement = Prepare(mHandle->db, sql.c_str());
    if (!statement) Fail("cannot read its typed records");
  }
  sqlite3_stmt* s = statement.get();
  sqlite3_reset(s);
  ResetOnExit resetS{s};
  sqlite3_bind_int64(s, 1, number);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) Fail("cannot read its typed records");
  return TimeOfColumn(s, 0, true);
}

void RecordStore::NoteTyped() {
  TypedState* t = mHandle->typed.get();
  if (!t) return;
  EndOfRun();
  if (t->maxFieldsGrew) PutMeta("max_fields", t->maxFields);
  t->maxFieldsGrew = false;
  t->committedMaxFields = t->maxFields;
  if (!t->def.Named()) return;
  for (const auto& [day, records] : t->days) {
    sqlite3_stmt* s = Prepared(kAddDay,
                               "INSERT INTO record_days(day, records) VALUES(?, ?) ON "
                               "CONFLICT(day) DO UPDATE SET records = records + excluded.records");
    sqlite3_bind_text(s, 1, day.data(), static_cast<int>(day.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, records);
    if (!Done(s)) Fail("cannot count the records per day");
  }
  t->days.clear();
  t->dayCount = nullptr;
  t->lastDay = nullptr;
  if (t->gaps.empty()) return;
  for (const auto& [gap, pairs] : t->gaps) {
    sqlite3_stmt* s = Prepared(kAddGap,
                               "INSERT INTO record_gaps(gap, pairs) VALUES(?, ?) ON "
                               "CONFLICT(gap) DO UPDATE SET pairs = pairs + excluded.pairs");
    sqlite3_bind_int64(s, 1, gap);
    sqlite3_bind_int64(s, 2, pairs);
    if (!Done(s)) Fail("cannot count the intervals between records");
  }
  t->gaps.clear();
  sqlite3_stmt* s =
      Prepared(kUsualGap, "SELECT gap FROM record_gaps ORDER BY pairs DESC, gap LIMIT 1");
  ResetOnExit resetS{s};
  if (sqlite3_step(s) != SQLITE_ROW) Fail("cannot count the intervals between records");
  const int64_t usual = sqlite3_column_int64(s, 0);
  sqlite3_reset(s);
  PutMeta("record_interval_s", usual);
}

std::vector<TypedColumn> RecordStore::GenericColumns() {
  int64_t fields = MetaInt("max_fields", -1);
  std::string separator = MetaText("field_separator");
  if (separator.empty()) separator = kDefaultSeparator;
  if (fields < 0) {
    // A store no extraction has typed yet: the lines tell.
    fields = 0;
    ForEachLine(0, INT64_MAX, [&](int64_t, std::string_view line) {
      fields = std::max(fields, FieldCount(line, separator));
    });
  }
  std::vector<TypedColumn> columns;
  for (int64_t i = 1; i <= fields; ++i)
    columns.push_back({"field" + std::to_string(i), "text", "", "", ""});
  return columns;
}

std::vector<TypedColumn> RecordStore::TypedColumns() {
  if (!HasTable("typed_columns")) return GenericColumns();
  Statement q = Prepare(mHandle->db,
                        "SELECT name, type, unit, format, utc_of FROM typed_columns "
                        "ORDER BY position");
  if (!q) Fail("cannot read its typed columns");
  std::vector<TypedColumn> columns;
  int rc;
  auto text = [&q](int column) {
    const unsigned char* t = sqlite3_column_text(q.get(), column);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
  };
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW)
    columns.push_back({text(0), text(1), text(2), text(3), text(4)});
  if (rc != SQLITE_DONE) Fail("cannot read its typed columns");
  return columns;
}

std::vector<DayCount> RecordStore::RecordDays(const std::string& fromDay) {
  std::vector<DayCount> days;
  if (!HasTable("record_days")) return days;
  Statement q =
      Prepare(mHandle->db, "SELECT day, records FROM record_days WHERE day >= ? ORDER BY day");
  if (!q) Fail("cannot read its records per day");
  sqlite3_bind_text(q.get(), 1, fromDay.data(), static_cast<int>(fromDay.size()), SQLITE_STATIC);
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW)
    days.push_back({reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0)),
                    sqlite3_column_int64(q.get(), 1)});
  if (rc != SQLITE_DONE) Fail("cannot read its records per day");
  return days;
}

std::optional<int64_t> RecordStore::RecordInterval() {
  const int64_t seconds = MetaInt("record_interval_s", 0);
  if (seconds <= 0) return std::nullopt;
  return seconds;
}

void RecordStore::ForEachTypedRow(int64_t from, int64_t to, const TypedRowFunction& emit) {
  ForEachTypedRow(from, to, TextBounds{}, emit);
}

void RecordStore::ForEachTypedRow(int64_t from, int64_t to, const TextBounds& bounds,
                                  const TypedRowFunction& emit) {
  std::vector<std::optional<std::string>> values;
  if (!HasTable("typed_records")) {
    // Without named fields: field1 to fieldN, split from the lines.
    std::string separator = MetaText("field_separator");
    if (separator.empty()) separator = kDefaultSeparator;
    values.resize(GenericColumns().size());
    ForEachLine(from, to, [&](int64_t number, std::string_view line) {
      size_t i = 0;
      SplitFields(line, separator, [&](std::string_view field) {
        if (i >= values.size()) return;
        std::optional<std::string>& slot = values[i++];
        if (slot)
          slot->assign(field);
        else
          slot.emplace(field);
      });
      for (; i < values.size(); ++i) values[i].reset();
      emit(number, values);
    });
    return;
  }
  const std::vector<TypedColumn> columns = TypedColumns();
  std::string sql = "SELECT * FROM typed_records WHERE number BETWEEN ? AND ?";
  const bool bounded = bounds.column >= 0 && static_cast<size_t>(bounds.column) < columns.size();
  if (bounded) {
    const std::string column = Quoted(columns[static_cast<size_t>(bounds.column)].name);
    if (!bounds.since.empty()) sql += " AND " + column + " >= ?3";
    if (!bounds.until.empty()) sql += " AND " + column + " <= ?4";
  }
  sql += " ORDER BY number";
  Statement q = Prepare(mHandle->db, sql.c_str());
  if (!q) Fail("cannot read its typed records");
  sqlite3_bind_int64(q.get(), 1, from);
  sqlite3_bind_int64(q.get(), 2, to);
  if (bounded && !bounds.since.empty())
    sqlite3_bind_text(q.get(), 3, bounds.since.data(), static_cast<int>(bounds.since.size()),
                      SQLITE_STATIC);
  if (bounded && !bounds.until.empty())
    sqlite3_bind_text(q.get(), 4, bounds.until.data(), static_cast<int>(bounds.until.size()),
                      SQLITE_STATIC);
  const int count = sqlite3_column_count(q.get()) - 1;
  values.resize(static_cast<size_t>(std::max(count, 0)));
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
    for (int i = 0; i < count; ++i) {
      const unsigned char* text = sqlite3_column_text(q.get(), i + 1);
      if (!text) {
        values[static_cast<size_t>(i)].reset();
      } else {
        const std::string_view value(reinterpret_cast<const char*>(text),
                                     static_cast<size_t>(sqlite3_column_bytes(q.get(), i + 1)));
        std::optional<std::string>& slot = values[static_cast<size_t>(i)];
        // Assigned in place, the strings keep their room from row to row.
        if (slot)
          slot->assign(value);
        else
          slot.emplace(value);
      }
    }
    emit(sqlite3_column_int64(q.get(), 0), values);
  }
  if (rc != SQLITE_DONE) Fail("cannot read its typed records");
}

}  // namespace Records
