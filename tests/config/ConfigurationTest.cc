#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "ConfigTestFiles.h"
#include "TempDir.h"
#include "base/WholeFile.h"
#include "config/Configuration.h"

namespace {

class ConfigurationTest : public ::testing::Test {
 protected:
  std::string CfgPath() const { return mDir.Path() + "/deployment.cfg"; }
  Configuration MakeConfig() const {
    return Configuration(FolderItem(mDir.Path()), "deployment.cfg");
  }
  size_t ItemsInFolder() const {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(mDir.Path()))
      ++count;
    return count;
  }

  TempDir mDir;
};

TEST_F(ConfigurationTest, SaveThenLoadGivesBackEveryItem) {
  Configuration config = MakeConfig();
  config.Set("Name", "site1");
  config["Baud"] = 9600;
  config["Active"] = true;
  config["Nested"] = nlohmann::json{{"ranges", {1, 2, 3}}};
  EXPECT_EQ(config.GetText("Name"), "site1");  // Set is visible before any Save
  ASSERT_TRUE(config.Save());

  Configuration loaded = MakeConfig();
  loaded.Set("Stale", "dropped by Load");
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.Get("Name"), "site1");
  EXPECT_EQ(nlohmann::json(loaded["Baud"]), 9600);
  EXPECT_EQ(loaded.Get("Active"), true);
  EXPECT_EQ(loaded.Get("Nested")["ranges"][2], 3);
  EXPECT_THROW(loaded.Get("Stale"), ConfigurationItemNotFoundException);
}

TEST_F(ConfigurationTest, MissingFileIsFalseAndLeavesDocument) {
  Configuration config = MakeConfig();
  config.Set("Kept", 1);
  EXPECT_FALSE(config.Load());
  EXPECT_EQ(config.Get("Kept"), 1);
  try {
    config.Get("Port");
    FAIL();
  } catch (const ConfigurationItemNotFoundException& e) {
    EXPECT_EQ(e.Message, "Configuration value 'Port' does not exist.");
  }
}

TEST_F(ConfigurationTest, FilesThatAreNotRegularOrTooLargeAreRefused) {
  auto expectRefused = [this](const std::string& reason) {
    Configuration config = MakeConfig();
    config.Set("Kept", 1);
    try {
      config.Load();
      FAIL() << reason;
    } catch (const ConfigurationFileUnreadableException& e) {
      EXPECT_EQ(e.Message, "Configuration.Load():deployment.cfg cannot be read in:" + mDir.Path() +
                               " (" + reason + ")");
    }
    EXPECT_EQ(config.Get("Kept"), 1);
  };
  WriteText(CfgPath(), "{\"Pad\": \"" + std::string(WholeFile::kSettingsLimit, 'x') + "\"}");
  expectRefused("larger than 1048576 bytes");
  std::filesystem::remove(CfgPath());
  ASSERT_EQ(::mkfifo(CfgPath().c_str(), 0600), 0);  // would block a plain open
  expectRefused("not a regular file");
  std::filesystem::remove(CfgPath());
  MakeFolder(CfgPath());
  expectRefused("not a regular file");
}

TEST_F(ConfigurationTest, SavedFormatIsIndentedWithoutFinalLineEnding) {
  Configuration config = MakeConfig();
  config.Set("Name", "site1");
  config.Set("Nested", nlohmann::json{{"a", {1, "x"}}});
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(ReadFile(CfgPath()),
            "{\n  \"Name\": \"site1\",\n  \"Nested\": {\n    \"a\": [\n      1,\n      \"x\"\n"
            "    ]\n  }\n}");
}

TEST_F(ConfigurationTest, InvalidJsonRaisesWithParserMessageAndKeepsDocument) {
  std::string parserMessage;
  try {
    nlohmann::json parsed = nlohmann::json::parse("{");
    ADD_FAILURE() << parsed.dump();
  } catch (const nlohmann::json::parse_error& e) {
    parserMessage = e.what();
  }
  WriteText(CfgPath(), "{\"Name\": \"old\"}");
  Configuration config = MakeConfig();
  ASSERT_TRUE(config.Load());
  WriteText(CfgPath(), "{");
  try {
    config.Load();
    FAIL();
  } catch (const ConfigurationBadFormatException& e) {
    EXPECT_EQ(e.Message, "Configuration.Load():deployment.cfg JSON Error:" + mDir.Path() + "\n" +
                             parserMessage);
  }
  EXPECT_EQ(config.Get("Name"), "old");

  // Documents that parse but cannot hold items, and nesting deep enough to
  // exhaust the stack when written back, are refused the same way.
  for (std::string text : {std::string("[1, 2]"), std::string("42"), std::string(100000, '['),
                           std::string("{\"a\": \"\xff\"}")}) {
    WriteText(CfgPath(), text);
    EXPECT_THROW(config.Load(), ConfigurationBadFormatException) << text.substr(0, 20);
    EXPECT_EQ(config.Get("Name"), "old");
  }
}

TEST_F(ConfigurationTest, MissingFolderOrUnusableNameRaises) {
  Configuration noFolder(std::nullopt, "deployment.cfg");
  try {
    noFolder.Load();
    FAIL();
  } catch (const ConfigurationFolderNotFoundException& e) {
    EXPECT_EQ(e.Message, "Configuration.Load(): top level folder is not initialized (is nil)");
  }
  try {
    noFolder.Save();
    FAIL();
  } catch (const ConfigurationFolderNotFoundException& e) {
    EXPECT_EQ(e.Message, "Configuration.Save(): top level folder is not initialized (is nil)");
  }

  Configuration badName(FolderItem(mDir.Path()), "../escape.cfg");
  try {
    badName.Load();
    FAIL();
  } catch (const ConfigurationFileNotFoundException& e) {
    EXPECT_EQ(e.Message, "Configuration.Load():../escape.cfg returned nil in:" + mDir.Path());
  }
  try {
    badName.Save();
    FAIL();
  } catch (const ConfigurationFolderNotFoundException& e) {
    EXPECT_EQ(e.Message, "Configuration.Save():../escape.cfg returned nil in:" + mDir.Path());
  }
}

TEST_F(ConfigurationTest, FailedSaveIsFalseAndKeepsOldFileWhole) {
  const std::string old = "{\n  \"Name\": \"old\"\n}";
  WriteText(CfgPath(), old);
  Configuration config = MakeConfig();
  ASSERT_TRUE(config.Load());
  config.Set("Padding", std::string(4096, 'x'));
  {
    FileSizeLimit diskFull(64);
    EXPECT_FALSE(config.Save());
  }
  EXPECT_EQ(ReadFile(CfgPath()), old);

  // A text that is not valid UTF-8 cannot be written as JSON: nothing is written.
  config.Set("Padding", std::string("\xff\xfe"));
  EXPECT_FALSE(config.Save());
  EXPECT_EQ(ReadFile(CfgPath()), old);
  EXPECT_EQ(ItemsInFolder(), 1u);  // no temporary file left behind

  // A folder standing where the file must go.
  std::filesystem::remove(CfgPath());
  MakeFolder(CfgPath());
  config.Set("Padding", "ok");
  EXPECT_FALSE(config.Save());
  EXPECT_TRUE(std::filesystem::is_directory(CfgPath()));

  Configuration inProc(FolderItem("/proc"), "pelox5-test.cfg");
  EXPECT_FALSE(inProc.Save());
}

TEST_F(ConfigurationTest, ValuesReadAsTextAndInt32) {
  Configuration config = MakeConfig();
  config.Set("Text", "9600");
  config.Set("Integer", 9600);
  config.Set("Float", 2.5);
  config.Set("Negative", -7.9);
  config.Set("Huge", 1e300);
  config.Set("HugeInteger", int64_t{5000000000});
  config.Set("BigUnsigned", uint64_t{18446744073709551615u});
  config.Set("Flag", false);
  config.Set("Words", "12 seconds");

  EXPECT_EQ(config.GetText("Text"), "9600");
  EXPECT_EQ(config.GetText("Integer"), "9600");
  EXPECT_EQ(config.GetText("Float"), "2.5");
  EXPECT_EQ(config.GetText("HugeInteger"), "5000000000");
  EXPECT_EQ(config.GetText("BigUnsigned"), "18446744073709551615");
  EXPECT_EQ(config.GetText("Flag"), "false");

  EXPECT_EQ(config.GetInt32("Text"), 9600);
  EXPECT_EQ(config.GetInt32("Integer"), 9600);
  EXPECT_EQ(config.GetInt32("Float"), 2);
  EXPECT_EQ(config.GetInt32("Negative"), -7);
  EXPECT_EQ(config.GetInt32("Huge"), 2147483647);
  EXPECT_EQ(config.GetInt32("HugeInteger"), 2147483647);
  EXPECT_EQ(config.GetInt32("BigUnsigned"), 2147483647);
  EXPECT_EQ(config.GetInt32("Words"), 12);

  config.Set("Null", nullptr);
  config.Set("List", {1, 2});
  config.Set("Object", nlohmann::json::object());
  for (const char* name : {"Null", "List", "Object"}) {
    try {
      config.GetText(name);
      FAIL() << name;
    } catch (const ConfigurationBadValueException& e) {
      EXPECT_EQ(e.Message,
                std::string("Configuration value '") + name + "' is not a text or a number.");
    }
    EXPECT_THROW(config.GetInt32(name), ConfigurationBadValueException);
  }
  EXPECT_THROW(config.GetInt32("Absent"), ConfigurationItemNotFoundException);
  EXPECT_THROW(config.GetText("Absent"), ConfigurationException);
}

}  // namespace
