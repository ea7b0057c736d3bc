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
