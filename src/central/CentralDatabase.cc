#include "central/CentralDatabase.h"

#include <algorithm>
#include <cstdlib>

#include "central/ConnectionName.h"

namespace Central {

namespace {

// The first line of a libpq or server message, without its "ERROR:  " or
// "FATAL:  " prefix.
std::string FirstLine(const char* message) {
  std::string text = message ? message : "";
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  for (const char* prefix : {"ERROR:  ", "FATAL:  "})
    if (text.rfind(prefix, 0) == 0) text.erase(0, std::string(prefix).size());
  return text.empty() ? "no reason given" : text;
}

}  // namespace

int64_t Result::Int(int row, int column) const {
  return std::strtoll(PQgetvalue(mResult.get(), row, column), nullptr, 10);
}

int64_t Result::Affected() const { return std::strtoll(PQcmdTuples(mResult.get()), nullptr, 10); }

Connection::Connection(PGconn* conn, std::string name, std::string password)
    : mConn(conn, PQfinish), mName(std::move(name)), mPassword(std::move(password)) {}

Connection Connection::Open(const std::string& conninfo, const std::string& application) {
  std::optional<ConnectionParts> parts = ParseConnection(conninfo);
  if (!parts)
    throw ConnectionError(
        "Central database: the connection string (RecordDatabase or --database) cannot be read; "
        "give key=value pairs or a postgresql:// URI");
  std::map<std::string, std::string> given = parts->given;
  given.emplace("fallback_application_name", application);
  // A server that does not answer must not hold up the local part for long.
  given.emplace("connect_timeout", "10");
  std::vector<const char*> keys, values;
  for (const auto& [key, value] : given) {
    keys.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  auto password = given.find("password");
  Connection c(PQconnectdbParams(keys.data(), values.data(), 0), parts->name,
               password == given.end() ? "" : password->second);
  if (!c.mConn) throw ConnectionError("Central database (" + c.mName + "): out of memory");
  if (PQstatus(c.mConn.get()) != CONNECTION_OK) c.Fail("cannot connect");
  return c;
}

void Connection::Fail(const std::string& what, const PGresult* result) {
  const char* message = result ? PQresultErrorMessage(result) : nullptr;
  if (!message || !*message) message = PQerrorMessage(mConn.get());
  const std::string text = WithoutSecret(
      "Central database (" + mName + "): " + what + ": " + FirstLine(message), mPassword);
  if (PQstatus(mConn.get()) != CONNECTION_OK) throw ConnectionError(text);
  throw CentralError(text);
}

Result Connection::Exec(const std::string& sql,
                        const std::vector<std::optional<std::string>>& params) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const std::optional<std::string>& p : params) values.push_back(p ? p->c_str() : nullptr);
  // Without parameters, the simple protocol: the text may hold several statements.
  PGresult* raw = params.empty()
                      ? PQexec(mConn.get(), sql.c_str())
                      : PQexecParams(mConn.get(), sql.c_str(), static_cast<int>(values.size()),
                                     nullptr, values.data(), nullptr, nullptr, 0);
  Result result(raw);
  const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("a statement failed", raw);
  return result;
}

void Connection::CopyIn(const std::string& sql, std::string_view data) {
  PGresult* raw = PQexec(mConn.get(), sql.c_str());
  {
    Result start(raw);
    if (!raw || PQresultStatus(raw) != PGRES_COPY_IN) Fail("cannot start a copy", raw);
  }
  // Sent in pieces so that libpq's buffer stays small.
  constexpr size_t kPiece = size_t{1} << 20;
  for (size_t at = 0; at < data.size(); at += kPiece) {
    const size_t n = std::min(kPiece, data.size() - at);
    if (PQputCopyData(mConn.get(), data.data() + at, static_cast<int>(n)) != 1)
      Fail("cannot send a copy");
  }
  if (PQputCopyEnd(mConn.get(), nullptr) != 1) Fail("cannot end a copy");
  // The copy's outcome, then the end of its results.
  bool failed = false;
  std::optional<Result> failure;
  while (PGresult* r = PQgetResult(mConn.get())) {
    Result each(r);
    if (PQresultStatus(r) != PGRES_COMMAND_OK && !failed) {
      failed = true;
      failure.emplace(std::move(each));
    }
  }
  if (failed) Fail("the copy failed", failure->Raw());
}

void Connection::RollbackQuietly() noexcept {
  if (PQstatus(mConn.get()) != CONNECTION_OK || PQtransactionStatus(mConn.get()) == PQTRANS_IDLE)
    return;
  PQclear(PQexec(mConn.get(), "ROLLBACK"));
}

}  // namespace Central
