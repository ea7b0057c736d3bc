#include "CsvExport.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/WriteAll.h"

namespace CsvExport {

namespace {

constexpr size_t kFlushBytes = size_t{1} << 20;

// Leaves the rows' loop when a write fails.
struct WriteStopped {
  int err;
};

class Output {
 public:
  explicit Output(int fd) : mFd(fd) { mText.reserve(kFlushBytes + (kFlushBytes >> 2)); }
  std::string& Text() { return mText; }
  void Flush() {
    if (int err = WriteAll(mFd, mText); err != 0) throw WriteStopped{err};
    mText.clear();
  }
  void FlushWhenFull() {
    if (mText.size() >= kFlushBytes) Flush();
  }

 private:
  int mFd;
  std::string mText;
};

void AppendRow(std::string& out, const std::vector<std::string>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    AppendField(out, fields[i]);
  }
  out += "\r\n";
}

}  // namespace

void AppendField(std::string& out, std::string_view value) {
  bool plain = true;
  for (char c : value) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      plain = false;
      break;
    }
  }
  if (plain) {
    out.append(value);
    return;
  }
  out += '"';
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

Outcome Write(Records::RecordStore* store, const Request& request, int fd, int& err) {
  const std::vector<Records::TypedColumn> columns =
      store ? store->TypedColumns() : std::vector<Records::TypedColumn>{};
  Records::TextBounds bounds;
  if (!request.since.empty() || !request.until.empty()) {
    for (size_t i = 0; i < columns.size() && bounds.column < 0; ++i)
      if (columns[i].type == "time") bounds.column = static_cast<int>(i);
    if (bounds.column < 0) return Outcome::kNoTimeField;
    if (request.utc) {
      const std::string& first = columns[static_cast<size_t>(bounds.column)].name;
      const size_t next = static_cast<size_t>(bounds.column) + 1;
      if (next >= columns.size() || columns[next].utcOf != first) return Outcome::kNoUtcColumn;
      bounds.column = static_cast<int>(next);
    }
    bounds.since = request.since;
    bounds.until = request.until;
  }
  Output out(fd);
  try {
    std::vector<std::string> header{"number"}, units{""};
    for (const Records::TypedColumn& c : columns) {
      header.push_back(c.name);
      units.push_back(c.unit);
    }
    AppendRow(out.Text(), header);
    if (request.units) AppendRow(out.Text(), units);
    if (store)
      store->ForEachTypedRow(
          request.from, request.to, bounds,
          [&out](int64_t number, const std::vector<std::optional<std::string>>& values) {
            std::string& text = out.Text();
            char digits[24];
            text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
            for (const std::optional<std::string>& v : values) {
              text += ',';
              if (v) AppendField(text, *v);
            }
            text += "\r\n";
            out.FlushWhenFull();
          });
    out.Flush();
  } catch (const WriteStopped& stopped) {
    if (stopped.err == EPIPE) return Outcome::kReaderGone;
    err = stopped.err;
    return Outcome::kWriteFailed;
  }
  return Outcome::kWritten;
}

}  // namespace CsvExport
