#pragma once
// The typed records of a store as CSV (RFC 4180): a header row of column
// names, optionally a row of units, then one row per record by number; comma
// separators, CR LF line ends, fields quoted when they hold a comma, a quote
// or a line break, quotes doubled, NULL an empty field.

#include <cstdint>
#include <string>

#include "records/RecordStore.h"

namespace CsvExport {

struct Request {
  bool units = false;
  int64_t from = 0, to = INT32_MAX;
  // On the first time field, both included: local text, or with `utc` its
  // UTC column's text; "" leaves a side open.
  std::string since, until;
  bool utc = false;
};

enum class Outcome { kWritten, kReaderGone, kWriteFailed, kNoTimeField, kNoUtcColumn };

// Writes the CSV to `fd` in large writes, the rows streamed from the store.
// A reader that goes away (EPIPE) ends it at once; another write error sets
// `err` to its errno.
Outcome Write(Records::RecordStore* store, const Request& request, int fd, int& err);

// Appends `value` to `out` as one CSV field.
void AppendField(std::string& out, std::string_view value);

}  // namespace CsvExport
