// The simulator's parts in isolation: record lines, line cutting, the answers
// to commands, and the fault shaping with a fake clock.

#include <gtest/gtest.h>

#include "Dialogue.h"
#include "FaultShaper.h"
#include "RecordFormat.h"

namespace {

// Everything a reply source produces, in small budgets to exercise streaming.
std::string Drain(ReplySource& reply, size_t budget = 100) {
  std::string all, piece;
  bool more = true;
  while (more) {
    piece.clear();
    more = reply.Fill(piece, budget);
    all += piece;
  }
  return all;
}

std::string Answer(Dialogue& dialogue, const std::string& line) {
  Dialogue::Answer answer = dialogue.Respond(line);
  return answer.reply ? Drain(*answer.reply) : "<quit>";
}

}  // namespace

TEST(RecordFormatTest, LinesAreFixedByTheirNumber) {
  RecordFormat format;
  EXPECT_EQ(format.Line(1), "R000001,2026-01-01 00:00:00,0.37,0.53,919\r\n");
  EXPECT_EQ(format.Line(42), "R000042,2026-01-01 00:41:00,15.54,2.26,598\r\n");
  // Day, month and year boundaries; numbers wider than six digits.
  EXPECT_EQ(format.Line(1441).substr(0, 27), "R001441,2026-01-02 00:00:00");
  EXPECT_EQ(format.Line(59 * 1440 + 1).substr(8, 19), "2026-03-01 00:00:00");
  EXPECT_EQ(format.Line(365 * 1440 + 1).substr(8, 19), "2027-01-01 00:00:00");
  EXPECT_EQ(format.Line(2700000).substr(0, 9), "R2700000,");
  EXPECT_EQ(format.Line(2147483647).substr(0, 28), "R2147483647,6109-01-24 02:06");
}

TEST(RecordFormatTest, RecordSizePadsOrCutsKeepingCrLf) {
  std::string natural = RecordFormat().Line(7);
  std::string padded = RecordFormat(100).Line(7);
  ASSERT_EQ(padded.size(), 100u);
  EXPECT_EQ(padded.substr(0, natural.size() - 2), natural.substr(0, natural.size() - 2));
  EXPECT_EQ(padded.substr(natural.size() - 2, 98 - (natural.size() - 2)),
            std::string(98 - (natural.size() - 2), ' '));
  EXPECT_EQ(padded.substr(98), "\r\n");
  EXPECT_EQ(RecordFormat(10).Line(7), "R000007,\r\n");
  EXPECT_EQ(RecordFormat(3).Line(7), "R\r\n");
  EXPECT_EQ(RecordFormat(natural.size()).Line(7), natural);
}

TEST(LineAssemblerTest, CrLfAndCrLfEndOneLineEachAcrossPieces) {
  LineAssembler lines;
  std::vector<std::string> got;
  lines.Feed("\rlogs\r", got);
  lines.Feed("\ngetdata 5\n\nget", got);
  lines.Feed("log 1 2\r", got);
  lines.Feed("\r\n", got);
  EXPECT_EQ(got, (std::vector<std::string>{"", "logs", "getdata 5", "", "getlog 1 2", ""}));
}

TEST(LineAssemblerTest, OverlongLineIsCutNotGrown) {
  LineAssembler lines(8);
  std::vector<std::string> got;
  lines.Feed(std::string(100000, 'x') + "\rlogs\r", got);
  EXPECT_EQ(got, (std::vector<std::string>{"xxxxxxxx", "logs"}));
}

class DialogueTest : public ::testing::Test {
 protected:
  DialogueTest() { options.records = 5; }
  std::string Records(int64_t first, int64_t last) {
    std::string text;
    for (int64_t n = first; n <= last; ++n) text += RecordFormat().Line(n);
    return text;
  }
  SimOptions options;
};

TEST_F(DialogueTest, AnswersEachCommand) {
  Dialogue d(options);
  EXPECT_EQ(Answer(d, ""), "\r\nPELOX>");
  EXPECT_EQ(Answer(d, "   "), "\r\nPELOX>");
  EXPECT_EQ(Answer(d, " LoGs "), "\r\nRecords logged: 5\r\nNext download is record 6\r\nPELOX>");
  EXPECT_EQ(Answer(d, "getdata 2"), "\r\n" + Records(4, 5) + "done\r\nPELOX>");
  EXPECT_EQ(Answer(d, "GETDATA   99"), "\r\n" + Records(1, 5) + "done\r\nPELOX>");
  EXPECT_EQ(Answer(d, "getdata 0"), "\r\ndone\r\nPELOX>");
  EXPECT_EQ(Answer(d, "getlog 2 2"), "\r\n" + Records(2, 3) + "PELOX>");
  EXPECT_EQ(Answer(d, "getlog 0 3"), "\r\n" + Records(1, 2) + "PELOX>");
  EXPECT_EQ(Answer(d, "getlog 4 100"), "\r\n" + Records(4, 5) + "PELOX>");
  EXPECT_EQ(Answer(d, "getlog 6 1"), "\r\nPELOX>");
  EXPECT_EQ(Answer(d, "getlog 3 9223372036854775807"), "\r\n" + Records(3, 5) + "PELOX>");
  EXPECT_EQ(Answer(d, "Quit"), "<quit>");
}

TEST_F(DialogueTest, MalformedCommandsGetAnErrorAndThePrompt) {
  Dialogue d(options);
  EXPECT_EQ(Answer(d, "status"), "\r\nERROR: unknown command\r\nPELOX>");
  EXPECT_EQ(Answer(d, "quit now"), "\r\nERROR: unknown command\r\nPELOX>");
  for (const char* bad :
       {"getdata", "getdata -1", "getdata 5x", "getdata 1 2", "getdata 99999999999999999999"}) {
    EXPECT_EQ(Answer(d, bad), "\r\nERROR: usage: getdata COUNT\r\nPELOX>") << bad;
  }
  EXPECT_EQ(Answer(d, "getlog 1"), "\r\nERROR: usage: getlog FIRST COUNT\r\nPELOX>");
}

TEST_F(DialogueTest, OptionsShapeTheAnswers) {
  options.next = 3;
  options.prompt = "C1>";
  options.noDone = 2;
  Dialogue d(options);
  EXPECT_NE(Answer(d, "logs").find("Next download is record 3\r\n"), std::string::npos);
  EXPECT_EQ(Answer(d, "getdata 1"), "\r\n" + Records(5, 5) + "C1>");
  EXPECT_EQ(Answer(d, "getdata 1"), "\r\n" + Records(5, 5) + "C1>");
  EXPECT_EQ(Answer(d, "getdata 1"), "\r\n" + Records(5, 5) + "done\r\nC1>");
  d.Reset();  // a new connection starts counting again
  EXPECT_EQ(Answer(d, "getdata 1"), "\r\n" + Records(5, 5) + "C1>");

  options.noDone = -1;
  options.noPrompt = true;
  Dialogue never(options);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Answer(never, "getdata 1"), "\r\n" + Records(5, 5));
  EXPECT_EQ(Answer(never, ""), "\r\n");
}

TEST_F(DialogueTest, GarbageNeverShowsThePromptAndHasTheReplysLength) {
  options.garbage = true;
  Dialogue d(options);
  std::string wake = Answer(d, "");
  EXPECT_EQ(wake.size(), 32u);
  std::string data = Answer(d, "getdata 5");
  EXPECT_EQ(data.size(), 2 + Records(1, 5).size() + 6);
  for (const std::string& g : {wake, data}) EXPECT_EQ(g.find('>'), std::string::npos);
}

TEST_F(DialogueTest, NoNewlinesStreamsWithoutEnd) {
  options.noNewlines = true;
  Dialogue d(options);
  Dialogue::Answer answer = d.Respond("getdata 5");
  std::string piece;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(answer.reply->Fill(piece, 10000));
  EXPECT_GE(piece.size(), 10000u);
  EXPECT_EQ(piece.find_first_of("\r\n"), std::string::npos);
}

TEST(FaultShaperTest, CloseAndSilenceComeAfterExactlyTheirBytes) {
  SimOptions options;
  options.closeAfter = 10;
  options.chunk = 4;
  FaultShaper shaper(options);
  auto now = FaultShaper::Clock::now();
  shaper.Start(now);
  std::vector<size_t> writes;
  for (;;) {
    FaultShaper::Plan plan = shaper.Next(100, now);
    if (plan.close) break;
    ASSERT_GT(plan.bytes, 0u);
    writes.push_back(plan.bytes);
    shaper.Sent(plan.bytes);
  }
  EXPECT_EQ(writes, (std::vector<size_t>{4, 4, 2}));

  options = SimOptions();
  options.silentAfter = 5;
  FaultShaper silent(options);
  silent.Start(now);
  EXPECT_EQ(silent.Next(100, now).bytes, 5u);
  silent.Sent(5);
  EXPECT_TRUE(silent.Next(100, now).mute);
  EXPECT_FALSE(silent.Next(100, now).close);
}

TEST(FaultShaperTest, ThrottleKeepsTheRateAndSaysHowLongToWait) {
  SimOptions options;
  options.throttle = 1000;  // budget of 20 bytes
  FaultShaper shaper(options);
  auto t = FaultShaper::Clock::now();
  shaper.Start(t);
  // Bytes go out a whole budget at a time, not one by one as the rate allows.
  FaultShaper::Plan plan = shaper.Next(500, t);
  EXPECT_EQ(plan.bytes, 0u);
  EXPECT_EQ(plan.waitMs, 20);
  plan = shaper.Next(500, t + std::chrono::milliseconds(10));
  EXPECT_EQ(plan.bytes, 0u);
  EXPECT_EQ(plan.waitMs, 10);
  // Less pending than a budget goes out as soon as the rate allows all of it.
  plan = shaper.Next(5, t + std::chrono::milliseconds(10));
  EXPECT_EQ(plan.bytes, 5u);
  shaper.Start(t);
  size_t sent = 0;
  for (int ms = 1; ms <= 1000; ++ms) {
    plan = shaper.Next(500, t + std::chrono::milliseconds(ms));
    shaper.Sent(plan.bytes);
    sent += plan.bytes;
  }
  EXPECT_GE(sent, 980u);
  EXPECT_LE(sent, 1000u);
  // After a long pause only the small budget is available, not a burst.
  plan = shaper.Next(5000, t + std::chrono::seconds(10));
  EXPECT_EQ(plan.bytes, 20u);
}
