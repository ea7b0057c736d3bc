#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TempDir.h"
#include "recovery/RecordLog.h"
#include "support/Subprocess.h"  // ReadFile

using RecordRecoveryUtils::RangeEntry;
using RecordRecoveryUtils::RecordLog;
using RecordRecoveryUtils::RecordLogPath;
using Ranges = std::vector<RangeEntry>;

namespace {

class RecordLogFile : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return mDir.Path() + "/" + name; }

  void WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(PathOf(name), std::ios::binary) << contents;
  }

  std::string ReadFile(const std::string& name) const { return ::ReadFile(PathOf(name)); }

  // Ranges that readRCD finds in a file holding `contents`.
  Ranges ReadRanges(const std::string& contents) {
    WriteFile("in.rcd", contents);
    RecordLog log(PathOf("in.rcd"));
    EXPECT_TRUE(log.readRCD());
    return log.receivedRanges;
  }

  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(mDir.Path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir mDir;
};

}  // namespace

TEST_F(RecordLogFile, ReadsTokensAndWritesOneNormalisedRangeALine) {
  WriteFile("a.rcd", "1-5,7,9-9\n");
  RecordLog log(PathOf("a.rcd"));
  ASSERT_TRUE(log.readRCD());
  EXPECT_EQ(log.receivedRanges, (Ranges{{1, 5}, {7, 7}, {9, 9}}));
  EXPECT_EQ(log.missingRanges, (Ranges{{0, 0}, {6, 6}, {8, 8}}));
  EXPECT_EQ(log.mFirstRecord, 1);
  EXPECT_EQ(log.mLastRecord, 9);
  ASSERT_TRUE(log.writeRCD());
  EXPECT_EQ(ReadFile("a.rcd"), "1-5\n7-7\n9-9\n");

  WriteFile("b.rcd", "20-29\n1-5,4-8,9\n2147483647\n");
  RecordLog merged(PathOf("b.rcd"));
  ASSERT_TRUE(merged.readRCD());
  ASSERT_TRUE(merged.writeRCD());
  EXPECT_EQ(ReadFile("b.rcd"), "1-9\n20-29\n2147483647-2147483647\n");
}

TEST_F(RecordLogFile, LenientReading) {
  EXPECT_EQ(ReadRanges("\n\n4,,6\n\n"), (Ranges{{4, 4}, {6, 6}}));  // empty tokens claim nothing
  EXPECT_EQ(ReadRanges("1-2\r\n\r\n 8 - 9 \r\n"), (Ranges{{1, 2}, {8, 9}}));
  EXPECT_EQ(ReadRanges("7\n"), (Ranges{{7, 7}}));
}

// A token that is not plainly N or A-B claims nothing (no numeric prefix, no
// 0 for text), and an editor's byte-order mark is not part of the first one.
TEST_F(RecordLogFile, TokensThatAreNotNumbersAreSkippedAndListed) {
  struct Case {
    std::string text;
    Ranges ranges;
    std::vector<std::pair<size_t, std::string>> skipped;
  };
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBF"
       "50-100\n",
       {{50, 100}},
       {}},
      {"-20\n30\n", {{30, 30}}, {{1, "-20"}}},
      {"abc\n", {}, {{1, "abc"}}},
      {"1\n12abc-14x,+5\n5-3,3-5-7\n10\n",
       {{1, 1}, {10, 10}},
       {{2, "12abc-14x"}, {2, "+5"}, {3, "5-3"}, {3, "3-5-7"}}},
      {"x \xEF\xBB\xBF"
       "1",
       {},
       {{1,
         "x \xEF\xBB\xBF"
         "1"}}},  // only at the start
  };
  for (const Case& c : cases) {
    WriteFile("in.rcd", c.text);
    RecordLog log(PathOf("in.rcd"));
    ASSERT_TRUE(log.readRCD());
    EXPECT_EQ(log.receivedRanges, c.ranges) << c.text;
    std::vector<std::pair<size_t, std::string>> skipped;
    for (const auto& t : log.Skipped().listed) skipped.emplace_back(t.line, t.token);
    EXPECT_EQ(skipped, c.skipped) << c.text;
  }
  // A hostile file is not listed token by token.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "x\n";
  WriteFile("in.rcd", many);
  RecordLog log(PathOf("in.rcd"));
  ASSERT_TRUE(log.readRCD());
  const auto warnings = RecordRecoveryUtils::SkippedTokenWarnings(log.Skipped(), "f.rcd");
  ASSERT_EQ(warnings.size(), RecordRecoveryUtils::SkippedTokens::kListed + 1);
  EXPECT_EQ(warnings.front(), "Record recovery file f.rcd line 1: 'x' is not N or A-B; skipped");
  EXPECT_EQ(warnings.back(),
            "Record recovery file f.rcd: 980 more tokens that are not N or A-B skipped");
}

TEST_F(RecordLogFile, NumbersBeyondInt32AreSkippedNeverWrapped) {
  EXPECT_EQ(ReadRanges("2147483646-2147483647\n"), (Ranges{{2147483646, 2147483647}}));
  EXPECT_EQ(
      ReadRanges("2147483648\n1-4294967297\n4294967296-4294967300\n99999999999999999999\n5\n"),
      (Ranges{{5, 5}}));
}

TEST_F(RecordLogFile, EmptyOrMissingFileGivesEmptyLists) {
  WriteFile("empty.rcd", "");
  RecordLog empty(PathOf("empty.rcd"));
  empty.missingRanges = {{1, 1}};
  ASSERT_TRUE(empty.readRCD());
  EXPECT_TRUE(empty.receivedRanges.empty());
  EXPECT_TRUE(empty.missingRanges.empty());

  RecordLog missing(PathOf("absent.rcd"));
  missing.receivedRanges = {{1, 2}};
  missing.mFirstRecord = 1;
  missing.mLastRecord = 2;
  ASSERT_TRUE(missing.readRCD());
  EXPECT_TRUE(missing.receivedRanges.empty());
  EXPECT_EQ(missing.mLastRecord, 2);
}

TEST_F(RecordLogFile, ReadsAMillionLines) {
  std::string text;
  for (int32_t i = 999999; i >= 0; --i)
    text += std::to_string(i * 3) + "-" + std::to_string(i * 3 + 1) + "\n";
  Ranges ranges = ReadRanges(text);
  ASSERT_EQ(ranges.size(), 1000000u);
  EXPECT_EQ(ranges.front(), RangeEntry(0, 1));
  EXPECT_EQ(ranges.back(), RangeEntry(2999997, 2999998));
}

TEST_F(RecordLogFile, FileUrls) {
  EXPECT_EQ(RecordLogPath("/data/x.rcd"), "/data/x.rcd");
  EXPECT_EQ(RecordLogPath("file:///data/my%20log.rcd"), "/data/my log.rcd");
  EXPECT_EQ(RecordLogPath("file:data/x.rcd"), std::nullopt);
  EXPECT_EQ(RecordLogPath("file://host/x.rcd"), std::nullopt);
  EXPECT_EQ(RecordLogPath("file:///x%2"), std::nullopt);
  EXPECT_EQ(RecordLogPath("file:///x%00y"), std::nullopt);

  WriteFile("url log.rcd", "3-4\n");
  RecordLog log("file://" + PathOf("url%20log.rcd"));
  ASSERT_TRUE(log.readRCD());
  EXPECT_EQ(log.receivedRanges, (Ranges{{3, 4}}));
  log.addRecordToRanges(5);
  ASSERT_TRUE(log.writeRCD());
  EXPECT_EQ(ReadFile("url log.rcd"), "3-5\n");
}

// Error paths: the old file stays whole and the user sees why.
TEST_F(RecordLogFile, WritingNothingLeavesTheFileAlone) {
  WriteFile("keep.rcd", "garbage that is kept\n");
  RecordLog log(PathOf("keep.rcd"));
  EXPECT_TRUE(log.writeRCD());
  EXPECT_EQ(ReadFile("keep.rcd"), "garbage that is kept\n");

  RecordLog none(PathOf("new.rcd"));
  EXPECT_TRUE(none.writeRCD());
  EXPECT_FALSE(std::filesystem::exists(PathOf("new.rcd")));
}

TEST_F(RecordLogFile, WhatWasAddedToTheFileSinceItWasReadIsKept) {
  struct Case {
    std::string added;  // by hand, between the read and the write
    bool written;
    std::string after;
  };
  for (const Case& c : std::vector<Case>{
           {"", true, "1-6\n"},
           {"50\n51\n", true, "1-6\n50-51\n"},
           {"7,8", true, "1-8\n"},
           {"x9\n", false, "1-5\nx9\n"},  // a rewrite would drop it
       }) {
    WriteFile("hand.rcd", "1-5\n");
    RecordLog log(PathOf("hand.rcd"));
    ASSERT_TRUE(log.readRCD());
    log.addRecordToRanges(6);
    { std::ofstream(PathOf("hand.rcd"), std::ios::app) << c.added; }
    EXPECT_EQ(log.writeRCD(), c.written) << c.added;
    EXPECT_EQ(log.ChangedMeanwhile(), !c.written) << c.added;
    EXPECT_EQ(ReadFile("hand.rcd"), c.after) << c.added;
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"hand.rcd"}));
  }
}

TEST_F(RecordLogFile, FailedWritesReportAndKeepTheOldFile) {
  std::filesystem::create_directory(PathOf("folder.rcd"));
  RecordLog folder(PathOf("folder.rcd"));
  folder.addRecordToRanges(1);
  EXPECT_FALSE(folder.writeRCD());
  EXPECT_EQ(folder.FailureText(), "writeRCD(): couldnt write " + PathOf("folder.rcd") +
                                      ", the old file is unchanged LastError:-21");
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("folder.rcd")));

  RecordLog gone(PathOf("no-such-folder/x.rcd"));
  gone.addRecordToRanges(1);
  EXPECT_FALSE(gone.writeRCD());
  EXPECT_EQ(gone.FailureText().rfind("writeRCD(): couldnt write", 0), 0u);

  RecordLog url("file:relative.rcd");
  url.addRecordToRanges(1);
  EXPECT_FALSE(url.writeRCD());
  EXPECT_EQ(url.FailureText(), "writeRCD(): not a usable file URL: file:relative.rcd");
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"folder.rcd"}));
}

TEST_F(RecordLogFile, ADiskFullWriteKeepsTheOldFileWhole) {
  WriteFile("full.rcd", "1-2\n");
  RecordLog log(PathOf("full.rcd"));
  ASSERT_TRUE(log.readRCD());
  for (int32_t i = 0; i < 2000; ++i) log.addRangeToRanges(i * 10 + 5, i * 10 + 6);

  // The file size limit makes the temporary file's write fail as a full disk would.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = log.writeRCD();
  const std::string message = log.FailureText();
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_FALSE(written);
  EXPECT_NE(message.find("the old file is unchanged"), std::string::npos);
  EXPECT_EQ(ReadFile("full.rcd"), "1-2\n");
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"full.rcd"}));  // no temporary left
}

TEST_F(RecordLogFile, UnreadableFileIsReportedNotTakenAsEmpty) {
  std::filesystem::create_directory(PathOf("dir.rcd"));
  ASSERT_EQ(::mkfifo(PathOf("fifo.rcd").c_str(), 0600), 0);  // a plain open would block
  WriteFile("big.rcd", std::string(RecordLog::kMaxFileBytes + 1, '\n'));
  for (const auto& [name, reason] :
       {std::pair<std::string, std::string>{"dir.rcd", "not a regular file"},
        {"fifo.rcd", "not a regular file"},
        {"big.rcd", "larger than 67108864 bytes"}}) {
    RecordLog log(PathOf(name));
    log.receivedRanges.emplace_back(1, 2);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(log.readRCD());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the caller decides what is shown
    EXPECT_EQ(log.FailureText(), "readRCD(): couldnt read " + PathOf(name) + " (" + reason + ")");
    EXPECT_EQ(log.ReadFailure(), reason);
    EXPECT_TRUE(log.receivedRanges.empty());
  }
  RecordLog missing(PathOf("absent.rcd"));
  EXPECT_TRUE(missing.readRCD());
  EXPECT_EQ(missing.ReadFailure(), "");
}
