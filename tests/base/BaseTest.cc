#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "TempDir.h"
#include "base/AsciiText.h"
#include "base/AtomicFile.h"
#include "base/DateValue.h"
#include "base/FolderItem.h"
#include "base/NumberText.h"
#include "base/TimeZone.h"
#include "base/Variant.h"
#include "base/WholeFile.h"
#include "support/Subprocess.h"  // ReadFile

TEST(AsciiText, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(AsciiText::Lower("PELOX> \xC3\x84Z"), "pelox> \xC3\x84z");
  EXPECT_TRUE(AsciiText::EndsWithIgnoringCase("data\r\npelox>", "PELOX>"));
  EXPECT_FALSE(AsciiText::EndsWithIgnoringCase(">", "PELOX>"));
  EXPECT_TRUE(AsciiText::StartsWithIgnoringCase("--Help", "--h"));
  EXPECT_FALSE(AsciiText::EqualsIgnoringCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_TRUE(AsciiText::IsSpace('\v') && !AsciiText::IsBlank('\n'));
}

TEST(NumberText, LeadingNumbersNeverWrap) {
  EXPECT_EQ(NumberText::LeadingInt32("9600"), 9600);
  EXPECT_EQ(NumberText::LeadingInt32("  -12abc"), -12);
  EXPECT_EQ(NumberText::LeadingInt32("abc"), 0);
  EXPECT_EQ(NumberText::LeadingInt32("2147483647"), 2147483647);
  EXPECT_EQ(NumberText::LeadingInt32("2147483648"), 2147483647);
  EXPECT_EQ(NumberText::LeadingInt32("-99999999999999999999"), -2147483647 - 1);
  EXPECT_FALSE(NumberText::LeadingInt32Checked("4294967296").has_value());
  EXPECT_DOUBLE_EQ(NumberText::LeadingNumber("12abc"), 12.0);
  EXPECT_DOUBLE_EQ(NumberText::LeadingNumber("-2.5e1x"), -25.0);
  EXPECT_DOUBLE_EQ(NumberText::LeadingNumber(".x"), 0.0);
  EXPECT_EQ(NumberText::ClampToInt32(1e300), 2147483647);
  EXPECT_EQ(NumberText::FormatNumber(9600.0), "9600");
  EXPECT_EQ(NumberText::FormatNumber(2.5), "2.5");
}

TEST(DateValue, ParsesIsoDatesOnly) {
  EXPECT_EQ(DateValue::Parse("2026-12-09")->ToText(), "2026-12-09 00:00:00");
  EXPECT_EQ(DateValue::Parse("2026-12-09T10:11")->ToText(), "2026-12-09 10:11:00");
  EXPECT_EQ(DateValue::Parse(" 2024-02-29 23:59:59.5Z ")->ToText(), "2024-02-29 23:59:59");
  EXPECT_FALSE(DateValue::Parse("2023-02-29"));
  EXPECT_FALSE(DateValue::Parse("2026-13-01"));
  EXPECT_FALSE(DateValue::Parse("12/09/2026"));
  EXPECT_FALSE(DateValue::Parse("2026-12-09 25:00"));
  EXPECT_FALSE(DateValue::Parse(""));
}

TEST(TimeZone, LocalTimesResolveToTheirUtcInstants) {
  // Berlin leaves summer time at 01:00 UTC on 2026-10-25 (03:00 local back to
  // 02:00) and enters it at 01:00 UTC on 2026-03-29 (02:00 local on to 03:00).
  struct Case {
    const char* zone;
    int month, day, hour, minute;
    std::vector<std::string> utc;  // the instants, earlier first
  };
  const std::vector<Case> cases = {
      {"Europe/Berlin", 1, 1, 6, 40, {"2026-01-01T05:40:00Z"}},
      {"Europe/Berlin", 7, 1, 12, 0, {"2026-07-01T10:00:00Z"}},
      {"Europe/Berlin", 10, 25, 1, 59, {"2026-10-24T23:59:00Z"}},
      {"Europe/Berlin", 10, 25, 2, 0, {"2026-10-25T00:00:00Z", "2026-10-25T01:00:00Z"}},
      {"Europe/Berlin", 10, 25, 2, 59, {"2026-10-25T00:59:00Z", "2026-10-25T01:59:00Z"}},
      {"Europe/Berlin", 10, 25, 3, 0, {"2026-10-25T02:00:00Z"}},
      {"Europe/Berlin", 3, 29, 1, 59, {"2026-03-29T00:59:00Z"}},
      {"Europe/Berlin", 3, 29, 2, 0, {}},
      {"Europe/Berlin", 3, 29, 2, 59, {}},
      {"Europe/Berlin", 3, 29, 3, 0, {"2026-03-29T01:00:00Z"}},
      {"UTC", 10, 25, 2, 30, {"2026-10-25T02:30:00Z"}},
      {"America/New_York", 11, 1, 1, 30, {"2026-11-01T05:30:00Z", "2026-11-01T06:30:00Z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.month) + "-" + std::to_string(c.day) +
                 " " + std::to_string(c.hour) + ":" + std::to_string(c.minute));
    std::string error;
    const std::optional<TimeZone::Zone> zone = TimeZone::Zone::Load(c.zone, error);
    ASSERT_TRUE(zone) << error;
    const TimeZone::Resolution r =
        zone->FromLocal(TimeZone::CivilSeconds(2026, c.month, c.day, c.hour, c.minute, 0));
    std::vector<std::string> got;
    for (int i = 0; i < r.count; ++i) got.push_back(TimeZone::UtcText(r.instants[i]));
    EXPECT_EQ(got, c.utc);
    if (r.count == 2) {
      // The repeated hour spans both instants.
      EXPECT_LE(r.repeatStart, r.instants[0]);
      EXPECT_LT(r.instants[1], r.repeatEnd);
      EXPECT_EQ(r.repeatEnd - r.repeatStart, 7200);
    }
  }
  for (const char* bad : {"", "Mars/Olympus", "../../etc/passwd", "/usr/share/zoneinfo/UTC",
                          "Europe", "Europe/../Europe/Berlin", "Europe/Berlin/", "zone.tab"}) {
    std::string error;
    EXPECT_FALSE(TimeZone::Zone::Load(bad, error)) << bad;
    EXPECT_NE(error, "") << bad;
  }
}

TEST(Variant, Conversions) {
  EXPECT_EQ(Variant(9600.0).ToText(), "9600");
  EXPECT_EQ(Variant("9600").ToInt32(), 9600);
  EXPECT_EQ(Variant(3.9).ToInt32(), 3);
  EXPECT_TRUE(Variant("On").ToBoolean());
  EXPECT_FALSE(Variant("off").ToBoolean());
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_TRUE(Variant().ToArray().empty());
  EXPECT_EQ(Variant("2026-01-02").ToDate()->Day, 2);
  EXPECT_FALSE(Variant("").ToFolderItem());
  EXPECT_EQ(Variant("/tmp").ToFolderItem()->Name(), "tmp");
}

TEST(FolderItem, NavigatesAndCreates) {
  TempDir dir;
  FolderItem root(dir.Path());
  FolderItem child = root.Child("a");
  EXPECT_FALSE(child.Exists());
  EXPECT_TRUE(child.CreateAsFolder());
  EXPECT_TRUE(child.IsFolder());
  EXPECT_FALSE(child.CreateAsFolder());
  EXPECT_EQ(child.LastErrorCode(), -EEXIST);
  EXPECT_EQ(child.Name(), "a");
  EXPECT_EQ(child.Parent()->NativePath(), dir.Path());
  EXPECT_FALSE(FolderItem("/").Parent());
  EXPECT_EQ(FolderItem("/x/").Name(), "x");
  EXPECT_EQ(root.Children().size(), 1u);
}

TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
  TempDir dir;
  std::string path = dir.Path() + "/file";
  ASSERT_EQ(AtomicFile::Replace(path, "one"), 0);
  ASSERT_EQ(AtomicFile::Replace(path, "two\n"), 0);
  EXPECT_EQ(ReadFile(path), "two\n");
  // A folder standing at the target: the rename fails and nothing is left behind.
  FolderItem(dir.Path() + "/sub").CreateAsFolder();
  EXPECT_NE(AtomicFile::Replace(dir.Path() + "/sub", "x"), 0);
  EXPECT_EQ(FolderItem(dir.Path()).Children().size(), 2u);
  EXPECT_NE(AtomicFile::Replace(dir.Path() + "/missing/file", "x"), 0);
}

TEST(AtomicFile, WritesThroughLinksAndRefusesReadOnlyFiles) {
  TempDir dir;
  auto read = [](const std::string& path) { return ReadFile(path); };
  const std::string target = dir.Path() + "/target";
  std::ofstream(target) << "old";
  ASSERT_EQ(::symlink("target", (dir.Path() + "/link").c_str()), 0);
  ASSERT_EQ(::symlink("link", (dir.Path() + "/link2").c_str()), 0);
  ASSERT_EQ(AtomicFile::Replace(dir.Path() + "/link2", "new"), 0);
  EXPECT_EQ(read(target), "new");
  struct stat st {};
  ASSERT_EQ(::lstat((dir.Path() + "/link2").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat((dir.Path() + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // A dangling link gets its file.
  ASSERT_EQ(::symlink("later", (dir.Path() + "/dangling").c_str()), 0);
  ASSERT_EQ(AtomicFile::Replace(dir.Path() + "/dangling", "x"), 0);
  EXPECT_EQ(read(dir.Path() + "/later"), "x");

  // Read-only, even for root: refused, untouched, nothing left behind.
  ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
  EXPECT_EQ(AtomicFile::Replace(dir.Path() + "/link", "newer"), FolderItem::kPermissionDenied);
  EXPECT_EQ(read(target), "new");
  EXPECT_EQ(FolderItem(dir.Path()).Children().size(), 5u);
}

TEST(WholeFile, ReadsRegularFilesWithinTheLimitOnly) {
  TempDir dir;
  const std::string path = dir.Path() + "/file";
  std::string text = "kept";
  EXPECT_EQ(WholeFile::Read(path, 16, text).result, WholeFile::ReadResult::kMissing);
  EXPECT_EQ(WholeFile::Read(path + "/below", 16, text).result, WholeFile::ReadResult::kMissing);
  std::ofstream(path) << std::string(16, 'x');
  ASSERT_TRUE(WholeFile::Read(path, 16, text).Read());
  EXPECT_EQ(text, std::string(16, 'x'));

  std::ofstream(path, std::ios::app) << "y";
  WholeFile::ReadOutcome large = WholeFile::Read(path, 16, text);
  EXPECT_EQ(large.result, WholeFile::ReadResult::kTooLarge);
  EXPECT_EQ(large.Reason(), "larger than 16 bytes");
  EXPECT_EQ(text, std::string(16, 'x'));

  // A FIFO without a writer, a device behind a link, a folder: refused at once.
  ASSERT_EQ(::mkfifo((dir.Path() + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir.Path() + "/zero").c_str()), 0);
  for (const char* name : {"/fifo", "/zero", ""}) {
    WholeFile::ReadOutcome refused = WholeFile::Read(dir.Path() + name, 16, text);
    EXPECT_EQ(refused.result, WholeFile::ReadResult::kNotRegular) << name;
    EXPECT_EQ(refused.Reason(), "not a regular file");
  }
  WholeFile::ReadOutcome bad = WholeFile::Read(std::string("a\0b", 3), 16, text);
  EXPECT_EQ(bad.result, WholeFile::ReadResult::kFailed);
  EXPECT_EQ(bad.Reason(), "Invalid argument");
}
