#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "ConfigTestFiles.h"
#include "TempDir.h"
#include "config/FolderUtils.h"

using FolderUtils::CreateFolderException;
using FolderUtils::FolderUtilsException;

namespace {

bool IsDir(const std::string& path) { return std::filesystem::is_directory(path); }

std::string CheckfolderMessage(const std::optional<FolderItem>& folder, bool requireWriteable) {
  try {
    FolderUtils::checkfolder(folder, requireWriteable);
  } catch (const FolderUtilsException& e) {
    EXPECT_EQ(e.ErrorNumber, 0);
    return e.Message;
  }
  return "";
}

TEST(MakedirsTest, CreatesEveryMissingComponentOfAbsolutePaths) {
  TempDir dir;
  MakeFolder(dir.Path() + "/a");
  FolderUtils::makedirs(dir.Path() + "/a/b/c");
  EXPECT_TRUE(IsDir(dir.Path() + "/a/b/c"));

  FolderUtils::makedirs(dir.Path() + "//x//y/");
  EXPECT_TRUE(IsDir(dir.Path() + "/x/y"));

  FolderUtils::makedirs(dir.Path() + "/a/b/c");  // all there already: nothing to do
  FolderUtils::makedirs("/");
}

TEST(MakedirsTest, RelativePathIsBuiltUnderWorkingDirectory) {
  TempDir dir;
  std::string old = std::filesystem::current_path();
  ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
  FolderUtils::makedirs("x/y/z");
  FolderUtils::makedirs("./p//q/");
  ASSERT_EQ(::chdir(old.c_str()), 0);
  EXPECT_TRUE(IsDir(dir.Path() + "/x/y/z"));
  EXPECT_TRUE(IsDir(dir.Path() + "/p/q"));
  EXPECT_FALSE(IsDir("/y/z"));
}

TEST(MakedirsTest, StopsAtFirstComponentThatCannotBeCreated) {
  TempDir dir;
  WriteText(dir.Path() + "/file", "x");
  try {
    FolderUtils::makedirs(dir.Path() + "/file/sub/deeper");
    FAIL();
  } catch (const CreateFolderException& e) {
    EXPECT_EQ(e.Message, "Failed to create subdir: sub ");
    EXPECT_EQ(e.ErrorNumber, FolderItem::CodeFromErrno(ENOTDIR));
  }

  // sysfs refuses new folders even to root.
  try {
    FolderUtils::makedirs("/sys/pelox5-test/a");
    FAIL();
  } catch (const CreateFolderException& e) {
    EXPECT_EQ(e.Message, "Failed to create subdir: pelox5-test (Possible File permissions error)");
    EXPECT_EQ(e.ErrorNumber, FolderItem::kPermissionDenied);
  }

  try {
    FolderUtils::makedirs(dir.Path() + "/ok/bad" + std::string(1, '\0') + "name/c");
    FAIL();
  } catch (const CreateFolderException& e) {
    EXPECT_EQ(e.Message,
              "Child subfolder: bad" + std::string(1, '\0') + "name cant be created on path.");
  }
  EXPECT_TRUE(IsDir(dir.Path() + "/ok"));  // folders made before the failure stay
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/ok/bad"));
}

TEST(CheckfolderTest, TestsInOrderWithTheirMessages) {
  TempDir dir;
  WriteText(dir.Path() + "/file", "x");
  EXPECT_EQ(CheckfolderMessage(std::nullopt, true), "chkfolder(): - target folder object is nil.");
  EXPECT_EQ(CheckfolderMessage(FolderItem(dir.Path() + "/missing"), false),
            "chkfolder(): - target folder does not exist.");
  EXPECT_EQ(CheckfolderMessage(FolderItem(dir.Path() + "/file"), false),
            "chkfolder(): - target folder is not a directory.");
  EXPECT_TRUE(FolderUtils::checkfolder(FolderItem(dir.Path()), true));
  EXPECT_EQ(FolderUtils::askme("Create it?"), 0);
}

}  // namespace
