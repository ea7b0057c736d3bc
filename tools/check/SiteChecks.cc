#include "SiteChecks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

#include "PortChecks.h"
#include "base/AccountNames.h"
#include "base/AsciiText.h"
#include "base/FolderItem.h"
#include "base/TimeZone.h"
#include "base/UniqueFd.h"
#include "config/DeploymentAccess.h"
#include "config/DeploymentLayout.h"
#include "config/DeploymentSettings.h"
#include "config/FolderUtils.h"
#include "journal/JournalTail.h"
#include "ports/PortSourceUtils.h"
#include "records/PatternTrial.h"
#include "records/RecordFields.h"
#include "records/RecordPattern.h"
#include "recovery/RecordLog.h"
#include "recovery/RequestPlan.h"

namespace SiteCheck {

const char* MarkName(Mark mark) {
  switch (mark) {
    case Mark::kOk:
      return "ok";
    case Mark::kWarning:
      return "warning";
    case Mark::kFailed:
      return "failed";
  }
  return "failed";
}

namespace {

// A message of several lines as one line.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += c;
  }
  return out;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A JSON parser's message without its "[json.exception...] " tag, which names
// the parser's error class rather than the fault.
std::string ParserMessage(const std::string& message) {
  if (message.rfind("[json.exception.", 0) == 0) {
    const size_t end = message.find("] ");
    if (end != std::string::npos) return OneLine(message.substr(end + 2));
  }
  return OneLine(message);
}

// chmod/chown advice for a file or folder this account may not use.
std::string PermissionFix(const std::string& path, bool folder) {
  return "give this account access, e.g. sudo chown " + std::string(folder ? "-R " : "") +
         "$USER " + Quoted(path) + " (or chmod " + (folder ? "u+rwx " : "u+rw ") + Quoted(path) +
         ")";
}

std::string FormatTime(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm local{};
  char text[32] = "";
  if (::localtime_r(&t, &local) != nullptr)
    ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// Edits (insert, delete, replace, swap two neighbours) that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> NearKnownKey(const std::string& key) {
  for (const char* known : DeploymentSettings::kKnownKeys)
    if (key == known) return std::nullopt;
  const std::string lower = AsciiText::Lower(key);
  std::optional<std::string> best;
  size_t bestScore = SIZE_MAX;
  for (const char* known : DeploymentSettings::kKnownKeys) {
    const std::string name = AsciiText::Lower(known);
    // Short names allow fewer edits: "Port" is one letter from "Sort".
    const size_t allowed = name.size() <= 4 ? 1 : name.size() <= 12 ? 2 : 3;
    size_t score = EditDistance(lower, name);
    if (score > allowed && name.size() >= 4 && lower.rfind(name, 0) == 0) score = allowed;
    if (score <= allowed && score < bestScore) {
      best = known;
      bestScore = score;
    }
  }
  return best;
}

bool CheckProject(CheckList& list, Site& site) {
  try {
    site.location = ProjectLocation::Find();
  } catch (const ProjectLocation::LocationError& e) {
    list.Fail("preferences", OneLine(e.Message),
              "give this account read access to the preferences file and correct the item it "
              "names, or remove the file to have the next run write the defaults");
    return false;
  }
  const std::string& prefs = site.location.preferencesFile;
  switch (site.location.preferences) {
    case ProjectLocation::PreferencesState::kMissing:
      list.Ok("preferences", prefs + " does not exist yet: the defaults are used");
      break;
    case ProjectLocation::PreferencesState::kUnparsed:
      // The run goes on with the defaults, so the project folder it uses is
      // not the one the file names: the settings are lost until mended.
      list.Fail("preferences",
                prefs + " is not a JSON object (" + ParserMessage(site.location.preferencesError) +
                    "): the next run uses the defaults instead of its ProjectRootPath and "
                    "ProjectRootFolder and keeps the text as " +
                    prefs + ".damaged",
                "correct the file at the line and column named");
      break;
    case ProjectLocation::PreferencesState::kRead:
      list.Ok("preferences", prefs);
      break;
  }

  const std::string& project = site.location.projectFolder;
  FolderItem folder(project);
  if (!folder.Exists()) {
    list.Fail("project folder", project + " does not exist",
              "create it (mkdir -p " + Quoted(project) +
                  ") or set ProjectRootPath and ProjectRootFolder in " + prefs);
    return false;
  }
  if (!folder.IsFolder()) {
    list.Fail("project folder", project + " is not a folder",
              "set ProjectRootPath and ProjectRootFolder in " + prefs);
    return false;
  }
  if (!folder.IsReadable()) {
    list.Fail("project folder", project + " cannot be read by this account",
              PermissionFix(project, true));
    return false;
  }
  list.Ok("project folder", project);
  return true;
}

std::vector<std::string> DeploymentNames(const std::string& projectFolder) {
  std::vector<std::string> names;
  FolderItem folder(projectFolder);
  for (FolderItem& item : folder.Children())
    if (item.IsFolder()) names.push_back(AsciiText::Lower(item.Name()));
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool CheckDeployment(CheckList& list, Site& site) {
  const std::string& name = site.name;
  const std::string& project = site.location.projectFolder;
  if (name != AsciiText::Lower(name)) {
    list.Fail("deployment folder",
              "deployment names are matched in lower case: " + Quoted(name) + " never matches",
              "use -d " + AsciiText::Lower(name));
    return false;
  }
  try {
    site.paths.emplace(DeploymentAccess::Locate(site.location, name, {}));
  } catch (const DeploymentAccess::ProjectFolderError& e) {
    list.Fail("deployment folder", OneLine(e.Message), "check the project folder " + project);
    return false;
  } catch (const DeploymentAccess::DeploymentNotFoundError& e) {
    const bool several = e.Message.find("more than one") != std::string::npos;
    std::string fix;
    if (several) {
      fix = "rename or remove all but one of these folders in " + project;
    } else {
      std::string known;
      for (const std::string& n : DeploymentNames(project))
        known += (known.empty() ? "" : ", ") + n;
      fix = known.empty()
                ? "create the folder " + project + site.location.delimiter + name + " with " +
                      DeploymentLayout::kCfgFolder + "/" + site.location.cfgName
                : "use one of the deployments here: " + known;
    }
    list.Fail("deployment folder", OneLine(e.Message), fix);
    return false;
  } catch (const FolderUtils::FolderUtilsException& e) {
    list.Fail("deployment folder", OneLine(e.Message), PermissionFix(project, true));
    return false;
  }
  list.Ok("deployment folder", site.paths->folder.NativePath());

  // The checks of the settings come next, item by item, with their fixes.
  DeploymentAccess::Options loadOnly;
  loadOnly.checkName = false;
  loadOnly.requireActive = false;
  const std::string cfgPath = site.paths->Cfg().NativePath();
  try {
    site.cfg = DeploymentAccess::Load(site.location, *site.paths, name, loadOnly).cfg;
  } catch (const DeploymentAccess::CfgError& e) {
    switch (e.cause) {
      case DeploymentAccess::CfgError::Cause::kBadFormat:
        list.Fail("deployment.cfg", "not valid JSON: " + OneLine(e.detail), "correct " + cfgPath);
        break;
      case DeploymentAccess::CfgError::Cause::kUnreadable:
        list.Fail("deployment.cfg", OneLine(e.detail), PermissionFix(cfgPath, false));
        break;
      case DeploymentAccess::CfgError::Cause::kMissing:
        list.Fail("deployment.cfg", cfgPath + " does not exist",
                  "create it: a JSON object with at least \"Name\", \"Status\" and \"Port\"");
        break;
    }
    return false;
  }
  list.Ok("deployment.cfg", cfgPath);
  return true;
}

void CheckSettings(CheckList& list, Site& site) {
  const Configuration& cfg = *site.cfg;
  const std::string cfgPath = site.paths->Cfg().NativePath();
  bool allOk = true;
  // Runs one read of the run's; a SettingError is a failed line with its message.
  auto item = [&](const std::string& key, const std::string& fix, auto read) {
    try {
      read();
      return true;
    } catch (const DeploymentSettings::SettingError& e) {
      list.Fail("deployment.cfg " + key, OneLine(e.Message), fix + " in " + cfgPath);
      allOk = false;
      return false;
    }
  };
  // A misspelt item is not read: the run uses the default of the one meant.
  const std::vector<std::string> names = cfg.Names();
  for (const std::string& key : names) {
    const std::optional<std::string> meant = NearKnownKey(key);
    if (!meant || std::find(names.begin(), names.end(), *meant) != names.end()) continue;
    list.Warn("deployment.cfg " + key,
              "no program reads an item " + Quoted(key) + "; it is probably \"" + *meant +
                  "\", which is missing",
              "rename \"" + key + "\" to \"" + *meant + "\" in " + cfgPath);
  }
  item("Name", "set \"Name\": \"" + site.name + "\"",
       [&] { DeploymentSettings::CheckName(cfg, site.name); });
  item("Status", "set \"Status\": \"Active\" (when the site is to be downloaded)",
       [&] { DeploymentSettings::CheckStatus(cfg); });
  // The Controller's settings through the run's own reader; each item it cannot
  // use is a failed line and the others are still read.
  const std::map<std::string, std::string> fixes = {
      {"Port", "set \"Port\" to the serial device or a.b.c.d:port"},
      {"Baud", "set \"Baud\" to one of 300 ... 230400 (as text, e.g. \"9600\")"},
      {"Prompt", "set \"Prompt\" to the controller's prompt (\"PELOX>\")"}};
  std::set<std::string> failedKeys;
  DeploymentSettings::ReadControllerSettings(
      cfg, site.controller,
      [&](const std::string&, const std::string& text) {
        if (text == DeploymentSettings::kBaudMissingWarning)
          list.Warn("deployment.cfg Baud", "missing: the run assumes 9600",
                    "set \"Baud\" in " + cfgPath);
      },
      [&](const std::string& key, const DeploymentSettings::SettingError& e) {
        std::string fix;
        if (auto found = fixes.find(key); found != fixes.end()) fix = found->second;
        for (const DeploymentSettings::NumericSetting& s : DeploymentSettings::kNumericSettings)
          if (key == s.key)
            fix = "set \"" + key + "\" to a whole number from " + std::to_string(s.min) + " to " +
                  std::to_string(s.max);
        list.Fail("deployment.cfg " + key, OneLine(e.Message), fix + " in " + cfgPath);
        failedKeys.insert(key);
        allOk = false;
      });
  site.serial = failedKeys.count("Port") == 0 &&
                PortSourceUtils::isSerialPortRequested(site.controller.portName);
  // The probe needs the port, its speed, and the wake-up's tries, time-out and prompt.
  site.portSettingsOk = true;
  for (const char* key : {"Port", "Baud", DeploymentSettings::kConnectAttemptMaxTries.key,
                          DeploymentSettings::kConnectAttemptTimeout.key, "Prompt"})
    if (failedKeys.count(key) != 0) site.portSettingsOk = false;
  if (allOk) {
    const ControllerSettings& c = site.controller;
    std::string detail = "Name, Status, Port " + c.portName;
    if (site.serial) detail += " at " + PortSourceUtils::BaudConstantToString(c.serial.baud);
    detail += ", " + std::to_string(c.connectAttemptMaxTries) + " tries of " +
              std::to_string(c.connectAttemptTimeout) + " s, prompt " + Quoted(c.prompt);
    list.Ok("deployment.cfg settings", detail);
  }
}

void CheckRecordFile(CheckList& list, const Site& site) {
  std::optional<std::string> fileName;
  try {
    fileName = DeploymentSettings::Text(*site.cfg, "ExtractReceivedRecordFile");
  } catch (const DeploymentSettings::SettingError& e) {
    list.Fail("record recovery file", OneLine(e.Message),
              "set \"ExtractReceivedRecordFile\" to the file name");
    return;
  }
  if (!fileName) {
    list.Warn("record recovery file",
              "deployment.cfg has no ExtractReceivedRecordFile: missing records are never "
              "asked for again",
              "set \"ExtractReceivedRecordFile\" (e.g. \"" + site.name + ".rcd\")");
    return;
  }
  const std::string path = site.paths->RecordRecoveryFile(*fileName);
  // The controller's count as the last run saw it decides how far the plan goes.
  const std::optional<int64_t> recordsLogged =
      Journal::ReadTail(site.paths->RunJournal().NativePath()).recordsLogged;
  if (!FolderItem(path).Exists()) {
    list.Warn("record recovery file", path + " does not exist: record recovery is skipped",
              "pelox5-rcd add " + Quoted(path) + " FIRST-LAST (the records already received)");
    return;
  }
  RecordRecoveryUtils::RecordLog log(path);
  if (!log.readRCD()) {
    list.Fail("record recovery file", path + " cannot be read (" + log.ReadFailure() + ")",
              access(path.c_str(), R_OK) != 0
                  ? PermissionFix(path, false)
                  : "correct the file (pelox5-rcd show " + Quoted(path) + ")");
    return;
  }
  // Tokens the run skips, with the run's own warning for each.
  for (const std::string& text : RecordRecoveryUtils::SkippedTokenWarnings(log.Skipped(), path))
    list.Warn("record recovery file", text, "correct or remove the token in " + Quoted(path));
  if (log.receivedRanges.empty()) {
    list.Warn("record recovery file", path + " holds no ranges yet: record recovery is skipped",
              "pelox5-rcd add " + Quoted(path) + " FIRST-LAST (the records already received)");
    return;
  }
  std::string detail = path + ": " + std::to_string(log.receivedRanges.size()) +
                       " received ranges, " + std::to_string(log.missingRanges.size()) + " missing";
  int32_t size = DeploymentSettings::kRecordRequestSize.fallback;
  try {
    size = DeploymentSettings::Number(*site.cfg, DeploymentSettings::kRecordRequestSize);
  } catch (const DeploymentSettings::SettingError&) {
    // Reported with the settings.
  }
  if (log.missingRanges.empty()) {
    detail += "; the next run asks for nothing again";
  } else if (!recordsLogged) {
    detail += "; the requests depend on the controller's record count, not known yet";
  } else {
    const int32_t logged = static_cast<int32_t>(std::clamp<int64_t>(*recordsLogged, 0, INT32_MAX));
    const RecordRecoveryUtils::MissingRequestPlan plan =
        RecordRecoveryUtils::PlanMissingRequests(log, logged, size);
    const int64_t count = plan.RequestCount();
    detail += "; with " + std::to_string(logged) + " records logged the next run sends " +
              std::to_string(count) + " request" + (count == 1 ? "" : "s");
    int shown = 0;
    for (const RecordRecoveryUtils::PlannedRange& range : plan.ranges) {
      for (int64_t i = 0; i < plan.RequestsIn(range) && shown < 3; ++i, ++shown)
        detail += (shown == 0 ? ": " : ", ") + plan.RequestAt(range, i).Command();
    }
    if (count > shown) detail += ", ...";
  }
  list.Ok("record recovery file", detail);
}

void CheckDownloads(CheckList& list, const Site& site) {
  FolderItem downloads = site.paths->Downloads();
  const std::string path = downloads.NativePath();
  FolderItem target = downloads;
  if (!downloads.Exists()) {
    // The run creates it; what counts then is the deployment folder.
    target = site.paths->folder;
    if (!target.IsWriteable() || access(target.NativePath().c_str(), W_OK | X_OK) != 0) {
      list.Fail("downloads folder", path + " does not exist and this account cannot create it",
                PermissionFix(target.NativePath(), true));
      return;
    }
  } else {
    try {
      FolderUtils::checkfolder(downloads, true);
    } catch (const FolderUtils::FolderUtilsException& e) {
      list.Fail("downloads folder", path + ": " + OneLine(e.Message),
                downloads.IsFolder() ? PermissionFix(path, true)
                                     : "move the file " + Quoted(path) + " away");
      return;
    }
  }
  struct statvfs fs {};
  if (::statvfs(target.NativePath().c_str(), &fs) != 0) {
    list.Warn("downloads folder", path + ": free space cannot be read");
    return;
  }
  const uint64_t freeBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  const std::string freeText = std::to_string(freeBytes >> 20) + " MiB free";
  const std::string where = downloads.Exists() ? path : path + " (made by the next run)";
  if (freeBytes < kLowFreeSpaceBytes) {
    list.Warn("downloads folder", where + ": only " + freeText,
              "free space on that file system (at least " +
                  std::to_string(kLowFreeSpaceBytes >> 20) + " MiB)");
  } else {
    list.Ok("downloads folder", where + ", " + freeText);
  }
}

namespace {

// A line of a session file as a report shows it: control bytes as '?', cut.
std::string Shown(const std::string& line) {
  std::string out = line.substr(0, 80);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return line.size() > out.size() ? out + "..." : out;
}

// The trial reads at most this much of a session file: enough replies to tell.
constexpr int64_t kTrialBytes = int64_t{16} << 20;

// The first kTrialBytes of the open file `fd`; false on a read error.
bool ReadHead(int fd, std::string& bytes) {
  bytes.resize(static_cast<size_t>(kTrialBytes));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return true;
}

}  // namespace

void CheckSessions(CheckList& list, const Site& site) {
  const std::string folder = site.paths->Downloads().NativePath();
  const std::string cfgPath = site.paths->Cfg().NativePath();
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir))
      if (std::string name = entry->d_name; name.rfind(DeploymentLayout::kSessionPrefix, 0) == 0)
        names.push_back(std::move(name));
    ::closedir(dir);
  }
  // Session names carry the time they were made.
  std::sort(names.begin(), names.end());

  // Opened as the extraction opens them; a FIFO never blocks the check.
  std::vector<std::string> unreadable;
  std::optional<std::string> newest, newestBytes;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    const std::string path = folder + "/" + *name;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid()) {
      if ((errno == EACCES || errno == EPERM) && ::stat(path.c_str(), &st) == 0)
        unreadable.push_back(path + " (owner " + AccountNames::UserName(st.st_uid) + ", mode " +
                             ModeText(st.st_mode) + ")");
      continue;
    }
    if (newest || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::string bytes;
    if (ReadHead(fd.Get(), bytes)) {
      newest = path;
      newestBytes = std::move(bytes);
    }
  }
  if (!unreadable.empty()) {
    std::string detail = std::to_string(unreadable.size()) + " of " + std::to_string(names.size()) +
                         " session files cannot be read by this account, so pelox5-extract "
                         "skips them: ";
    for (size_t i = 0; i < unreadable.size() && i < 3; ++i)
      detail += (i == 0 ? "" : ", ") + unreadable[i];
    if (unreadable.size() > 3) detail += ", ...";
    list.Fail("session files", detail,
              "give this account read access, e.g. sudo chown -R $USER " + Quoted(folder) +
                  ", and run the downloads and pelox5-extract as the same account");
  }

  std::optional<std::string> text;
  try {
    text = DeploymentSettings::Text(*site.cfg, DeploymentSettings::kRecordPatternKey);
  } catch (const DeploymentSettings::SettingError& e) {
    list.Fail("record pattern", OneLine(e.Message),
              "set \"RecordPattern\" to a regular expression in " + cfgPath);
    return;
  }
  const std::string patternText = text.value_or(Records::kDefaultRecordPattern);
  std::string error;
  const std::optional<Records::RecordPattern> pattern =
      Records::RecordPattern::Compile(patternText, error);
  const std::string fix = "correct \"RecordPattern\" in " + cfgPath +
                          ": its first group must hold the record number, digits only";
  if (!pattern) {
    list.Fail("record pattern", OneLine(error), fix);
    return;
  }
  const std::string shownPattern = Quoted(patternText) + (text ? "" : " (the default)");
  if (!newest) {
    list.Ok("record pattern", shownPattern + "; no session file to try it on yet");
    return;
  }
  const Records::PatternTrial trial =
      Records::TryPattern(*newestBytes, *pattern, site.controller.prompt);
  if (trial.replyLines > 0 && trial.records == 0) {
    list.Fail("record pattern",
              shownPattern + " takes none of the " + std::to_string(trial.replyLines) +
                  " reply lines of " + *newest + " as a record; the first is line " +
                  std::to_string(trial.firstOtherLine) + ": " + Quoted(Shown(trial.firstOther)),
              fix);
    return;
  }
  list.Ok("record pattern", shownPattern + " takes " + std::to_string(trial.records) + " of " +
                                std::to_string(trial.replyLines) + " reply lines of " + *newest +
                                " as records");
}

std::optional<CheckLine> RecordFieldsLine(const Configuration& cfg, const std::string& cfgPath) {
  namespace DS = DeploymentSettings;
  const std::vector<std::string> names = cfg.Names();
  auto named = [&names](const char* key) {
    return std::find(names.begin(), names.end(), key) != names.end();
  };
  if (!named(DS::kRecordFieldsKey) && !named(DS::kRecordFieldSeparatorKey) &&
      !named(DS::kTimeZoneKey))
    return std::nullopt;
  const std::string fieldsFix =
      "write \"RecordFields\" in " + cfgPath +
      " as a list of plain, distinct names or {\"name\", \"type\": integer|real|text|time, "
      "\"unit\", \"format\": e.g. \"%d.%m.%Y %H:%M\"} objects";
  auto failed = [](const std::string& detail, const std::string& fix) {
    return CheckLine{Mark::kFailed, "record fields", detail, fix};
  };
  std::optional<std::vector<Records::FieldItem>> items;
  std::string separator, zoneName;
  try {
    items = DS::RecordFieldItems(cfg);
  } catch (const DS::SettingError& e) {
    return failed(OneLine(e.Message), fieldsFix);
  }
  try {
    separator = DS::Text(cfg, DS::kRecordFieldSeparatorKey).value_or(Records::kDefaultSeparator);
    zoneName = DS::Text(cfg, DS::kTimeZoneKey).value_or("");
  } catch (const DS::SettingError& e) {
    return failed(OneLine(e.Message),
                  "make \"RecordFieldSeparator\" and \"TimeZone\" texts in " + cfgPath);
  }
  std::string error;
  const std::optional<Records::FieldDefinition> def =
      Records::MakeFieldDefinition(items, separator, zoneName, error);
  if (!def)
    return failed(error, separator.empty()
                             ? "set \"RecordFieldSeparator\" to the text between fields, e.g. "
                               "\",\" or \";\", in " +
                                   cfgPath
                             : fieldsFix);
  if (!zoneName.empty() && !TimeZone::Zone::Load(zoneName, error))
    return failed("TimeZone: " + error,
                  "set \"TimeZone\" in " + cfgPath +
                      " to a zone of /usr/share/zoneinfo such as Europe/Berlin, or UTC (the "
                      "tzdata package holds them)");
  std::string detail;
  if (def->Named()) {
    for (const Records::Field& f : def->fields)
      detail += (detail.empty() ? "" : ", ") + f.name + " " + Records::TypeWord(f.type);
  } else {
    detail = "none named (field1, field2, ... as text)";
  }
  detail += "; separator " + Quoted(def->separator) +
            (zoneName.empty() ? "; no TimeZone: times stay local" : "; time zone " + zoneName);
  return CheckLine{Mark::kOk, "record fields", detail, ""};
}

void CheckRecordFields(CheckList& list, const Site& site) {
  if (!site.cfg) return;
  const std::string cfgPath = site.paths->Cfg().NativePath();
  if (std::optional<CheckLine> line = RecordFieldsLine(*site.cfg, cfgPath))
    list.Add(line->mark, line->what, line->detail, line->fix);
}

void CheckJournal(CheckList& list, const Site& site) {
  const std::string path = site.paths->RunJournal().NativePath();
  const Journal::Tail tail = Journal::ReadTail(path);
  if (!tail.exists) {
    list.Warn("run journal", "no run recorded yet (" + path + ")");
    return;
  }
  if (!tail.error.empty()) {
    list.Warn("run journal", path + " cannot be read: " + tail.error, PermissionFix(path, false));
    return;
  }
  auto describe = [](const Journal::Run& run) {
    std::string text = run.endTime ? FormatTime(*run.endTime) : run.start;
    return text + " " + run.outcome;
  };
  std::string detail = "last run " + (tail.last ? describe(*tail.last) : std::string("none"));
  if (tail.last && tail.last->fatal) detail += " (" + OneLine(*tail.last->fatal) + ")";
  detail += "; last complete run " +
            (tail.lastComplete ? describe(*tail.lastComplete) : std::string("none"));
  if (tail.last && !tail.last->Complete())
    list.Warn("run journal", detail, "the checks above and --probe show why");
  else
    list.Ok("run journal", detail);
}

namespace {

// Runs systemctl with `args`; its standard output, and its status in `status`.
std::string Systemctl(const std::vector<std::string>& args, int& status) {
  int pipeFds[2];
  status = -1;
  if (::pipe(pipeFds) != 0) return "";
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return "";
  }
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv;
    std::string program = "systemctl";
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp("systemctl", argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeFds[0]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace

void CheckTimer(CheckList& list, const Site& site) {
  const std::string timer = "pelox5-download@" + site.name + ".timer";
  // systemd's own test of whether it runs the host.
  if (!FolderItem("/run/systemd/system").IsFolder()) {
    list.Warn("systemd timer", "systemd is not running on this host: " + timer + " not checked");
    return;
  }
  int status = 0;
  const std::string enabled = Systemctl({"is-enabled", timer}, status);
  if (status == 127 || status < 0) {
    list.Warn("systemd timer", "systemctl cannot be run: " + timer + " not checked");
    return;
  }
  if (enabled != "enabled") {
    list.Warn("systemd timer",
              timer + " is " + (enabled.empty() ? "not installed" : enabled) +
                  " (fine when cron starts the downloads)",
              "sudo systemctl enable --now " + timer);
    return;
  }
  const std::string next =
      Systemctl({"show", "--property=NextElapseUSecRealtime", "--value", timer}, status);
  list.Ok("systemd timer", timer + " is enabled" + (next.empty() ? "" : ", next run " + next));
}

}  // namespace SiteCheck
