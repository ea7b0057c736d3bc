// The record fields of a cfg: which definitions are taken, and how a line's
// values are typed, counted and made exact.

#include <gtest/gtest.h>

#include "TempDir.h"
#include "records/RecordFields.h"
#include "records/RecordStore.h"
#include "records/TypedRow.h"

namespace {

using Records::FieldItem;

TEST(RecordFields, DefinitionsAreTakenOnlyWhenEveryColumnIsSound) {
  struct Case {
    std::vector<FieldItem> items;
    std::string separator, zone;
    std::string error;  // part of it; "" when taken
  };
  const std::vector<Case> cases = {
      {{{"id", "", "", ""}, {"time", "time", "", ""}, {"temp", "real", "degC", ""}}, ",", "", ""},
      {{{"t", "time", "", "%d.%m.%y %H:%M"}, {"n", "integer", "", ""}}, ";", "UTC", ""},
      {{{"t", "time", "", "%F %T"}}, "\t", "", ""},
      {{}, ",", "", "names no field"},
      {{{"a", "", "", ""}}, "", "", "RecordFieldSeparator is empty"},
      {{{"temp", "", "", ""}, {"Temp", "", "", ""}}, ",", "", "\"temp\" is already taken"},
      {{{"Number", "", "", ""}}, ",", "", "\"number\" is already taken"},
      {{{"t", "time", "", ""}, {"t_utc", "", "", ""}}, ",", "UTC", "\"t_utc\" is already taken"},
      {{{"t", "time", "", ""}, {"t_utc", "", "", ""}}, ",", "", ""},  // no zone: no t_utc column
      {{{"2nd", "", "", ""}}, ",", "", "not a plain name"},
      {{{"a b", "", "", ""}}, ",", "", "not a plain name"},
      {{{"a", "float", "", ""}}, ",", "", "type \"float\" is not one of"},
      {{{"a", "real", "", "%Y"}}, ",", "", "a format goes only with type time"},
      {{{"t", "time", "", "%Y-%m-%d %Q"}}, ",", "", "\"%Q\" is not one of"},
      {{{"t", "time", "", "%H:%M"}}, ",", "", "names no full date"},
      {{{"t", "time", "", "%Y %y %m %d"}}, ",", "", "repeats a part"},
      {{{"t", "time", "", "%Y-%m-%d %"}}, ",", "", "lone \"%\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    std::string error;
    const auto def = Records::MakeFieldDefinition(c.items, c.separator, c.zone, error);
    if (c.error.empty()) {
      ASSERT_TRUE(def) << error;
      EXPECT_EQ(def->fields.size(), c.items.size());
    } else {
      EXPECT_FALSE(def);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
  // Without RecordFields the fields are generic; any change shows in the canonical text.
  std::string error;
  const auto generic = Records::MakeFieldDefinition(std::nullopt, ",", "", error);
  ASSERT_TRUE(generic);
  EXPECT_FALSE(generic->Named());
  EXPECT_NE(generic->Canonical(),
            Records::MakeFieldDefinition(std::nullopt, ";", "", error)->Canonical());
  EXPECT_NE(Records::MakeFieldDefinition(std::vector<FieldItem>{{"a", "", "", ""}}, ",", "", error)
                ->Canonical(),
            Records::MakeFieldDefinition(std::vector<FieldItem>{{"a", "", "x", ""}}, ",", "", error)
                ->Canonical());
}

TEST(RecordFields, LinesAreTypedWithTheirIssuesCounted) {
  std::string error;
  const auto def =
      Records::MakeFieldDefinition(std::vector<FieldItem>{{"id", "", "", ""},
                                                          {"time", "time", "", "%d.%m.%Y %H:%M"},
                                                          {"temp", "real", "", ""},
                                                          {"n", "integer", "", ""}},
                                   ";", "Europe/Berlin", error);
  ASSERT_TRUE(def) << error;
  const auto zone = TimeZone::Zone::Load("Europe/Berlin", error);
  ASSERT_TRUE(zone) << error;
  Records::LineTyper typer(*def, &*zone);
  ASSERT_EQ(typer.Columns().size(), 5u);  // id, time, time_utc, temp, n
  EXPECT_EQ(typer.FirstTimeColumn(), 1);
  EXPECT_EQ(typer.FirstUtcColumn(), 2);

  struct Case {
    std::string line;
    std::optional<int64_t> earlier;   // the instant of the record before
    std::vector<std::string> values;  // "-" for NULL
    int bad, shortLines, longLines, nonexistent;
  };
  const std::vector<Case> cases = {
      {"R1;01.01.2026 06:40;48.37;519",
       {},
       {"R1", "2026-01-01 06:40:00", "2026-01-01T05:40:00Z", "48.37", "519"},
       0,
       0,
       0,
       0},
      {"R2;1.1.2026 06:40;-1e2;-3",
       {},
       {"R2", "2026-01-01 06:40:00", "2026-01-01T05:40:00Z", "-100", "-3"},
       0,
       0,
       0,
       0},
      {"R3;31.02.2026 06:40;x1;1.5", {}, {"R3", "-", "-", "-", "-"}, 3, 0, 0, 0},
      {"R4;;nan;", {}, {"R4", "-", "-", "-", "-"}, 1, 0, 0, 0},
      {"R5;01.01.2026 06:40",
       {},
       {"R5", "2026-01-01 06:40:00", "2026-01-01T05:40:00Z", "-", "-"},
       0,
       1,
       0,
       0},
      {"R6;01.01.2026 06:40;1;2;extra;more",
       {},
       {"R6", "2026-01-01 06:40:00", "2026-01-01T05:40:00Z", "1", "2"},
       0,
       0,
       1,
       0},
      {"R7;29.03.2026 02:30;1;2", {}, {"R7", "2026-03-29 02:30:00", "-", "1", "2"}, 0, 0, 0, 1},
      {"R12;01.01.2026 06:40;-.5;+7",
       {},
       {"R12", "2026-01-01 06:40:00", "2026-01-01T05:40:00Z", "-0.5", "7"},
       0,
       0,
       0,
       0},
      {"R13;01.01.2026 06:40;1.2.3;7 ",
       {},
       {"R13", "2026-01-01 06:40:00", "2026-01-01T05:40:00Z", "-", "-"},
       2,
       0,
       0,
       0},
      // The repeated hour: the earlier instant, unless the record before lies
      // later within the hour; a record before the hour leaves it earlier.
      {"R8;25.10.2026 02:10;1;2",
       {},
       {"R8", "2026-10-25 02:10:00", "2026-10-25T00:10:00Z", "1", "2"},
       0,
       0,
       0,
       0},
      {"R9;25.10.2026 02:10;1;2",
       TimeZone::CivilSeconds(2026, 10, 25, 0, 50, 0),
       {"R9", "2026-10-25 02:10:00", "2026-10-25T01:10:00Z", "1", "2"},
       0,
       0,
       0,
       0},
      {"R10;25.10.2026 02:10;1;2",
       TimeZone::CivilSeconds(2026, 10, 25, 0, 10, 0),
       {"R10", "2026-10-25 02:10:00", "2026-10-25T00:10:00Z", "1", "2"},
       0,
       0,
       0,
       0},
      {"R11;25.10.2026 02:10;1;2",
       TimeZone::CivilSeconds(2026, 10, 24, 23, 50, 0),
       {"R11", "2026-10-25 02:10:00", "2026-10-25T00:10:00Z", "1", "2"},
       0,
       0,
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Records::TypingIssues issues;
    std::vector<Records::TypedValue> values;
    std::optional<int64_t> first;
    typer.Type(
        7, c.line, [&c](int) { return c.earlier; }, values, first, issues);
    std::vector<std::string> shown;
    for (const Records::TypedValue& v : values) {
      switch (v.kind) {
        case Records::TypedValue::Kind::kNull:
          shown.push_back("-");
          break;
        case Records::TypedValue::Kind::kInteger:
          shown.push_back(std::to_string(v.integer));
          break;
        case Records::TypedValue::Kind::kReal: {
          char text[32];
          std::snprintf(text, sizeof text, "%g", v.real);
          shown.push_back(text);
          break;
        }
        case Records::TypedValue::Kind::kText:
          shown.push_back(v.text);
          break;
      }
    }
    EXPECT_EQ(shown, c.values);
    EXPECT_EQ(issues.badValues.count, c.bad);
    EXPECT_EQ(issues.shortLines.count, c.shortLines);
    EXPECT_EQ(issues.longLines.count, c.longLines);
    EXPECT_EQ(issues.nonexistentTimes.count, c.nonexistent);
    EXPECT_EQ(first.has_value(), shown[2] != "-");
    EXPECT_EQ(issues.badValues.firstNumber, issues.badValues.count > 0 ? 7 : 0);
  }
}

TEST(RecordFields, TheStoreCountsDaysAndIntervalsWhateverTheOrderOfAbsorbing) {
  // Ten-minute records, one of them late by three minutes, through a
  // midnight and across the autumn change; absorbed in transactions and
  // orders of every kind, the store must come to the same rows, days and
  // usual interval.
  std::vector<std::string> lines = {
      "1,2026-10-24 23:40:00,1.5", "2,2026-10-24 23:50:00,2", "3,2026-10-25 00:03:00,3",
      "4,2026-10-25 00:10:00,4",   "5,2026-10-25 02:40:00,5", "6,2026-10-25 02:50:00,6",
      "7,2026-10-25 02:00:00,7",   "8,2026-10-25 02:10:00,8", "9,2026-10-25 02:20:00,x"};
  struct Case {
    const char* what;
    std::vector<std::vector<int>> transactions;  // record numbers, in the order put
    // Whether 7 to 9 take their second pass through the repeated hour, which
    // they can only when a record before them in it is stored first.
    bool secondPass;
  };
  const std::vector<Case> cases = {
      {"in order, at once", {{1, 2, 3, 4, 5, 6, 7, 8, 9}}, true},
      {"in order, record by record", {{1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}}, true},
      {"the latest first, then the older", {{5, 6, 7, 8, 9}, {1, 2, 3, 4}}, true},
      {"gaps filled later", {{1, 3, 5, 7, 9}, {2, 4, 6, 8}}, true},
      {"the second pass before the first", {{7, 8, 9}, {1, 2, 3, 4, 5, 6}}, false},
  };
  std::string error;
  const auto def = Records::MakeFieldDefinition(
      std::vector<FieldItem>{
          {"n", "integer", "", ""}, {"time", "time", "", ""}, {"v", "real", "V", ""}},
      ",", "Europe/Berlin", error);
  ASSERT_TRUE(def) << error;
  const auto zone = TimeZone::Zone::Load("Europe/Berlin", error);
  ASSERT_TRUE(zone) << error;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Records::RecordStore store = Records::RecordStore::OpenForWriting(dir.Path() + "/r.sqlite");
    Records::TypingIssues issues;
    store.UseFields(*def, &*zone, issues);
    for (const std::vector<int>& numbers : c.transactions) {
      store.Begin();
      for (int n : numbers) {
        int64_t first = 0;
        ASSERT_EQ(store.Put(n, lines[static_cast<size_t>(n - 1)], 0, 0, 0, first),
                  Records::PutResult::kNew);
        store.PutTyped(n, lines[static_cast<size_t>(n - 1)]);
      }
      store.NoteTyped();
      store.Commit();
    }
    std::vector<std::string> rows;
    store.ForEachTypedRow(0, 100, [&rows](int64_t, const auto& values) {
      std::string row;
      for (const auto& v : values) row += (v ? *v : "-") + "|";
      rows.push_back(row);
    });
    const std::string utc7 = c.secondPass ? "2026-10-25T01:00:00Z" : "2026-10-25T00:00:00Z";
    const std::string utc8 = c.secondPass ? "2026-10-25T01:10:00Z" : "2026-10-25T00:10:00Z";
    const std::string utc9 = c.secondPass ? "2026-10-25T01:20:00Z" : "2026-10-25T00:20:00Z";
    EXPECT_EQ(rows, (std::vector<std::string>{"1|2026-10-24 23:40:00|2026-10-24T21:40:00Z|1.5|",
                                              "2|2026-10-24 23:50:00|2026-10-24T21:50:00Z|2.0|",
                                              "3|2026-10-25 00:03:00|2026-10-24T22:03:00Z|3.0|",
                                              "4|2026-10-25 00:10:00|2026-10-24T22:10:00Z|4.0|",
                                              "5|2026-10-25 02:40:00|2026-10-25T00:40:00Z|5.0|",
                                              "6|2026-10-25 02:50:00|2026-10-25T00:50:00Z|6.0|",
                                              "7|2026-10-25 02:00:00|" + utc7 + "|7.0|",
                                              "8|2026-10-25 02:10:00|" + utc8 + "|8.0|",
                                              "9|2026-10-25 02:20:00|" + utc9 + "|-|"}));
    const std::vector<Records::DayCount> days = store.RecordDays("2026-10-25");
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].records, 7);
    EXPECT_EQ(store.RecordDays("").size(), 2u);
    EXPECT_EQ(store.RecordInterval(), 600);
    EXPECT_EQ(store.TypedColumns().size(), 4u);
    EXPECT_EQ(issues.badValues.count, 1);
  }
}

}  // namespace
