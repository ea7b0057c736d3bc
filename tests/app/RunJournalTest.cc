#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

#include "TempDir.h"
#include "app/RunJournal.h"
#include "support/Subprocess.h"

namespace {

// Sets TZ for the scope of one check.
class Zone {
 public:
  explicit Zone(const char* tz) {
    if (const char* old = std::getenv("TZ")) mOld = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~Zone() {
    mOld ? ::setenv("TZ", mOld->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> mOld;
};

}  // namespace

TEST(RunJournalLine, TimesCarryTheirOffsetAndAnyTextStaysValidJson) {
  const std::time_t t = 1796839494;  // 2026-12-09 18:04:54 UTC
  for (const auto& [tz, expected] : {std::pair{"UTC0", "2026-12-09T18:04:54+00:00"},
                                     std::pair{"IST-5:30", "2026-12-09T23:34:54+05:30"},
                                     std::pair{"NST3:30", "2026-12-09T14:34:54-03:30"}}) {
    Zone zone(tz);
    EXPECT_EQ(RunJournal::IsoTime(t), expected) << tz;
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

TEST(RunJournalAppend, ALineThatDoesNotFitIsCutOffSoOnlyWholeLinesRemain) {
  TempDir dir;
  const std::string path = dir.Path() + "/runs.jsonl";
  RunRecord r;
  r.deployment = "site1";
  r.outcome = "complete";
  const std::string line = RunJournal::Line(r);
  ASSERT_EQ(RunJournal::Append(path, line), 0);

  // A file-size limit that lets only part of the next line in.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = line.size() + 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int err = RunJournal::Append(path, line);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(err, EFBIG);
  EXPECT_EQ(ReadFile(path), line);

  // The next run's line starts on a line of its own.
  ASSERT_EQ(RunJournal::Append(path, line), 0);
  EXPECT_EQ(ReadFile(path), line + line);
}
