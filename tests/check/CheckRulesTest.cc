// The decisions of pelox5-check that need no files: why an account may not
// open a device, what a port text was taken for, which cfg item a misspelt
// key means, and a record pattern tried on a session's bytes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "PortChecks.h"
#include "SiteChecks.h"
#include "records/PatternTrial.h"

namespace {

using SiteCheck::DeviceAccess;

TEST(CheckRules, DeviceAccessNamesTheCauseFromModeOwnerAndGroup) {
  constexpr gid_t kDialout = 20, kUsers = 100;
  struct Case {
    const char* setup;
    mode_t mode;
    uid_t owner;
    gid_t group;
    std::vector<gid_t> groups;  // the account's (uid 1000)
    bool listed;
    bool allowed;
    std::string cause, fix;  // parts of each
    std::string notInCause, notInFix;
  };
  const std::vector<Case> cases = {
      {"in dialout, group has no access",
       0600,
       0,
       kDialout,
       {kUsers, kDialout},
       false,
       false,
       "is in group 'dialout' of /dev/ttyUSB0, but its mode crw------- gives that group no",
       "99-pelox5-serial.rules: KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\"",
       "not in",
       "usermod"},
      {"not in dialout, group has no access",
       0600,
       0,
       kDialout,
       {kUsers},
       false,
       false,
       "gives its group 'dialout' no read and write access, and this account is not in",
       "MODE=\"0660\" and run sudo udevadm trigger (until then: sudo chmod g+rw /dev/ttyUSB0), "
       "and sudo usermod -aG dialout tech",
       "",
       ""},
      {"not in dialout, group may open",
       0660,
       0,
       kDialout,
       {kUsers},
       false,
       false,
       "it belongs to group 'dialout', which this account is not in",
       "sudo usermod -aG dialout tech, then log in again",
       "",
       "udev"},
      {"added to dialout after login",
       0660,
       0,
       kDialout,
       {kUsers},
       true,
       false,
       "which this login session is not in yet",
       "log in again (or run: newgrp dialout)",
       "",
       "usermod"},
      {"root:root 0600 (ttyS0), not in dialout",
       0600,
       0,
       0,
       {kUsers},
       false,
       false,
       "belongs to group 'root' (mode crw-------)",
       "GROUP=\"dialout\", MODE=\"0660\" and run sudo udevadm trigger (until then: sudo chgrp "
       "dialout /dev/ttyUSB0; sudo chmod g+rw /dev/ttyUSB0), and sudo usermod -aG dialout tech",
       "",
       "-aG root"},
      {"root:root 0660, in dialout",
       0660,
       0,
       0,
       {kUsers, kDialout},
       false,
       false,
       "belongs to group 'root'",
       "GROUP=\"dialout\"",
       "",
       "usermod"},
      {"owned without access for the owner",
       0060,
       1000,
       kDialout,
       {kUsers, kDialout},
       false,
       false,
       "owns /dev/ttyUSB0, but its mode c---rw---- gives the owner no",
       "until then: sudo chmod u+rw /dev/ttyUSB0",
       "",
       "usermod"},
      {"in the group that may open it", 0660, 0, kDialout, {kDialout}, false, true, "", "", "", ""},
      {"open to every account", 0666, 0, 0, {kUsers}, false, true, "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    DeviceAccess a;
    a.device = "/dev/ttyUSB0";
    a.kernelName = "ttyUSB0";
    a.mode = S_IFCHR | c.mode;
    a.owner = c.owner;
    a.group = c.group;
    a.groupName = c.group == 0 ? "root" : "dialout";
    a.account = 1000;
    a.accountName = "tech";
    a.accountGroups = c.groups;
    a.listedInGroup = c.listed;
    a.serialGroup = kDialout;
    const SiteCheck::DeviceAccessVerdict v = SiteCheck::JudgeDeviceAccess(a);
    EXPECT_EQ(v.allowed, c.allowed);
    EXPECT_NE(v.cause.find(c.cause), std::string::npos) << v.cause;
    EXPECT_NE(v.fix.find(c.fix), std::string::npos) << v.fix;
    if (!c.notInCause.empty()) {
      EXPECT_EQ(v.cause.find(c.notInCause), std::string::npos) << v.cause;
    }
    if (!c.notInFix.empty()) {
      EXPECT_EQ(v.fix.find(c.notInFix), std::string::npos) << v.fix;
    }
    EXPECT_EQ(v.fix.find("-aG root"), std::string::npos) << v.fix;
  }
}

TEST(CheckRules, APortTextTakenAsADeviceSaysWhyAndWhatItMeant) {
  struct Case {
    std::string text, why, meant;
  };
  const std::vector<Case> cases = {
      {"localhost:4001", "not four numbers and a port (a.b.c.d:port", "127.0.0.1:4001"},
      {"127.0.0.1 4001", "taken as the path of a serial device", "127.0.0.1:4001"},
      {"10.0.0.7 : 2001", "device paths begin with /dev/", "10.0.0.7:2001"},
      {"bridge.local:4001", "a host name is not looked up", ""},
      {"10.0.0.300 4001", "taken as the path of a serial device", ""},
      {"127.0.0.1 70000", "taken as the path of a serial device", ""},
      {"COM3", "COM3 is a port name of another operating system", ""},
      {"ttyUSB0", "device paths begin with /dev/", ""},
      {"/dev/ttyUSB9", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const SiteCheck::PortTextReading r = SiteCheck::ReadPortText(c.text);
    EXPECT_EQ(r.meant, c.meant);
    if (c.why.empty()) {
      EXPECT_EQ(r.why, "");
    } else {
      EXPECT_NE(r.why.find(c.why), std::string::npos) << r.why;
    }
  }
}

TEST(CheckRules, AMisspeltCfgKeyNamesTheKnownKeyItProbablyMeans) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"RecordRequestSise", "RecordRequestSize"},
      {"Baudrate", "Baud"},
      {"BaudRate", "Baud"},
      {"ExtractRecievedRecordFile", "ExtractReceivedRecordFile"},
      {"port", "Port"},
      {"Promt", "Prompt"},
      {"RecordPatern", "RecordPattern"},
      {"RecordField", "RecordFields"},
      {"Timezone", "TimeZone"},
      {"RecordFieldSeparater", "RecordFieldSeparator"},
      {"ConnectAttemptTimeOut", "ConnectAttemptTimeout"},
      {"Port", ""},  // known keys are no near misses
      {"RecordPattern", ""},
      {"Comment", ""},
      {"Site", ""},
      {"Location", ""},
  };
  for (const auto& [key, meant] : cases)
    EXPECT_EQ(SiteCheck::NearKnownKey(key).value_or(""), meant) << key;
}

TEST(CheckRules, RecordFieldsAreCheckedWithTheirZoneAndSeparator) {
  struct Case {
    nlohmann::json items;  // merged into the cfg
    SiteCheck::Mark mark;
    std::string detail, fix;  // parts of each
  };
  const std::vector<Case> cases = {
      {{{"RecordFields",
         {"id", {{"name", "time"}, {"type", "time"}}, {{"name", "t"}, {"type", "real"}}}},
        {"TimeZone", "Europe/Berlin"}},
       SiteCheck::Mark::kOk,
       "id text, time time, t real; separator ','; time zone Europe/Berlin",
       ""},
      {{{"RecordFieldSeparator", ";"}}, SiteCheck::Mark::kOk, "none named", ""},
      {{{"RecordFields", "id,time"}}, SiteCheck::Mark::kFailed, "not a list", "as a list of"},
      {{{"RecordFields", {{{"name", "a"}, {"kind", "real"}}}}},
       SiteCheck::Mark::kFailed,
       "\"kind\", which is none of",
       "as a list of"},
      {{{"RecordFields", {"a", "A"}}}, SiteCheck::Mark::kFailed, "already taken", "distinct names"},
      {{{"RecordFields", {{{"name", "t"}, {"type", "time"}, {"format", "%H:%M"}}}}},
       SiteCheck::Mark::kFailed,
       "names no full date",
       "\"format\""},
      {{{"RecordFieldSeparator", ""}}, SiteCheck::Mark::kFailed, "is empty", "\";\""},
      {{{"TimeZone", "Europe/Atlantis"}},
       SiteCheck::Mark::kFailed,
       "not a zone of the system's zone database",
       "/usr/share/zoneinfo"},
      {{{"TimeZone", {1}}}, SiteCheck::Mark::kFailed, "TimeZone", "texts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items.dump());
    Configuration cfg(std::nullopt, "deployment.cfg");
    for (auto item = c.items.begin(); item != c.items.end(); ++item) cfg.Set(item.key(), *item);
    const std::optional<SiteCheck::CheckLine> line = SiteCheck::RecordFieldsLine(cfg, "c.cfg");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->mark, c.mark);
    EXPECT_NE(line->detail.find(c.detail), std::string::npos) << line->detail;
    EXPECT_NE(line->fix.find(c.fix), std::string::npos) << line->fix;
  }
  // A cfg that names none of the items gets no line.
  EXPECT_FALSE(SiteCheck::RecordFieldsLine(Configuration(std::nullopt, "deployment.cfg"), "c.cfg"));
}

TEST(CheckRules, APatternTrialCountsReplyLinesAtEveryLineEnd) {
  std::string error;
  const auto good = Records::RecordPattern::Compile(Records::kDefaultRecordPattern, error);
  const auto letters = Records::RecordPattern::Compile("^([A-Z][0-9]+),", error);
  ASSERT_TRUE(good && letters) << error;
  struct Case {
    const char* bytes;
    const Records::RecordPattern& pattern;
    int64_t replyLines, records, firstOtherLine;
    std::string firstOther;
  };
  const std::vector<Case> cases = {
      {"PELOX>logs\r\nRecords logged: 5\r\nPELOX>getdata 2\r\nR1,a\r\nR2,b\r\ndone\r\nPELOX>",
       *good, 2, 2, 0, ""},
      {"PELOX>\rR1,a\rR2,b\rdone\rPELOX>", *good, 2, 2, 0, ""},              // CR alone
      {"PELOX>\n\rR1,a\n\rjunk\n\rR2,b\n\rPELOX>", *good, 3, 2, 3, "junk"},  // LF CR
      {"PELOX>getdata 2\r\nR1,a\r\nR2,b\r\nPELOX>", *letters, 2, 0, 2, "R1,a"},
      {"PELOX>getdata 2\r\nR1,a\r\nR2,b", *good, 1, 1, 0, ""},  // the last line unfinished
      {"PELOX>\r\nERROR: unknown command\r\nPELOX>", *letters, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const Records::PatternTrial t = Records::TryPattern(c.bytes, c.pattern, "PELOX>");
    EXPECT_EQ(t.replyLines, c.replyLines);
    EXPECT_EQ(t.records, c.records);
    EXPECT_EQ(t.firstOtherLine, c.firstOtherLine);
    EXPECT_EQ(t.firstOther, c.firstOther);
  }
}

}  // namespace
