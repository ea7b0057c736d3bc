#include "central/CentralSchema.h"

#include <string>

namespace Central {

namespace {

// The advisory lock (class, key) held while the tables are created.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(1886152704, 0)";

// Records are partitioned by a hash of the deployment: each partition keeps
// its own index, so a deployment's range scans and a publish's inserts touch
// one partition's pages, and old partitions can be vacuumed apart.
constexpr int kRecordPartitions = 16;

constexpr const char* kTables = R"SQL(
CREATE TABLE pelox5_schema(
  version integer NOT NULL,
  created_at timestamptz NOT NULL DEFAULT now());
CREATE TABLE deployments(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL UNIQUE,
  records bigint NOT NULL DEFAULT 0,
  conflicts bigint NOT NULL DEFAULT 0,
  records_logged bigint,
  first_published_at timestamptz NOT NULL DEFAULT now(),
  last_published_at timestamptz);
CREATE TABLE deployment_hosts(
  deployment bigint NOT NULL,
  host text NOT NULL,
  last_published_at timestamptz NOT NULL,
  PRIMARY KEY (deployment, host));
CREATE TABLE records(
  deployment bigint NOT NULL,
  number integer NOT NULL,
  line bytea NOT NULL,
  fields jsonb,
  time_utc timestamptz,
  host text NOT NULL,
  session text NOT NULL,
  absorbed_at timestamptz NOT NULL,
  published_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (deployment, number)) PARTITION BY HASH (deployment);
CREATE TABLE record_ranges(
  deployment bigint NOT NULL,
  first integer NOT NULL,
  last integer NOT NULL,
  PRIMARY KEY (deployment, first));
CREATE TABLE conflicts(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  deployment bigint NOT NULL,
  number integer NOT NULL,
  line bytea NOT NULL,
  host text NOT NULL,
  session text NOT NULL,
  absorbed_at timestamptz NOT NULL,
  published_at timestamptz NOT NULL);
CREATE UNIQUE INDEX conflicts_key ON conflicts(deployment, number, md5(line));
CREATE TABLE publishes(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  deployment bigint NOT NULL,
  host text NOT NULL,
  started_at timestamptz NOT NULL,
  finished_at timestamptz NOT NULL,
  records bigint NOT NULL DEFAULT 0,
  conflicts bigint NOT NULL DEFAULT 0,
  records_logged bigint);
CREATE INDEX publishes_by_deployment ON publishes(deployment, id);
)SQL";

std::string Partitions() {
  std::string sql;
  for (int i = 0; i < kRecordPartitions; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    sql += "CREATE TABLE records_p" + n + " PARTITION OF records FOR VALUES WITH (MODULUS " +
           std::to_string(kRecordPartitions) + ", REMAINDER " + std::to_string(i) + ");\n";
  }
  return sql;
}

bool Exists(Connection& db, const char* table) {
  return db.Exec("SELECT to_regclass($1) IS NOT NULL", {std::string(table)}).Text(0, 0) == "t";
}

void CheckVersion(Connection& db) {
  const Result version = db.Exec("SELECT max(version) FROM pelox5_schema");
  if (version.Null(0, 0))
    throw SchemaError("Central database (" + db.Name() +
                      "): its version table pelox5_schema is empty; nothing was written");
  const int64_t v = version.Int(0, 0);
  if (v > kSchemaVersion)
    throw SchemaError("Central database (" + db.Name() + "): its tables are of version " +
                      std::to_string(v) + ", newer than this program's " +
                      std::to_string(kSchemaVersion) +
                      "; nothing was written -- update this host's programs");
}

}  // namespace

bool HasSchema(Connection& db) {
  if (!Exists(db, "pelox5_schema")) return false;
  CheckVersion(db);
  return true;
}

void EnsureSchema(Connection& db) {
  if (Exists(db, "pelox5_schema")) return CheckVersion(db);
  try {
    db.Exec("BEGIN");
    db.Exec(kSchemaLock);
    // Another host may have created them while this one waited for the lock.
    if (!Exists(db, "pelox5_schema")) {
      if (Exists(db, "records") || Exists(db, "deployments"))
        throw SchemaError("Central database (" + db.Name() +
                          "): it holds tables named like ours (records, deployments) that this "
                          "program did not make; nothing was written -- name another database");
      db.Exec(kTables);
      db.Exec(Partitions());
      db.Exec("INSERT INTO pelox5_schema(version) VALUES (" + std::to_string(kSchemaVersion) + ")");
    }
    db.Exec("COMMIT");
  } catch (...) {
    db.RollbackQuietly();
    throw;
  }
  CheckVersion(db);
}

}  // namespace Central
