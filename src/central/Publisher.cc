#include "central/Publisher.h"

#include <algorithm>
#include <ctime>

#include "central/CentralSchema.h"
#include "recovery/RangeSet.h"

namespace Central {

namespace {

using RecordRecoveryUtils::RangeEntry;

// The advisory lock class of a deployment's publishes: one batch at a time per
// deployment, so two hosts never deadlock and a conflict is seen by both.
constexpr const char* kDeploymentLock =
    "SELECT pg_advisory_xact_lock(1886152705, ($1::bigint % 2147483647)::integer)";

constexpr const char* kStaging =
    "CREATE TEMP TABLE IF NOT EXISTS pelox5_staging(number integer NOT NULL, line bytea NOT "
    "NULL, fields jsonb, time_utc timestamptz, session text NOT NULL, absorbed_at bigint NOT "
    "NULL, kept boolean NOT NULL) ON COMMIT DELETE ROWS";

constexpr const char* kInsertRecords =
    "WITH added AS (INSERT INTO records(deployment, number, line, fields, time_utc, host, "
    "session, absorbed_at, published_at) SELECT $1, number, line, fields, time_utc, $2, session, "
    "to_timestamp(absorbed_at), now() FROM pelox5_staging WHERE NOT kept ORDER BY number "
    "ON CONFLICT DO NOTHING RETURNING 1) SELECT count(*) FROM added";

// Every staged line that differs from the stored line of its number: another
// host's line, or a conflict this store kept.
constexpr const char* kInsertConflicts =
    "INSERT INTO conflicts(deployment, number, line, host, session, absorbed_at, published_at) "
    "SELECT $1, s.number, s.line, $2, s.session, to_timestamp(s.absorbed_at), now() "
    "FROM pelox5_staging s JOIN records r ON r.deployment = $1 AND r.number = s.number "
    "WHERE r.line <> s.line ON CONFLICT (deployment, number, md5(line)) DO NOTHING";

void Hex(std::string& out, std::string_view bytes) {
  static const char* const kDigits = "0123456789abcdef";
  out += "\\\\x";
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
}

// A text field of COPY's text format.
void Text(std::string& out, const std::optional<std::string>& text) {
  if (!text) {
    out += "\\N";
    return;
  }
  for (char c : *text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

void AppendCopyRow(std::string& out, const PublishRow& row, bool kept) {
  out += std::to_string(row.number);
  out += '\t';
  Hex(out, row.line);
  out += '\t';
  Text(out, row.fieldsJson);
  out += '\t';
  Text(out, row.timeUtc);
  out += '\t';
  Text(out, row.session);
  out += '\t';
  out += std::to_string(row.absorbedAt);
  out += kept ? "\tt\n" : "\tf\n";
}

// A row of records itself, for a batch that goes there directly.
void AppendRecordRow(std::string& out, const std::string& deployment, const std::string& host,
                     const PublishRow& row) {
  out += deployment;
  out += '\t';
  out += std::to_string(row.number);
  out += '\t';
  Hex(out, row.line);
  out += '\t';
  Text(out, row.fieldsJson);
  out += '\t';
  Text(out, row.timeUtc);
  out += '\t';
  Text(out, host);
  out += '\t';
  Text(out, row.session);
  out += '\t';
  std::tm utc{};
  const time_t at = static_cast<time_t>(row.absorbedAt);
  char stamp[40];
  if (gmtime_r(&at, &utc) && std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S+00", &utc))
    out += stamp;
  else
    out += "1970-01-01 00:00:00+00";
  out += '\n';
}

// "{1,2,3}": an integer array parameter.
std::string Array(const std::vector<int64_t>& values) {
  std::string text = "{";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text += ',';
    text += std::to_string(values[i]);
  }
  return text + "}";
}

// The deployment's id, its row created on first use.
std::string DeploymentId(Connection& db, const std::string& name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    // A row another host adds at the same moment is not seen by this
    // statement's snapshot: the next attempt reads it.
    const Result r = db.Exec(
        "WITH added AS (INSERT INTO deployments(name) VALUES ($1) ON CONFLICT (name) DO NOTHING "
        "RETURNING id) SELECT id FROM added UNION ALL SELECT id FROM deployments WHERE name = $1",
        {name});
    if (r.Rows() > 0) return r.Text(0, 0);
  }
  throw CentralError("Central database (" + db.Name() + "): cannot add the deployment " + name);
}

class BatchWriter {
 public:
  BatchWriter(Connection& db, Records::RecordStore& store, const PublishSettings& settings,
              std::string id, PublishOutcome& outcome)
      : mDb(db), mStore(store), mSettings(settings), mId(std::move(id)), mOutcome(outcome) {}

  // The records of `ranges` (all stored), or the store's conflicts above
  // `conflictsAfter` when it is set, in one central transaction.
  void Send(const std::vector<RangeEntry>& ranges, std::optional<int64_t> conflictsAfter);

 private:
  std::vector<PublishRow> Stage(const std::vector<RangeEntry>& ranges,
                                std::optional<int64_t> conflictsAfter, int64_t& lastConflict);
  // Whether the database holds any number of `ranges` for the deployment.
  bool AnyHeld(const std::vector<RangeEntry>& ranges);
  void StagedInsert(const std::vector<PublishRow>& rows, bool kept, int64_t& records,
                    int64_t& conflicts);
  void MergeRanges(const std::vector<RangeEntry>& ranges);
  void NoteCounts(int64_t records, int64_t conflicts);

  Connection& mDb;
  Records::RecordStore& mStore;
  const PublishSettings& mSettings;
  std::string mId;
  PublishOutcome& mOutcome;
  std::optional<std::string> mPublishId;
  bool mStagingMade = false;
  int64_t mBatches = 0;
};

std::vector<PublishRow> BatchWriter::Stage(const std::vector<RangeEntry>& ranges,
                                           std::optional<int64_t> conflictsAfter,
                                           int64_t& lastConflict) {
  std::vector<PublishRow> rows;
  if (conflictsAfter) {
    mStore.ForEachConflictAfter(
        *conflictsAfter, [&](int64_t id, int64_t number, std::string_view line,
                             const std::string& session, int64_t at) {
          rows.push_back({static_cast<int32_t>(number), std::string(line), session, at, {}, {}});
          lastConflict = id;
        });
  } else {
    for (const RangeEntry& range : ranges)
      mStore.ForEachRecordOfSession(
          range.min, range.max,
          [&](int64_t number, std::string_view line, const std::string& session, int64_t at) {
            rows.push_back({static_cast<int32_t>(number), std::string(line), session, at, {}, {}});
          });
    AddTypedFields(mStore, rows);
  }
  if (!conflictsAfter) mOutcome.sent += static_cast<int64_t>(rows.size());
  return rows;
}

void BatchWriter::MergeRanges(const std::vector<RangeEntry>& ranges) {
  // The ranges of the deployment that touch the batch's are replaced by
  // their union with them.
  std::vector<int64_t> firsts, lasts;
  for (const RangeEntry& r : ranges) {
    firsts.push_back(r.min);
    lasts.push_back(r.max);
  }
  const Result old = mDb.Exec(
      "DELETE FROM record_ranges r USING unnest($2::bigint[], $3::bigint[]) AS n(f, l) "
      "WHERE r.deployment = $1 AND r.first <= n.l + 1 AND r.last >= n.f - 1 "
      "RETURNING r.first, r.last",
      {mId, Array(firsts), Array(lasts)});
  std::vector<RangeEntry> all = ranges;
  for (int i = 0; i < old.Rows(); ++i)
    all.emplace_back(static_cast<int32_t>(old.Int(i, 0)), static_cast<int32_t>(old.Int(i, 1)));
  RecordRecoveryUtils::MergeRanges(all);
  firsts.clear();
  lasts.clear();
  for (const RangeEntry& r : all) {
    firsts.push_back(r.min);
    lasts.push_back(r.max);
  }
  mDb.Exec(
      "INSERT INTO record_ranges(deployment, first, last) SELECT $1, f, l "
      "FROM unnest($2::integer[], $3::integer[]) AS n(f, l)",
      {mId, Array(firsts), Array(lasts)});
}

void BatchWriter::NoteCounts(int64_t records, int64_t conflicts) {
  const std::string r = std::to_string(records), c = std::to_string(conflicts);
  mDb.Exec(
      "UPDATE deployments SET records = records + $2, conflicts = conflicts + $3, "
      "last_published_at = now() WHERE id = $1",
      {mId, r, c});
  const std::optional<std::string> logged =
      mSettings.recordsLogged ? std::optional(std::to_string(*mSettings.recordsLogged))
                              : std::nullopt;
  if (!mPublishId) {
    mPublishId = mDb.Exec(
                        "INSERT INTO publishes(deployment, host, started_at, finished_at, "
                        "records, conflicts, records_logged) VALUES ($1, $2, now(), now(), $3, "
                        "$4, $5) RETURNING id",
                        {mId, mSettings.host, r, c, logged})
                     .Text(0, 0);
  } else {
    mDb.Exec(
        "UPDATE publishes SET finished_at = now(), records = records + $2, "
        "conflicts = conflicts + $3 WHERE id = $1",
        {*mPublishId, r, c});
  }
}

bool BatchWriter::AnyHeld(const std::vector<RangeEntry>& ranges) {
  std::vector<int64_t> firsts, lasts;
  for (const RangeEntry& r : ranges) {
    firsts.push_back(r.min);
    lasts.push_back(r.max);
  }
  return mDb.Exec(
                "SELECT EXISTS (SELECT 1 FROM record_ranges r, unnest($2::bigint[], "
                "$3::bigint[]) AS n(f, l) WHERE r.deployment = $1 AND r.first <= n.l AND "
                "r.last >= n.f)",
                {mId, Array(firsts), Array(lasts)})
             .Text(0, 0) == "t";
}

void BatchWriter::Send(const std::vector<RangeEntry>& ranges,
                       std::optional<int64_t> conflictsAfter) {
  int64_t lastConflict = 0;
  const std::vector<PublishRow> rows = Stage(ranges, conflictsAfter, lastConflict);
  if (rows.empty()) return;
  const bool kept = conflictsAfter.has_value();
  int64_t records = 0, conflicts = 0;
  bool direct = !kept;
  for (;;) {
    try {
      mDb.Exec("BEGIN");
      mDb.Exec(kDeploymentLock, {mId});
      // Under the lock no other publisher adds numbers of this deployment: a
      // batch whose numbers the database holds none of goes straight into
      // records, as fast as a plain COPY.
      if (direct && !AnyHeld(ranges)) {
        std::string copy;
        copy.reserve(rows.size() * 128);
        for (const PublishRow& row : rows) AppendRecordRow(copy, mId, mSettings.host, row);
        mDb.CopyIn(
            "COPY records(deployment, number, line, fields, time_utc, host, session, "
            "absorbed_at) FROM STDIN",
            copy);
        records = static_cast<int64_t>(rows.size());
      } else {
        StagedInsert(rows, kept, records, conflicts);
      }
      if (!kept) MergeRanges(ranges);
      NoteCounts(records, conflicts);
      mDb.Exec("COMMIT");
      break;
    } catch (const ConnectionError&) {
      mDb.RollbackQuietly();
      throw;
    } catch (const CentralError&) {
      mDb.RollbackQuietly();
      // A row that another writer added outside the lock: the batch again,
      // through the staging table.
      if (!direct) throw;
      direct = false;
      records = conflicts = 0;
    }
  }
  mOutcome.records += records;
  mOutcome.conflicts += conflicts;
  // Cut here, the next publish sends the batch again and finds it there.
  mStore.MarkPublished(kept ? std::vector<RangeEntry>{} : ranges, lastConflict);
  if (mSettings.afterBatch) mSettings.afterBatch(++mBatches);
}

void BatchWriter::StagedInsert(const std::vector<PublishRow>& rows, bool kept, int64_t& records,
                               int64_t& conflicts) {
  if (!mStagingMade) {
    mDb.Exec(kStaging);
    mStagingMade = true;
  }
  std::string copy;
  copy.reserve(rows.size() * 96);
  for (const PublishRow& row : rows) AppendCopyRow(copy, row, kept);
  mDb.CopyIn("COPY pelox5_staging FROM STDIN", copy);
  records = kept ? 0 : mDb.Exec(kInsertRecords, {mId, mSettings.host}).Int(0, 0);
  // Where every row was new no line can differ from a stored one. Otherwise
  // the rows are looked up by key: the staging table has no statistics, and a
  // hash or merge join would read the deployment's whole partition.
  if (kept || records < static_cast<int64_t>(rows.size())) {
    mDb.Exec("SET LOCAL enable_hashjoin = off; SET LOCAL enable_mergejoin = off");
    conflicts = mDb.Exec(kInsertConflicts, {mId, mSettings.host}).Affected();
  }
}

// The ranges of `from` split into batches of at most `rows` numbers; every
// number of a stored range is stored, so a range's size is its row count.
std::vector<std::vector<RangeEntry>> Batches(const std::vector<RangeEntry>& from, int64_t rows) {
  std::vector<std::vector<RangeEntry>> batches(1);
  int64_t room = rows;
  for (const RangeEntry& range : from) {
    int64_t first = range.min;
    while (first <= range.max) {
      const int64_t last = std::min<int64_t>(range.max, first + room - 1);
      batches.back().emplace_back(static_cast<int32_t>(first), static_cast<int32_t>(last));
      room -= last - first + 1;
      first = last + 1;
      if (room == 0) {
        batches.emplace_back();
        room = rows;
      }
    }
  }
  if (batches.back().empty()) batches.pop_back();
  return batches;
}

}  // namespace

int64_t Count(const std::vector<RangeEntry>& ranges) {
  int64_t n = 0;
  for (const RangeEntry& r : ranges) n += int64_t{r.max} - r.min + 1;
  return n;
}

std::vector<RangeEntry> Unpublished(Records::RecordStore& store) {
  const std::vector<RangeEntry> stored = store.StoredRanges();
  const std::vector<RangeEntry> published = store.PublishedRanges();
  std::vector<RangeEntry> left;
  size_t p = 0;
  for (const RangeEntry& range : stored) {
    int64_t first = range.min;
    while (p < published.size() && published[p].max < first) ++p;
    for (size_t q = p; q < published.size() && published[q].min <= range.max; ++q) {
      if (published[q].min > first)
        left.emplace_back(static_cast<int32_t>(first), published[q].min - 1);
      first = std::max<int64_t>(first, int64_t{published[q].max} + 1);
    }
    if (first <= range.max) left.emplace_back(static_cast<int32_t>(first), range.max);
  }
  return left;
}

PublishOutcome Publish(Connection& db, Records::RecordStore& store,
                       const PublishSettings& settings) {
  EnsureSchema(db);
  PublishOutcome outcome;
  const std::string id = DeploymentId(db, settings.deployment);
  BatchWriter writer(db, store, settings, id, outcome);
  for (const std::vector<RangeEntry>& batch :
       Batches(Unpublished(store), std::max<int64_t>(settings.batchRows, 1)))
    writer.Send(batch, std::nullopt);
  // The store's conflicts after its records, whose numbers are then there.
  writer.Send({}, store.PublishedConflictId());

  const std::optional<std::string> logged =
      settings.recordsLogged ? std::optional(std::to_string(*settings.recordsLogged))
                             : std::nullopt;
  db.Exec(
      "WITH host AS (INSERT INTO deployment_hosts(deployment, host, last_published_at) "
      "VALUES ($1, $2, now()) ON CONFLICT (deployment, host) DO UPDATE SET last_published_at = "
      "now()) UPDATE deployments SET last_published_at = now(), records_logged = "
      "coalesce($3::bigint, records_logged) WHERE id = $1",
      {id, settings.host, logged});
  const Result ranges =
      db.Exec("SELECT first, last FROM record_ranges WHERE deployment = $1 ORDER BY first", {id});
  for (int i = 0; i < ranges.Rows(); ++i)
    outcome.centralRanges.emplace_back(static_cast<int32_t>(ranges.Int(i, 0)),
                                       static_cast<int32_t>(ranges.Int(i, 1)));
  return outcome;
}

}  // namespace Central
