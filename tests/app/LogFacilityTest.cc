#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/App.h"
#include "app/SessionName.h"
#include "support/FakeClock.h"

namespace {

// An App whose log output is captured instead of written to standard error.
class LogFacility : public ::testing::Test {
 protected:
  void Attach() { app.AttachLogOutput(); }
  // The lines written, without their time stamps.
  std::vector<std::string> Lines() const {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: )");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = written.find('\n', start)) != std::string::npos; start = nl + 1) {
      std::string line = written.substr(start, nl - start);
      EXPECT_TRUE(std::regex_search(line, stamp)) << line;
      lines.push_back(std::regex_replace(line, stamp, ""));
    }
    return lines;
  }
  FakeClock clock;
  std::string written;
  App app{App::Seams{clock, {}, [this](const std::string& text) { written += text; }}};
};

}  // namespace

TEST_F(LogFacility, FiltersByRankAndNamesSeveritiesInUpperCase) {
  Attach();
  app.SetLogLevel("info");
  app.LogNewMessage("info", "Call GetRecentData()");
  app.LogNewMessage("DEBUG", "hidden");
  app.LogNewMessage("warning", "shown");
  app.LogNewMessage("Fatal", "stop");
  app.LogNewMessage("TRACE", "odd");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"(INFO) : Call GetRecentData()", "(WARNING) : shown",
                                               "(FATAL) : stop", "(UNKNOWN) : odd"}));
}

TEST_F(LogFacility, EachLevelShowsItsRankAndBelow) {
  Attach();
  const std::string severities[] = {"FATAL", "WARNING", "INFO", "DEBUG"};
  for (const std::string& level : severities) {
    app.SetLogLevel(level);
    for (const std::string& severity : severities) app.LogNewMessage(severity, "at " + level);
  }
  // Each level shows its own rank and every rank below it, and nothing above.
  const std::vector<std::string> expected{
      "(FATAL) : at FATAL",                                                  //
      "(FATAL) : at WARNING", "(WARNING) : at WARNING",                      //
      "(FATAL) : at INFO",    "(WARNING) : at INFO",    "(INFO) : at INFO",  //
      "(FATAL) : at DEBUG",   "(WARNING) : at DEBUG",   "(INFO) : at DEBUG", "(DEBUG) : at DEBUG"};
  EXPECT_EQ(Lines(), expected);
}

TEST_F(LogFacility, AnUnknownLevelShowsOnlyUnknownSeverities) {
  Attach();
  app.SetLogLevel("VERBOSE");
  app.LogNewMessage("FATAL", "not shown");
  app.LogNewMessage("whatever", "shown");
  EXPECT_EQ(Lines(), std::vector<std::string>{"(UNKNOWN) : shown"});
}

TEST_F(LogFacility, LinesLoggedBeforeTheHandlerComeOutLaterInOrder) {
  app.LogNewMessage("WARNING", "Preferences save failed.");
  app.LogNewMessage("FATAL", "second");
  EXPECT_TRUE(written.empty());
  Attach();
  app.LogNewMessage("WARNING", "third");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"(WARNING) : Preferences save failed.",
                                               "(FATAL) : second", "(WARNING) : third"}));
}

TEST(SessionName, YearDayAndTimeZeroPadded) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_yday = 340;
  t.tm_hour = 9;
  t.tm_min = 59;
  t.tm_sec = 22;
  EXPECT_EQ(SessionName::Format("SITE1", t), "raw.SITE1.2026341.095922");
  EXPECT_EQ(SessionName::Format("  SITE1 ", t), "raw.SITE1.2026341.095922");
  t.tm_year = 7 - 1900;
  t.tm_yday = 0;
  t.tm_hour = t.tm_min = t.tm_sec = 0;
  EXPECT_EQ(SessionName::Format("a b", t), "raw.a b.0007001.000000");
}
