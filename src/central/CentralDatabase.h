#pragma once
// One connection to the central PostgreSQL database, through libpq, and the
// results of its statements. Every call is checked: a failure raises
// ConnectionError (connection lost or refused) or CentralError (a statement
// refused), with the connection's name and without its password.

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "central/CentralError.h"

namespace Central {

// The rows of one statement. Owns its PGresult.
class Result {
 public:
  explicit Result(PGresult* result) : mResult(result, PQclear) {}
  int Rows() const { return PQntuples(mResult.get()); }
  bool Null(int row, int column) const { return PQgetisnull(mResult.get(), row, column) == 1; }
  std::string Text(int row, int column) const { return PQgetvalue(mResult.get(), row, column); }
  int64_t Int(int row, int column) const;
  // The number of rows an INSERT, UPDATE or DELETE touched.
  int64_t Affected() const;
  const PGresult* Raw() const { return mResult.get(); }

 private:
  std::unique_ptr<PGresult, void (*)(PGresult*)> mResult;
};

class Connection {
 public:
  // Connects with the libpq connection string `conninfo`; `application` is
  // the application_name the server shows unless the string names one.
  static Connection Open(const std::string& conninfo, const std::string& application);

  Connection(Connection&&) noexcept = default;
  Connection& operator=(Connection&&) noexcept = default;

  // "host H, port P, database D, user U".
  const std::string& Name() const { return mName; }

  // A statement with text parameters (none for NULL).
  Result Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params = {});
  // COPY ... FROM STDIN, sending `data` in the statement's format.
  void CopyIn(const std::string& sql, std::string_view data);
  // ROLLBACK when a transaction is open and the connection alive; never raises.
  void RollbackQuietly() noexcept;

  // The text of a failure, with the connection's name and the server's word.
  [[noreturn]] void Fail(const std::string& what, const PGresult* result = nullptr);

 private:
  Connection(PGconn* conn, std::string name, std::string password);

  std::unique_ptr<PGconn, void (*)(PGconn*)> mConn;
  std::string mName;
  std::string mPassword;  // only to keep it out of messages
};

}  // namespace Central
