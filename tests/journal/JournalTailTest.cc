// Reading the end of a run journal written by the run's own writer: which lines
// count, how far back the reader goes, and the time stamps it understands.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "TempDir.h"
#include "app/RunJournal.h"
#include "journal/JournalTail.h"
#include "support/Subprocess.h"

namespace {

// One journal line as the download run writes it, ending at `end` (UTC).
std::string Line(const std::string& end, const std::string& outcome,
                 std::optional<int64_t> logged = std::nullopt) {
  RunRecord r;
  r.deployment = "site1";
  r.end = static_cast<std::time_t>(Journal::ParseTime(end).value_or(0));
  r.start = r.end - 6;
  r.durationSeconds = 6.512;
  r.status = outcome == RunJournalFormat::Outcome::kComplete ? 0 : 1;
  r.outcome = outcome;
  if (outcome == RunJournalFormat::Outcome::kFatal) r.fatal = "Connect(): quitting";
  r.port = "127.0.0.1:5000";
  r.version = "1.0.3";
  r.recordsLogged = logged;
  r.getdataRequests = 1;
  r.recordsRequested = 30;
  return RunJournal::Line(r);
}

class JournalTailTest : public ::testing::Test {
 protected:
  // The writer stamps local time; UTC keeps the stamps the test compares.
  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  Journal::Tail Read(const std::string& text, size_t recentRuns = 0) {
    WriteFile(path, text);
    return Journal::ReadTail(path, recentRuns);
  }
  TempDir dir;
  std::string path = dir.Path() + "/runs.jsonl";
};

}  // namespace

TEST_F(JournalTailTest, FindsLastRunLastCompleteAndLatestRecordCount) {
  Journal::Tail tail =
      Read(Line("2026-12-09T10:00:00+00:00", "complete", 120) +
           Line("2026-12-09T11:00:00+00:00", "complete", 130) +
           Line("2026-12-09T12:00:00+00:00", "no-prompt") + Line("2026-12-09T12:00:00Z", "fatal"));
  ASSERT_TRUE(tail.exists);
  EXPECT_EQ(tail.error, "");
  ASSERT_TRUE(tail.last && tail.lastComplete);
  EXPECT_EQ(tail.last->outcome, "fatal");
  EXPECT_EQ(tail.last->status, 1);
  EXPECT_EQ(tail.last->fatal, "Connect(): quitting");
  EXPECT_EQ(tail.last->endTime, 1796817600);  // 2026-12-09T12:00:00Z
  EXPECT_EQ(tail.lastComplete->end, "2026-12-09T11:00:00+00:00");
  EXPECT_EQ(tail.recordsLogged, 130);
}

TEST_F(JournalTailTest, SkipsDamagedAndUnfinishedLines) {
  std::string good = Line("2026-12-09T10:00:00+00:00", "complete", 7);
  Journal::Tail tail = Read(good + "not json\n{\"outcome\":3}\n\n" + good.substr(0, 40));
  ASSERT_TRUE(tail.last);
  EXPECT_EQ(tail.last->end, "2026-12-09T10:00:00+00:00");
  EXPECT_EQ(tail.recordsLogged, 7);

  // A first line without a line break before it is read too.
  tail = Read(good.substr(0, good.size() - 1));
  EXPECT_TRUE(tail.last);
}

TEST_F(JournalTailTest, ReadsBackAcrossBlocksToTheLastCompleteRun) {
  // A complete run, then ~2,000 failed ones: the reader must go back through
  // many blocks, and a line split across two blocks must come out whole.
  std::string text = Line("2026-12-01T00:00:00+00:00", "complete", 55);
  for (int i = 0; i < 2000; ++i) text += Line("2026-12-09T10:00:00+00:00", "stopped");
  Journal::Tail tail = Read(text);
  ASSERT_TRUE(tail.lastComplete);
  EXPECT_EQ(tail.lastComplete->end, "2026-12-01T00:00:00+00:00");
  EXPECT_EQ(tail.recordsLogged, 55);
  EXPECT_EQ(tail.last->outcome, "stopped");
  EXPECT_TRUE(tail.recent.empty());  // none asked for

  // The last runs asked for, newest first, with their duration and size; fewer
  // when the journal holds fewer.
  text += Line("2026-12-10T00:00:00+00:00", "complete", 60);
  tail = Read(text, 50);
  ASSERT_EQ(tail.recent.size(), 50u);
  EXPECT_EQ(tail.recent[0].end, "2026-12-10T00:00:00+00:00");
  EXPECT_EQ(tail.recent[0].durationS, 6.512);
  EXPECT_EQ(tail.recent[1].outcome, "stopped");
  EXPECT_EQ(tail.recordsLogged, 60);
  tail = Read(Line("2026-12-09T10:00:00+00:00", "fatal") + "not json\n", 50);
  ASSERT_EQ(tail.recent.size(), 1u);
  EXPECT_EQ(tail.recent[0].outcome, "fatal");
}

TEST_F(JournalTailTest, MissingJournalAndOverlongDamage) {
  Journal::Tail none = Journal::ReadTail(dir.Path() + "/absent.jsonl");
  EXPECT_FALSE(none.exists);
  EXPECT_FALSE(none.last);

  // 200 KiB without a line break is damage, skipped; the line before it counts.
  Journal::Tail tail = Read(Line("2026-12-09T10:00:00+00:00", "complete") +
                            "{\"outcome\":\"complete\"" + std::string(200 * 1024, 'x') + "\n");
  ASSERT_TRUE(tail.last);
  EXPECT_EQ(tail.last->end, "2026-12-09T10:00:00+00:00");

  Journal::Tail folder = Journal::ReadTail(dir.Path());
  EXPECT_TRUE(folder.exists);
  EXPECT_NE(folder.error, "");
}

TEST(JournalTimeTest, ParsesIsoTimesWithOffsets) {
  EXPECT_EQ(Journal::ParseTime("1970-01-01T00:00:00+00:00"), 0);
  EXPECT_EQ(Journal::ParseTime("2026-12-09T18:04:54+00:00"), 1796839494);
  EXPECT_EQ(Journal::ParseTime("2026-12-09T19:04:54.250+01:00"), 1796839494);
  EXPECT_EQ(Journal::ParseTime("2026-12-09T13:04:54-05:00"), 1796839494);
  EXPECT_EQ(Journal::ParseTime("2026-12-09T18:04:54Z"), 1796839494);
  EXPECT_EQ(Journal::ParseTime("2024-02-29T00:00:00Z"), 1709164800);
  EXPECT_FALSE(Journal::ParseTime("2026-13-09T18:04:54Z"));
  EXPECT_FALSE(Journal::ParseTime("2026-12-09"));
  EXPECT_FALSE(Journal::ParseTime("2026-12-09T18:04:54+0100"));
  EXPECT_FALSE(Journal::ParseTime(""));
}
