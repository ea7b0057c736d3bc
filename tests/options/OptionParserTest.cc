#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "options/OptionExceptions.h"
#include "options/OptionParser.h"

namespace {

using Args = std::vector<std::string>;

// A parser with the tool's options plus a few more types; Run parses the
// arguments after a program path.
class ParserTest : public ::testing::Test {
 protected:
  ParserTest() : parser("PeloxCollector", "for downloading pelox5 data") {
    parser.AddOption(
        std::make_unique<Option>("v", "version", "Report version and exit", Option::BooleanType));
    deployment = &parser.AddOption(std::make_unique<Option>(
        "d", "deployment", "Deployment name for download", Option::StringType));
    deployment->IsRequired = true;
    parser.AddOption(std::make_unique<Option>(
        "l", "loglevel", "Log level severity: FATAL | WARNING | INFO | DEBUG", Option::StringType));
    parser.OptionValue("l")->AddAllowedValue({"FATAL", "WARNING", "INFO", "DEBUG"});
    count = &parser.AddOption(std::make_unique<Option>("n", "count", "", Option::IntegerType));
    count->MaximumNumber = 10;
  }

  void Run(Args args) {
    args.insert(args.begin(), "/usr/bin/pelox5-download");
    parser.Parse(args, true);
  }

  // The message of the exception that Run raised, checking its exact class.
  template <typename Exception>
  std::string Failure(const Args& args) {
    try {
      Run(args);
    } catch (const OptionParserException& e) {
      EXPECT_EQ(typeid(e), typeid(Exception)) << e.Message;
      EXPECT_EQ(e.ErrorNumber, 1);
      return e.Message;
    }
    ADD_FAILURE() << "nothing was raised";
    return "";
  }

  std::string Text(const char* key) { return parser.Value(key).ToText(); }

  OptionParser parser;
  Option* deployment;
  Option* count;
};

}  // namespace

TEST(ExpandArgs, SplitsClustersOnly) {
  EXPECT_EQ(OptionParser::ExpandArgs({"-abc", "-ab=5", "-o=x", "-v", "--long", "plain", "-12"}),
            (Args{"-a", "-b", "-c", "-a", "-b=5", "-o=x", "-v", "--long", "plain", "-1", "-2"}));
  EXPECT_EQ(OptionParser::ExpandArgs({"-xy", "--", "-ab", "--c"}),
            (Args{"-x", "-y", "--", "-ab", "--c"}));
  EXPECT_EQ(OptionParser::ExpandArgs({"-é", "-éa"}), (Args{"-é", "-é", "-a"}));
}

TEST_F(ParserTest, ClustersAndValues) {
  Run({"-vd", "name", "-n=7"});
  EXPECT_TRUE(parser.BooleanValue("version", false));
  EXPECT_EQ(parser.StringValue("d", ""), "name");
  EXPECT_EQ(parser.IntegerValue("count", -1), 7);
  EXPECT_EQ(parser.Arguments(), (Args{"/usr/bin/pelox5-download", "-vd", "name", "-n=7"}));
}

TEST_F(ParserTest, EqualsSignsAndConsumedValues) {
  Run({"--deployment=", "extra", "--version="});
  EXPECT_EQ(deployment->Value, Variant(""));
  EXPECT_TRUE(deployment->WasSet);
  EXPECT_EQ(parser.StringValue("deployment", "fallback"), "fallback");
  EXPECT_EQ(parser.Extra, Args{"extra"});
  EXPECT_TRUE(parser.BooleanValue("v", false));
  EXPECT_EQ(Failure<OptionInvalidKeyValueException>({"-l", "INFO=x"}),
            "The key value is not allowed: INFO=x");
}

TEST_F(ParserTest, NextElementIsConsumedEvenWithADash) {
  Run({"-d", "-v", "--loglevel", "debug"});
  EXPECT_EQ(Text("d"), "-v");
  EXPECT_FALSE(parser.OptionValue("v")->WasSet);
  EXPECT_EQ(parser.StringValue("l", ""), "debug");
}

TEST_F(ParserTest, NegationOnlyForBooleans) {
  Run({"-d", "x", "--no-version"});
  EXPECT_TRUE(parser.OptionValue("version")->WasSet);
  EXPECT_FALSE(parser.BooleanValue("version", true));
  EXPECT_EQ(Failure<OptionUnrecognizedKeyException>({"--no-deployment"}),
            "Unrecognized key: --deployment");
  EXPECT_EQ(Failure<OptionUnrecognizedKeyException>({"--nothing"}), "Unrecognized key: --nothing");
  EXPECT_EQ(Failure<OptionUnrecognizedKeyException>({"-x"}), "Unrecognized key: -x");
}

TEST_F(ParserTest, KeyCaseRules) {
  Run({"--DEPLOYMENT", "site", "--Version"});
  EXPECT_EQ(Text("deployment"), "site");
  EXPECT_TRUE(parser.BooleanValue("VERSION", false));
  EXPECT_EQ(Failure<OptionUnrecognizedKeyException>({"-V"}), "Unrecognized key: -V");
  EXPECT_EQ(parser.OptionValue("D"), nullptr);
  EXPECT_EQ(parser.OptionValue("v")->LongKey, "version");
  EXPECT_EQ(parser.OptionValue("--version"), nullptr);
}

TEST_F(ParserTest, ExtrasAfterDoubleDash) {
  Run({"", "first", "-d", "x", "--", "", "-v", "--help", "--"});
  EXPECT_EQ(parser.Extra, (Args{"first", "", "-v", "--help", "--"}));
  EXPECT_FALSE(parser.HelpRequested());
  EXPECT_FALSE(parser.OptionValue("v")->WasSet);

  parser.ExtrasRequired = 6;
  EXPECT_EQ(Failure<OptionParserException>({"-d", "x"}), "Insufficient extras specified");
}

TEST_F(ParserTest, HelpSpellings) {
  for (const Args& args : {Args{"-?"}, Args{"-h"}, Args{"--help"}, Args{"--HELP"},
                           Args{"--no-help"}, Args{"--help=no"}}) {
    OptionParser fresh("t");
    fresh.Parse(args, false);
    EXPECT_TRUE(fresh.HelpRequested()) << args[0];
  }
}

TEST_F(ParserTest, HelpStopsTheChecks) {
  // After help, a value option at the end takes the empty value, consumes
  // nothing, and the missing required option is not reported.
  Run({"-h", "--count", "-v"});
  EXPECT_TRUE(parser.HelpRequested());
  EXPECT_TRUE(count->WasSet);
  EXPECT_EQ(count->Value.ToInt32(), 0);
  EXPECT_TRUE(parser.OptionValue("v")->WasSet);
  // An option with allowed values refuses that empty value.
  OptionParser again("t");
  again.AddOption(std::make_unique<Option>("l", "", "", Option::StringType))
      .AddAllowedValue({"INFO"});
  try {
    again.Parse({"-?", "-l"}, false);
    FAIL();
  } catch (const OptionInvalidKeyValueException& e) {
    EXPECT_EQ(e.Message, "The key value is not allowed: ");
  }
}

TEST_F(ParserTest, HelpAfterAFailureComesTooLate) {
  EXPECT_EQ(Failure<OptionInvalidKeyValueException>({"-l", "TRACE", "-h"}),
            "The key value is not allowed: TRACE");
}

TEST_F(ParserTest, MissingValueAtTheEnd) {
  EXPECT_EQ(Failure<OptionInvalidKeyValueException>({"-d"}),
            "Invalid key value: -d (key value is missing)");
  EXPECT_EQ(Failure<OptionInvalidKeyValueException>({"--deployment"}),
            "Invalid key value: --deployment (key value is missing)");
}

TEST_F(ParserTest, MissingBeforeInvalidInOptionOrder) {
  EXPECT_EQ(Failure<OptionMissingKeyException>({"-v", "-n", "11"}), "Missing option: --deployment");
}

TEST_F(ParserTest, InvalidValueNamesTheOption) {
  EXPECT_EQ(Failure<OptionInvalidKeyValueException>({"-d", "x", "-n", "11"}),
            "Invalid key value: --count (key value is invalid '11')");
  EXPECT_EQ(count->Value, Variant(11.0)) << "values handled before a failure stay stored";

  OptionParser shortOnly("t");
  Option& item = shortOnly.AddOption(std::make_unique<Option>("f", "", "", Option::FileType));
  item.IsRequired = true;
  item.IsReadableRequired = true;
  EXPECT_THROW(shortOnly.Parse({"-f="}, false), OptionMissingKeyException);
  try {
    shortOnly.Parse({"-f", "/nonexistent/file"}, false);
    ADD_FAILURE();
  } catch (const OptionInvalidKeyValueException& e) {
    EXPECT_EQ(e.Message, "Invalid key value: -f (key value is invalid '/nonexistent/file')");
  }
}

TEST_F(ParserTest, ProgramPathIsNeverAnArgument) {
  OptionParser login("t");
  login.AddOption(std::make_unique<Option>("a", "", "", Option::BooleanType));
  login.Parse({"-xyz", "-a"}, true);
  login.Parse({"--", "-a"}, true);
  EXPECT_TRUE(login.Extra.empty());
  EXPECT_TRUE(login.BooleanValue("a", false));
}

TEST_F(ParserTest, AddOptionRefusesTakenKeys) {
  auto add = [&](const char* shortKey, const char* longKey) {
    try {
      parser.AddOption(std::make_unique<Option>(shortKey, longKey, "", Option::BooleanType));
    } catch (const OptionParserException& e) {
      return e.Message;
    }
    return std::string("added");
  };
  EXPECT_EQ(add("v", "other"), "You can't add the same short key more than once: v");
  EXPECT_EQ(add("", "VERSION"), "You can't add the same long key more than once: VERSION");
  EXPECT_EQ(add("?", "question"),
            "You can't add the key \"?\" This means \"help\" and has already been added for you");
  EXPECT_EQ(add("V", "verbose"), "added");
  EXPECT_EQ(parser.Options().front()->LongKey, "help");
  EXPECT_EQ(parser.Options().size(), 6u);
}

TEST_F(ParserTest, TypedGettersAndDefaults) {
  auto when = std::make_unique<Option>("w", "when", "", Option::DateType);
  parser.AddOption(std::move(when));
  auto list = std::make_unique<Option>("a", "add", "", Option::StringType);
  list->IsArray = true;
  parser.AddOption(std::move(list));
  Run({"-d", "x", "-n=-3.9", "--when", "2026-02-03", "-a", "p", "--add", "q"});

  EXPECT_EQ(parser.IntegerValue("n", 0), -3);
  EXPECT_DOUBLE_EQ(parser.DoubleValue("count", 0), -3.9);
  EXPECT_EQ(parser.DateValue("when", DateValue{}).Day, 3);
  EXPECT_EQ(parser.ArrayValue("add"), (Variant::Array{"p", "q"}));
  EXPECT_EQ(parser.ArrayValue("d"), (Variant::Array{"x"}));
  EXPECT_TRUE(parser.ArrayValue("nothing").empty());
  EXPECT_EQ(parser.IntegerValue("loglevel", 5), 5) << "not set";
  EXPECT_EQ(parser.StringValue("loglevel", "INFO"), "INFO");
  EXPECT_FALSE(parser.FileValue("d").has_value()) << "a text is no file-system item";
  EXPECT_EQ(parser.FileValue("missing", FolderItem("/tmp"))->NativePath(), "/tmp");
  // A long key that no option has falls back to the first character's short key.
  EXPECT_EQ(Text("deploy-me"), "x");
  EXPECT_TRUE(parser.Value("").IsEmpty());
  EXPECT_EQ(parser.OptionValue("dx"), nullptr);
}

TEST(KeyWithDashes, DashesByLength) {
  EXPECT_EQ(OptionParser::KeyWithDashes(" v "), "-v");
  EXPECT_EQ(OptionParser::KeyWithDashes("version"), "--version");
  EXPECT_EQ(OptionParser::KeyWithDashes("-x"), "-x");
  EXPECT_EQ(OptionParser::KeyWithDashes(""), "");
  EXPECT_EQ(OptionParser::KeyWithDashes("é"), "-é");
}
