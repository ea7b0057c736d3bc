#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "options/OptionParser.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kIndent(23, ' ');

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

Option& Add(OptionParser& parser, const char* shortKey, const char* longKey,
            const std::string& description, Option::OptionType type) {
  return parser.AddOption(std::make_unique<Option>(shortKey, longKey, description, type));
}

}  // namespace

TEST(HelpText, ToolHelp) {
  OptionParser parser("PeloxCollector", "for downloading pelox5 data");
  Add(parser, "v", "version", "Report version and exit", Option::BooleanType);
  Add(parser, "d", "deployment", "Deployment name for download", Option::StringType).IsRequired =
      true;
  Add(parser, "l", "loglevel", "Log level severity: FATAL | WARNING | INFO | DEBUG",
      Option::StringType);
  parser.OptionValue("l")->AddAllowedValue({"FATAL", "WARNING", "INFO", "DEBUG"});

  EXPECT_EQ(parser.HelpText("Help"),
            Joined({"  PeloxCollector - for downloading pelox5 data", "",
                    "Help:", "  -h, --help           Show help",
                    "  -v, --version        Report version and exit", "  -d STR, --deployment=STR",
                    kIndent + "Deployment name for download", "  -l STR, --loglevel=STR",
                    kIndent + "Log level severity: FATAL | WARNING | INFO |",
                    kIndent + "DEBUG [can be: `FATAL', `WARNING', `INFO',", kIndent + "`DEBUG']"}));
}

TEST(HelpText, KeyColumnLimits) {
  OptionParser parser("tool");
  Add(parser, "", "deploymentname", "Twenty", Option::StringType);
  Add(parser, "", "deploymentnames", "Twenty-one", Option::StringType);
  Add(parser, "n", "", "First line\r\nSecond line", Option::IntegerType);
  Add(parser, "", "exactly", std::string(58, 'x'), Option::DateType);

  EXPECT_EQ(
      parser.HelpText(""),
      Joined({"tool", "", ":", "  -h, --help           Show help", "  --deploymentname=STR Twenty",
              "  --deploymentnames=STR", kIndent + "Twenty-one", "  -n INTEGER",
              kIndent + "First line", kIndent + "Second line",
              // Key and description together stay below 73, so one line of 81.
              "  --exactly=DATE       " + std::string(58, 'x')}));
}

TEST(HelpText, LongDescriptionsWrapBesideTheKey) {
  OptionParser parser("tool", "");
  Add(parser, "x", "extra",
      "This description is long enough that it needs to be wrapped onto a second line of text.",
      Option::BooleanType);
  Add(parser, "w", "words", std::string(63, 'w'), Option::BooleanType);
  parser.SetAdditionalHelpNotes(
      " abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd\r\nEnd. ");

  EXPECT_EQ(
      parser.HelpText("Usage"),
      Joined({"tool", "", "Usage:", "  -h, --help           Show help",
              "  -x, --extra          This description is long enough that it needs to",
              kIndent + "be wrapped onto a second line of text.",
              "  -w, --words          " + std::string(49, 'w'), kIndent + std::string(14, 'w'), "",
              "Notes:", "  abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd",
              "  abcd", "  End.", ""}));
}

TEST(HelpText, NameOfTheExecutableWhenUnnamed) {
  OptionParser parser;
  EXPECT_EQ(parser.AppName, "options_tests");
}

TEST(WrapLines, BreaksAtBlanksAndDashes) {
  Lines lines{"abc-defgh", "   ", "one two  three", ""};
  OptionParser::WrapLines(lines, 5, false);
  EXPECT_EQ(lines, (Lines{"abc", "-defg", "h", "", "one", "two ", "three", ""}));

  Lines narrow{"abc"};
  OptionParser::WrapLines(narrow, 0, false);
  EXPECT_EQ(narrow, (Lines{"a", "b", "c"}));

  Lines accented{"ééééé"};
  OptionParser::WrapLines(accented, 2, false);
  EXPECT_EQ(accented, (Lines{"éé", "éé", "é"}));
}

TEST(WrapLines, ReflowJoinsContinuations) {
  Lines lines{"0123456789 abc", "next", "> quoted", "x", "0123456789 abc", "  indented"};
  OptionParser::WrapLines(lines, 30, true);
  EXPECT_EQ(lines, (Lines{"0123456789 abc next", "> quoted", "x", "0123456789 abc", "  indented"}));
}

TEST(WrapTextWithIndent, IndentsEveryLine) {
  EXPECT_EQ(OptionParser::WrapTextWithIndent("aa bb\rcc", 6, "> "), "> aa\n> bb\n> cc");
  EXPECT_EQ(OptionParser::WrapTextWithIndent("", 10, "  "), "  ");
}

TEST(PadRightAndRepeat, Lengths) {
  EXPECT_EQ(OptionParser::PadRight("ab", 5, "xy"), "abxyx");
  EXPECT_EQ(OptionParser::PadRight("abcdef", 3, " "), "abcdef");
  EXPECT_EQ(OptionParser::PadRight("ab", 5, ""), "ab");
  EXPECT_EQ(OptionParser::PadRight("é", 3, "·"), "é··");
  EXPECT_EQ(OptionParser::Repeat("ab", 0), "");
  EXPECT_EQ(OptionParser::Repeat("ab", -2), "");
  EXPECT_EQ(OptionParser::Repeat("ab", 1), "ab");
  EXPECT_EQ(OptionParser::Repeat("ab", 3), "ababab");
  EXPECT_EQ(OptionParser::Repeat("abc", 5), "abcabcabcabcabc");
}
