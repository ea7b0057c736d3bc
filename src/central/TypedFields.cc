// The seam between the record store's typed fields and the central rows: each
// row gets its fields as a JSON object (numbers as numbers, times and texts as
// strings, a value that did not parse as null) and its first time field's UTC
// instant.

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "central/Publisher.h"

namespace Central {

namespace {

nlohmann::json Value(const std::string& type, const std::optional<std::string>& text) {
  if (!text) return nullptr;
  if (type == "integer" || type == "real") {
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || *end != '\0' || !std::isfinite(v)) return nullptr;
    if (type == "integer") return std::strtoll(text->c_str(), nullptr, 10);
    return v;
  }
  return *text;
}

}  // namespace

void AddTypedFields(Records::RecordStore& store, std::vector<PublishRow>& rows) {
  if (rows.empty()) return;
  const std::vector<Records::TypedColumn> columns = store.TypedColumns();
  if (columns.empty()) return;
  // The UTC column of the first time field, when the cfg names a zone.
  int utcColumn = -1;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].type != "time") continue;
    for (size_t j = i + 1; j < columns.size(); ++j)
      if (columns[j].utcOf == columns[i].name) utcColumn = static_cast<int>(j);
    break;
  }
  size_t next = 0;  // rows and the store's typed rows both go up by number
  store.ForEachTypedRow(rows.front().number, rows.back().number,
                        [&](int64_t number, const std::vector<std::optional<std::string>>& values) {
                          while (next < rows.size() && rows[next].number < number) ++next;
                          if (next == rows.size() || rows[next].number != number) return;
                          nlohmann::json fields = nlohmann::json::object();
                          for (size_t i = 0; i < columns.size() && i < values.size(); ++i) {
                            if (!columns[i].utcOf.empty()) continue;
                            fields[columns[i].name] = Value(columns[i].type, values[i]);
                          }
                          PublishRow& row = rows[next];
                          row.fieldsJson =
                              fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
                          if (utcColumn >= 0 && static_cast<size_t>(utcColumn) < values.size())
                            row.timeUtc = values[static_cast<size_t>(utcColumn)];
                        });
}

}  // namespace Central
