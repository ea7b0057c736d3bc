#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "base/SpecialFolders.h"
#include "options/Option.h"
#include "options/OptionExceptions.h"
#include "options/OptionParser.h"

namespace {

// Runs the call and returns the message of the option exception it raised, with
// its ErrorNumber checked; fails the test when it raised nothing.
template <typename Exception, typename Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const Exception& e) {
    EXPECT_EQ(e.ErrorNumber, 1);
    return e.Message;
  }
  ADD_FAILURE() << "nothing was raised";
  return "";
}

Option Make(Option::OptionType type) { return Option("k", "key", "Key", type); }

}  // namespace

TEST(Option, KeysLoseDashesAndBlanks) {
  Option version("-v", "", "  Report version\r\nand exit ", Option::BooleanType);
  EXPECT_EQ(version.ShortKey, "v");
  EXPECT_EQ(version.LongKey, "");
  EXPECT_EQ(version.Description, "Report version\nand exit");
  EXPECT_EQ(Option(" - -x", "-- - long", "", Option::StringType).LongKey, "long");
  EXPECT_EQ(Option("é", "", "", Option::StringType).ShortKey, "é");
}

TEST(Option, DefinitionErrorsInOrder) {
  auto make = [](const char* shortKey, const char* longKey) {
    return [=] { Option(shortKey, longKey, "", Option::StringType); };
  };
  EXPECT_EQ(MessageOf<OptionParserException>(make("", "")),
            "Option must specify at least one key.");
  EXPECT_EQ(MessageOf<OptionParserException>(make("--", " - ")),
            "Option must specify at least one key.");
  EXPECT_EQ(MessageOf<OptionParserException>(make("ab", "c")),
            "Short Key is optional but may only be one character: ab");
  EXPECT_EQ(MessageOf<OptionParserException>(make("", "--c")),
            "Long Key is optional but must be more than one character: c");

  Option allowed = Make(Option::StringType);
  allowed.AddAllowedValue({"a"});
  EXPECT_EQ(MessageOf<OptionParserException>([&] { allowed.AddDisallowedValue({"b"}); }),
            "You cannot set both disallowed values and allowed values");
  Option disallowed = Make(Option::StringType);
  disallowed.AddDisallowedValue({"a"});
  EXPECT_EQ(MessageOf<OptionParserException>([&] { disallowed.AddAllowedValue({"b"}); }),
            "You cannot set both allowed values and disallowed values");
}

TEST(Option, BooleanValues) {
  for (const char* text : {"", "YES", "On", "T", "1", "y", "true"}) {
    Option flag = Make(Option::BooleanType);
    flag.HandleValue(text);
    EXPECT_EQ(flag.Value, Variant(true)) << text;
  }
  for (const char* text : {"no", "0", "false", "off", "No", "maybe"}) {
    Option flag = Make(Option::BooleanType);
    flag.HandleValue(text);
    EXPECT_EQ(flag.Value, Variant(false)) << text;
    EXPECT_TRUE(flag.WasSet);
  }
}

TEST(Option, AllowedAndDisallowedValues) {
  Option level = Make(Option::StringType);
  level.AddAllowedValue({" FATAL", "WARNING "});
  level.AddAllowedValue({"INFO", "DEBUG"});
  EXPECT_EQ(level.AllowedValues, (std::vector<std::string>{"FATAL", "WARNING", "INFO", "DEBUG"}));
  level.HandleValue("info");
  EXPECT_EQ(level.Value, Variant("info"));
  EXPECT_EQ(MessageOf<OptionInvalidKeyValueException>([&] { level.HandleValue("TRACE"); }),
            "The key value is not allowed: TRACE");
  EXPECT_EQ(level.Value, Variant("info")) << "a refused value keeps the earlier one";
  EXPECT_EQ(level.HelpDescription(), "Key [can be: `FATAL', `WARNING', `INFO', `DEBUG']");

  Option name("n", "", "", Option::StringType);
  name.AddDisallowedValue({"root", "admin"});
  EXPECT_EQ(MessageOf<OptionInvalidKeyValueException>([&] { name.HandleValue("ADMIN"); }),
            "The key value is dissallowed: ADMIN");
  EXPECT_FALSE(name.WasSet);
  EXPECT_EQ(name.HelpDescription(), " [may not be: `root', `admin']");
}

TEST(Option, NumbersAndBounds) {
  Option count = Make(Option::IntegerType);
  count.HandleValue("12abc");
  EXPECT_EQ(count.Value, Variant(12.0));
  EXPECT_TRUE(count.IsValid()) << "no bounds";
  count.MinimumNumber = 0;
  count.MaximumNumber = 10;
  count.HandleValue("10");
  EXPECT_TRUE(count.IsValid());
  count.HandleValue("11");
  EXPECT_FALSE(count.IsValid());
  count.HandleValue("-1");
  EXPECT_FALSE(count.IsValid());
  count.HandleValue("none");
  EXPECT_EQ(count.Value, Variant(0.0));
  EXPECT_TRUE(count.IsValid());

  Option required = Make(Option::DoubleType);
  required.IsRequired = true;
  EXPECT_FALSE(required.IsValid());
  required.HandleValue("2.5");
  EXPECT_TRUE(required.IsValid());
  EXPECT_EQ(required.Value, Variant(2.5));
}

TEST(Option, ArraysCollectAndCheckEveryValue) {
  Option names = Make(Option::StringType);
  names.IsArray = true;
  names.HandleValue("first");
  names.HandleValue("second");
  EXPECT_EQ(names.Value, Variant(Variant::Array{"first", "second"}));
  EXPECT_EQ(names.ValueText(), "first, second");

  Option counts = Make(Option::IntegerType);
  counts.IsArray = true;
  counts.MinimumNumber = 1;
  counts.MaximumNumber = 9;
  counts.HandleValue("5");
  counts.HandleValue("7");
  EXPECT_TRUE(counts.IsValid()) << "each element is checked, not the array as a whole";
  counts.HandleValue("12");
  EXPECT_FALSE(counts.IsValid());
}

TEST(Option, DatesKeepUnparsedText) {
  Option when = Make(Option::DateType);
  when.HandleValue("2026-12-09");
  EXPECT_EQ(when.Value, Variant(*DateValue::Parse("2026-12-09")));
  when.IsValidDateRequired = true;
  EXPECT_TRUE(when.IsValid());
  when.HandleValue("12/09/2026");
  EXPECT_EQ(when.Value, Variant("12/09/2026"));
  EXPECT_FALSE(when.IsValid());
}

TEST(Option, FilesResolveAndCheckAccess) {
  TempDir dir;
  Option folder = Make(Option::DirectoryType);
  folder.IsReadableRequired = true;
  folder.HandleValue("");
  EXPECT_TRUE(folder.Value.IsEmpty());
  EXPECT_FALSE(folder.IsValid());
  folder.HandleValue(dir.Path() + "/.");
  EXPECT_TRUE(folder.IsValid());
  folder.IsWriteableRequired = true;
  folder.HandleValue(dir.Path() + "/missing");
  EXPECT_FALSE(folder.IsValid());

  Option file = Make(Option::FileType);
  file.HandleValue("data.txt");
  EXPECT_EQ(file.Value, Variant(OptionParser::GetRelativeFolderItem(
                            "data.txt", SpecialFolders::CurrentWorkingDirectory())));
}

TEST(Option, TypeWordsAndUnknownTypes) {
  EXPECT_EQ(Make(Option::StringType).TypeString(), "STR");
  EXPECT_EQ(Make(Option::IntegerType).TypeString(), "INTEGER");
  EXPECT_EQ(Make(Option::DoubleType).TypeString(), "DOUBLE");
  EXPECT_EQ(Make(Option::DateType).TypeString(), "DATE");
  EXPECT_EQ(Make(Option::BooleanType).TypeString(), "BOOL");
  EXPECT_EQ(Make(Option::FileType).TypeString(), "FILE");
  EXPECT_EQ(Make(Option::DirectoryType).TypeString(), "DIR");
  Option odd = Make(static_cast<Option::OptionType>(9));
  EXPECT_EQ(odd.TypeString(), "");
  odd.HandleValue("x");
  EXPECT_TRUE(odd.WasSet);
  EXPECT_TRUE(odd.Value.IsEmpty());
}

TEST(GetRelativeFolderItem, ResolvesRelativePaths) {
  auto resolve = [](const std::string& path, const std::string& base) {
    return OptionParser::GetRelativeFolderItem(path, FolderItem(base)).NativePath();
  };
  EXPECT_EQ(resolve("a/./b/../c", "/x/y"), "/x/y/a/c");
  EXPECT_EQ(resolve("../../../z", "/x"), "/z");
  EXPECT_EQ(resolve("..", "/"), "/");
  EXPECT_EQ(resolve("/abs/./p/..", "/x"), "/abs/./p/..") << "absolute paths stay as given";

  TempDir home;
  const char* saved = std::getenv("HOME");
  std::string savedHome = saved ? saved : "";
  ::setenv("HOME", home.Path().c_str(), 1);
  EXPECT_EQ(OptionParser::GetRelativeFolderItem("~/cfg/../data").NativePath(),
            home.Path() + "/cfg/../data");
  EXPECT_EQ(resolve("~x/a", "/b"), "/b/~x/a");
  if (saved) {
    ::setenv("HOME", savedHome.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
}
