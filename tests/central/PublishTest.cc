// The publisher against a real server: batches that survive a server stopped
// in the middle, resumed by the next publish, each record once, lines kept
// byte for byte.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "TempDir.h"
#include "central/CentralDatabase.h"
#include "central/Publisher.h"
#include "records/RecordStore.h"
#include "support/PostgresServer.h"

namespace {

using RecordRecoveryUtils::RangeEntry;

// A line with the bytes COPY's text format must escape, and one that is not UTF-8.
std::string LineOf(int n) {
  return "R" + std::to_string(n) + ",\t\\N\\x\r\x01\xff" + std::to_string(n * 7);
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) {
    hex += "0123456789abcdef"[c >> 4];
    hex += "0123456789abcdef"[c & 15];
  }
  return hex;
}

// A store holding records 1 to `count` from one session, and a conflicting
// line for record 3.
Records::RecordStore MakeStore(const std::string& path, int count) {
  Records::RecordStore store = Records::RecordStore::OpenForWriting(path);
  store.Begin();
  const int64_t session = store.AddSession("raw.20260101-000000", 1767225600);
  int64_t first = 0;
  for (int n = 1; n <= count; ++n) store.Put(n, LineOf(n), session, n * 10, 1767225600, first);
  store.Put(3, "R3,another", session, 99999, 1767225600, first);
  store.NoteAbsorbed({RangeEntry(1, count)}, count, 1);
  store.Commit();
  return store;
}

TEST(Publisher, AServerStoppedBetweenBatchesLeavesWholeBatchesAndTheNextPublishCompletesThem) {
  PostgresServer& server = SharedPostgres();
  ASSERT_EQ(server.Error(), "");
  const std::string database = server.NewDatabase();
  TempDir dir;
  Records::RecordStore store = MakeStore(dir.Path() + "/records.sqlite", 1050);

  Central::PublishSettings settings;
  settings.deployment = "site1";
  settings.host = "host-a";
  settings.recordsLogged = 1100;
  settings.batchRows = 100;
  settings.afterBatch = [&](int64_t batch) {
    if (batch == 3) server.Stop();
  };
  {
    Central::Connection db = Central::Connection::Open(server.ConnInfo(database), "test");
    EXPECT_THROW(Central::Publish(db, store, settings), Central::ConnectionError);
  }
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(server.Sql(database, "SELECT count(*), min(number), max(number) FROM records"),
            "300|1|300\n");
  EXPECT_EQ(store.PublishedRanges(), std::vector<RangeEntry>{RangeEntry(1, 300)});
  EXPECT_EQ(Central::Count(Central::Unpublished(store)), 750);

  // A cut between the central commit and the local mark: the next publish
  // sends batch 3 again and finds it there.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dir.Path() + "/records.sqlite").c_str(), &raw), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(raw, "UPDATE published_ranges SET last = 200", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  settings.afterBatch = nullptr;
  // A row written outside the publishers' lock (by hand, say) makes the
  // batch that holds its number go through the staging table: its other
  // line is a conflict.
  server.Sql(database,
             "INSERT INTO records(deployment, number, line, host, session, absorbed_at) "
             "SELECT id, 1000, 'by hand', 'psql', '-', now() FROM deployments");
  Central::Connection db = Central::Connection::Open(server.ConnInfo(database), "test");
  Central::PublishOutcome outcome = Central::Publish(db, store, settings);
  EXPECT_EQ(outcome.sent, 850);
  EXPECT_EQ(outcome.records, 749);
  EXPECT_EQ(outcome.conflicts, 2);
  EXPECT_EQ(outcome.centralRanges, std::vector<RangeEntry>{RangeEntry(1, 1050)});
  EXPECT_EQ(server.Sql(database,
                       "SELECT count(*), count(DISTINCT number), bool_and(host = 'host-a') "
                       "FROM records"),
            "1050|1050|f\n");
  EXPECT_EQ(server.Sql(database, "SELECT encode(line, 'hex') FROM records WHERE number = 5"),
            Hex(LineOf(5)) + "\n");
  EXPECT_EQ(server.Sql(database, "SELECT number, encode(line, 'hex') = '" + Hex(LineOf(1000)) +
                                     "' FROM conflicts ORDER BY number"),
            "3|f\n1000|t\n");
  EXPECT_EQ(server.Sql(database, "SELECT records, conflicts, records_logged FROM deployments"),
            "1049|2|1100\n");

  // Nothing new: nothing sent, nothing counted twice.
  outcome = Central::Publish(db, store, settings);
  EXPECT_EQ(outcome.sent, 0);
  EXPECT_EQ(outcome.conflicts, 0);
  EXPECT_EQ(server.Sql(database, "SELECT count(*) FROM records"), "1050\n");
  EXPECT_EQ(server.Sql(database, "SELECT sum(records), sum(conflicts) FROM publishes"), "1049|2\n");
}

}  // namespace
