#pragma once
// A PostgreSQL 15 server of the test's own: initdb in a temporary folder,
// reachable only through a socket in that folder (no TCP), a superuser with a
// password that the server checks (scram-sha-256), stopped at the end. As
// root, the server runs as "nobody", as PostgreSQL requires.

#include <string>
#include <vector>

#include "TempDir.h"

class PostgresServer {
 public:
  static constexpr const char* kUser = "pelox5";
  static constexpr const char* kPassword = "pw-Secret-77";

  // Creates and starts the server; Error() says why when it could not.
  PostgresServer();
  ~PostgresServer();  // stops it (fast: open sessions are cut)
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  const std::string& Error() const { return mError; }
  // The folder that holds the server's socket.
  std::string SocketFolder() const { return mDir.Path(); }

  bool Start();
  bool Stop();

  // A key=value connection string for `database` as `user` with `password`.
  std::string ConnInfo(const std::string& database, const std::string& user = kUser,
                       const std::string& password = kPassword) const;
  // Runs `sql` through psql as the superuser; standard output (unaligned,
  // tuples only), or "ERROR: ..." with psql's standard error when it failed.
  std::string Sql(const std::string& database, const std::string& sql) const;
  // A new, empty database with a name not used before in this server.
  std::string NewDatabase();

 private:
  bool RunAsServerAccount(const std::vector<std::string>& command, std::string* err = nullptr);

  TempDir mDir;
  std::string mError;
  int mDatabases = 0;
  bool mRunning = false;
};

// The one server of a test binary, started on first use.
PostgresServer& SharedPostgres();
