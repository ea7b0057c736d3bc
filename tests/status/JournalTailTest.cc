// Reading the end of a run journal: which lines count, how far back the reader
// goes, and the time stamps it understands.

#include <gtest/gtest.h>

#include "JournalTail.h"
#include "TempDir.h"
#include "support/Subprocess.h"

namespace {

// One journal line as the download tool writes it.
std::string Line(const std::string& end, const std::string& outcome,
                 const std::string& logged = "null") {
  return R"({"deployment":"site1","start":")" + end + R"(","end":")" + end +
         R"(","duration_s":6.512,"status":)" + (outcome == "complete" ? "0" : "1") +
         R"(,"outcome":")" + outcome + R"(","fatal":)" +
         (outcome == "fatal" ? R"("Connect(): quitting")" : "null") +
         R"(,"session":null,"session_bytes":0,"port":"127.0.0.1:5000","version":"1.0.3",)" +
         R"("records_logged":)" + logged +
         R"(,"next_download":null,"getdata_requests":1,"getlog_requests":0,"records_requested":30})" +
         "\n";
}

class JournalTailTest : public ::testing::Test {
 protected:
  Journal::Tail Read(const std::string& text) {
    WriteFile(path, text);
    return Journal::ReadTail(path);
  }
  TempDir dir;
  std::string path = dir.Path() + "/runs.jsonl";
};

}  // namespace

TEST_F(JournalTailTest, FindsLastRunLastCompleteAndLatestRecordCount) {
  Journal::Tail tail = Read(Line("2026-12-09T10:00:00+00:00", "complete", "120") +
                            Line("2026-12-09T11:00:00+00:00", "complete", "130") +
                            Line("2026-12-09T12:00:00+00:00", "no-prompt") +
                            Line("2026-12-09T13:00:00+01:00", "fatal"));
  ASSERT_TRUE(tail.exists);
  EXPECT_EQ(tail.error, "");
  ASSERT_TRUE(tail.last && tail.lastComplete);
  EXPECT_EQ(tail.last->outcome, "fatal");
  EXPECT_EQ(tail.last->status, 1);
  EXPECT_EQ(tail.last->fatal, "Connect(): quitting");
  EXPECT_EQ(tail.last->endTime, Journal::ParseTime("2026-12-09T12:00:00Z"));
  EXPECT_EQ(tail.lastComplete->end, "2026-12-09T11:00:00+00:00");
  EXPECT_EQ(tail.recordsLogged, 130);
}

TEST_F(JournalTailTest, SkipsDamagedAndUnfinishedLines) {
  std::string good = Line("2026-12-09T10:00:00+00:00", "complete", "7");
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
  std::string text = Line("2026-12-01T00:00:00+00:00", "complete", "55");
  for (int i = 0; i < 2000; ++i) text += Line("2026-12-09T10:00:00+00:00", "stopped");
  Journal::Tail tail = Read(text);
  ASSERT_TRUE(tail.lastComplete);
  EXPECT_EQ(tail.lastComplete->end, "2026-12-01T00:00:00+00:00");
  EXPECT_EQ(tail.recordsLogged, 55);
  EXPECT_EQ(tail.last->outcome, "stopped");
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
