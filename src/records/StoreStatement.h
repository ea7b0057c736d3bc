#pragma once
// A prepared SQLite statement owned for one call or one layout of the record
// store, finalized with its owner; and the column readers its users share.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

namespace Records {

struct FinalizeStatement {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// None when SQLite refuses `sql`.
inline Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return nullptr;
  }
  return Statement(s);
}

inline std::string ColumnText(sqlite3_stmt* s, int column) {
  const unsigned char* text = sqlite3_column_text(s, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(s, column)))
              : std::string();
}

inline std::string_view ColumnBytes(sqlite3_stmt* s, int column) {
  const void* bytes = sqlite3_column_blob(s, column);
  return std::string_view(static_cast<const char*>(bytes),
                          static_cast<size_t>(sqlite3_column_bytes(s, column)));
}

}  // namespace Records
