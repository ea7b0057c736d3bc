#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigTestFiles.h"
#include "TempDir.h"
#include "config/PreferencesModule.h"

using PreferencesModule::PreferenceBadValueException;
using PreferencesModule::PreferenceNotFoundException;
using PreferencesModule::Prefs;

namespace {

// Points HOME and the XDG folders at a fresh temporary home without ~/.config.
class PreferencesTest : public ::testing::Test {
 protected:
  PreferencesTest() {
    mEnv.Set("HOME", mHome.Path());
    mEnv.Unset("XDG_CONFIG_HOME");
    mEnv.Set("XDG_DOCUMENTS_DIR", mHome.Path() + "/Documents");
  }
  std::string Folder() const { return mHome.Path() + "/.config/Pelox5Apps"; }
  std::string File() const { return Folder() + "/Pelox5Apps.pref"; }

  TempDir mHome;
  EnvGuard mEnv;
};

TEST_F(PreferencesTest, FirstRunCreatesFolderThenSaveWritesFile) {
  Prefs prefs("Pelox5Apps");
  EXPECT_FALSE(prefs.Load());
  EXPECT_TRUE(std::filesystem::is_directory(Folder()));
  EXPECT_THROW(prefs.Get("LogLevel"), PreferenceNotFoundException);

  prefs.Set("ProjectRootFolder", "Pelox5");
  prefs["LogLevel"] = "INFO";
  ASSERT_TRUE(prefs.Save());
  EXPECT_EQ(ReadFile(File()),
            "{\n  \"LogLevel\": \"INFO\",\n  \"ProjectRootFolder\": \"Pelox5\"\n}\n");

  Prefs again("Pelox5Apps");
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.GetText("ProjectRootFolder"), "Pelox5");
  EXPECT_EQ(nlohmann::json(again["LogLevel"]), "INFO");
}

TEST_F(PreferencesTest, ApplicationDataFolderComesFromXdgConfigHome) {
  mEnv.Set("XDG_CONFIG_HOME", mHome.Path() + "/xdg/config");
  Prefs prefs("Pelox5Apps");
  EXPECT_FALSE(prefs.Load());
  ASSERT_TRUE(prefs.Save());
  EXPECT_EQ(ReadFile(mHome.Path() + "/xdg/config/Pelox5Apps/Pelox5Apps.pref"), "{}\n");
}

TEST_F(PreferencesTest, InvalidFileIsFalseAndKeepsEarlierValues) {
  MakeFolder(Folder());
  WriteText(File(), "{\"LogLevel\": \"DEBUG\"}\n");
  Prefs prefs("Pelox5Apps");
  ASSERT_TRUE(prefs.Load());
  for (const std::string& text : {std::string("{\"LogLevel\": "), std::string("[\"DEBUG\"]"),
                                  std::string(""), std::string(200000, '{')}) {
    WriteText(File(), text);
    EXPECT_FALSE(prefs.Load());
    EXPECT_EQ(prefs.GetText("LogLevel"), "DEBUG");
  }
}

TEST_F(PreferencesTest, SaveFailuresAreFalseAndKeepOldFile) {
  Prefs unloaded("Pelox5Apps");
  unloaded.Set("LogLevel", "INFO");
  EXPECT_FALSE(unloaded.Save());
  EXPECT_FALSE(std::filesystem::exists(File()));

  MakeFolder(Folder());
  const std::string old = "{\n  \"LogLevel\": \"WARNING\"\n}\n";
  WriteText(File(), old);
  Prefs prefs("Pelox5Apps");
  ASSERT_TRUE(prefs.Load());
  prefs.Set("Padding", std::string(4096, 'x'));
  {
    FileSizeLimit diskFull(64);
    EXPECT_FALSE(prefs.Save());
  }
  EXPECT_EQ(ReadFile(File()), old);
  prefs.Set("Padding", "\xc3");
  EXPECT_FALSE(prefs.Save());
  EXPECT_EQ(ReadFile(File()), old);

  // A file the account may not write (root included) is not rewritten.
  prefs.Set("Padding", "x");
  std::filesystem::permissions(File(), std::filesystem::perms::owner_read);
  EXPECT_FALSE(prefs.Save());
  EXPECT_EQ(ReadFile(File()), old);

  // Through a symbolic link the file behind it is replaced and the link stays.
  std::filesystem::permissions(File(), std::filesystem::perms::owner_all);
  std::filesystem::rename(File(), mHome.Path() + "/real.pref");
  std::filesystem::create_symlink(mHome.Path() + "/real.pref", File());
  EXPECT_TRUE(prefs.Save());
  EXPECT_TRUE(std::filesystem::is_symlink(File()));
  EXPECT_EQ(ReadFile(mHome.Path() + "/real.pref"),
            "{\n  \"LogLevel\": \"WARNING\",\n  \"Padding\": \"x\"\n}\n");
}

TEST_F(PreferencesTest, FileThatExistsButCannotBeReadRaisesAndStaysUntouched) {
  MakeFolder(Folder());
  WriteText(File(), "{\"Pad\": \"" + std::string(1 << 20, 'x') + "\"}");
  Prefs prefs("Pelox5Apps");
  try {
    prefs.Load();
    FAIL();
  } catch (const PreferencesModule::PreferencesFileUnreadableException& e) {
    EXPECT_EQ(e.Message,
              "Preferences file " + File() + " cannot be read (larger than 1048576 bytes)");
  }
  std::filesystem::remove(File());
  MakeFolder(File());
  Prefs blocked("Pelox5Apps");
  EXPECT_THROW(blocked.Load(), PreferencesModule::PreferencesFileUnreadableException);
  EXPECT_FALSE(blocked.Save());
  EXPECT_TRUE(std::filesystem::is_directory(File()));
}

TEST_F(PreferencesTest, UnusableApplicationDataFolderIsFalseNotAnError) {
  WriteText(mHome.Path() + "/.config", "a file where the folder should be");
  Prefs prefs("Pelox5Apps");
  EXPECT_FALSE(prefs.Load());
  EXPECT_FALSE(prefs.Save());
}

TEST_F(PreferencesTest, ValuesReadAsTextAndInt32) {
  Prefs prefs("Pelox5Apps");
  prefs.Set("Number", 42.9);
  prefs.Set("Text", "-17 volts");
  prefs.Set("Flag", true);
  prefs.Set("List", {"a"});
  EXPECT_EQ(prefs.GetText("Number"), "42.9");
  EXPECT_EQ(prefs.GetInt32("Number"), 42);
  EXPECT_EQ(prefs.GetInt32("Text"), -17);
  EXPECT_EQ(prefs.GetText("Flag"), "true");
  try {
    prefs.GetText("List");
    FAIL();
  } catch (const PreferenceBadValueException& e) {
    EXPECT_EQ(e.Message, "Preference value 'List' is not a text or a number.");
  }
  try {
    prefs.GetInt32("Missing");
    FAIL();
  } catch (const PreferenceNotFoundException& e) {
    EXPECT_EQ(e.Message, "Preference value 'Missing' does not exist.");
  }
}

TEST_F(PreferencesTest, InitializeReplacesSharedInstance) {
  PreferencesModule::Initialize("Pelox5Apps");
  ASSERT_TRUE(PreferencesModule::Preferences);
  PreferencesModule::Preferences->Set("LogLevel", "DEBUG");
  PreferencesModule::Initialize("Pelox5Apps");
  EXPECT_THROW(PreferencesModule::Preferences->Get("LogLevel"), PreferenceNotFoundException);
  PreferencesModule::Preferences.reset();
}

}  // namespace
