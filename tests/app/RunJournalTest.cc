#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "app/RunJournal.h"

namespace {

// Sets TZ for the scope of one check.
class Zone {
 public:
  explicit Zone(const char* tz) {
    const char* old = std::getenv("TZ");
    if (old) mOld = old;
    mHad = old != nullptr;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~Zone() {
    if (mHad) {
      ::setenv("TZ", mOld.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::string mOld;
  bool mHad = false;
};

}  // namespace

TEST(RunJournalLine, TimesCarryTheirOffsetAndAnyTextStaysValidJson) {
  const std::time_t t = 1796839494;  // 2026-12-09 18:04:54 UTC
  {
    Zone zone("UTC0");
    EXPECT_EQ(RunJournal::IsoTime(t), "2026-12-09T18:04:54+00:00");
  }
  {
    Zone zone("IST-5:30");
    EXPECT_EQ(RunJournal::IsoTime(t), "2026-12-09T23:34:54+05:30");
  }
  {
    Zone zone("NST3:30");
    EXPECT_EQ(RunJournal::IsoTime(t), "2026-12-09T14:34:54-03:30");
  }

  RunRecord r;
  r.deployment = "site1";
  r.fatal = std::string("bad byte \xff in a path\n");
  r.durationSeconds = 6.5124;
  std::string line = RunJournal::Line(r);
  ASSERT_TRUE(line.ends_with("}\n"));
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["duration_s"], 6.512);
  EXPECT_TRUE(parsed["session"].is_null());
  EXPECT_NE(parsed["fatal"].get<std::string>().find("in a path\n"), std::string::npos);
}
