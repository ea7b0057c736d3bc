// The record store's side of publishing to a central database: which numbers
// and conflicts were published, and since when records wait for a publish.

#include "records/RecordStore.h"
#include "records/StoreStatement.h"
#include "recovery/RangeSet.h"

namespace Records {

std::vector<RecordRecoveryUtils::RangeEntry> RecordStore::PublishedRanges() {
  std::vector<RecordRecoveryUtils::RangeEntry> ranges;
  // A store opened read-only may predate the table: nothing was published.
  if (!HasTable("published_ranges")) return ranges;
  Statement s = Prepare(Db(), "SELECT first, last FROM published_ranges ORDER BY first");
  if (!s) Fail("cannot read the published ranges");
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    ranges.emplace_back(sqlite3_column_int(s.get(), 0), sqlite3_column_int(s.get(), 1));
  if (rc != SQLITE_DONE) Fail("cannot read the published ranges");
  return ranges;
}

int64_t RecordStore::PublishedConflictId() { return MetaInt("published_conflict_id", 0); }

void RecordStore::SetMetaValue(const char* key, std::optional<int64_t> value) {
  Statement s = Prepare(Db(), value ? "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"
                                    : "DELETE FROM meta WHERE key = ?");
  if (!s) Fail("cannot update its meta table");
  sqlite3_bind_text(s.get(), 1, key, -1, SQLITE_STATIC);
  if (value) sqlite3_bind_int64(s.get(), 2, *value);
  if (sqlite3_step(s.get()) != SQLITE_DONE) Fail("cannot update its meta table");
}

void RecordStore::MarkPublished(const std::vector<RecordRecoveryUtils::RangeEntry>& ranges,
                                int64_t conflictId) {
  Begin();
  try {
    // The published ranges stay few (as few as the stored ones): they are
    // read, merged and written back whole.
    std::vector<RecordRecoveryUtils::RangeEntry> all = PublishedRanges();
    all.insert(all.end(), ranges.begin(), ranges.end());
    RecordRecoveryUtils::MergeRanges(all);
    Exec("DELETE FROM published_ranges");
    Statement insert = Prepare(Db(), "INSERT INTO published_ranges(first, last) VALUES(?, ?)");
    if (!insert) Fail("cannot update the published ranges");
    for (const RecordRecoveryUtils::RangeEntry& range : all) {
      sqlite3_reset(insert.get());
      sqlite3_bind_int64(insert.get(), 1, range.min);
      sqlite3_bind_int64(insert.get(), 2, range.max);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) Fail("cannot update the published ranges");
    }
    if (conflictId > PublishedConflictId()) SetMetaValue("published_conflict_id", conflictId);
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
}

std::optional<int64_t> RecordStore::UnpublishedSince() {
  const int64_t since = MetaInt("unpublished_since", -1);
  return since < 0 ? std::nullopt : std::optional<int64_t>(since);
}

void RecordStore::SetUnpublishedSince(std::optional<int64_t> since) {
  Begin();
  try {
    SetMetaValue("unpublished_since", since);
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
}

void RecordStore::ForEachRecordOfSession(
    int64_t from, int64_t to,
    const std::function<void(int64_t, std::string_view, const std::string&, int64_t)>& emit) {
  Statement s =
      Prepare(Db(),
              "SELECT number, line, name, absorbed_at FROM records JOIN sessions ON "
              "sessions.id = records.session WHERE number BETWEEN ? AND ? ORDER BY number");
  if (!s) Fail("cannot read the records");
  sqlite3_bind_int64(s.get(), 1, from);
  sqlite3_bind_int64(s.get(), 2, to);
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    emit(sqlite3_column_int64(s.get(), 0), ColumnBytes(s.get(), 1), ColumnText(s.get(), 2),
         sqlite3_column_int64(s.get(), 3));
  if (rc != SQLITE_DONE) Fail("cannot read the records");
}

void RecordStore::ForEachConflictAfter(
    int64_t afterId,
    const std::function<void(int64_t, int64_t, std::string_view, const std::string&, int64_t)>&
        emit) {
  Statement s = Prepare(Db(),
                        "SELECT conflicts.id, number, line, name, absorbed_at FROM conflicts JOIN "
                        "sessions ON sessions.id = conflicts.session WHERE conflicts.id > ? "
                        "ORDER BY conflicts.id");
  if (!s) Fail("cannot read the conflicts");
  sqlite3_bind_int64(s.get(), 1, afterId);
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    emit(sqlite3_column_int64(s.get(), 0), sqlite3_column_int64(s.get(), 1),
         ColumnBytes(s.get(), 2), ColumnText(s.get(), 3), sqlite3_column_int64(s.get(), 4));
  if (rc != SQLITE_DONE) Fail("cannot read the conflicts");
}

}  // namespace Records
