#include "CheckCommand.h"

#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "CheckLine.h"
#include "PortChecks.h"
#include "Probe.h"
#include "SiteChecks.h"
#include "base/WriteAll.h"
#include "config/JsonDocument.h"
#include "options/ArgWalk.h"

namespace CheckCommand {

namespace {

using SiteCheck::CheckList;
using SiteCheck::Mark;

const char kUsage[] =
    "Usage: pelox5-check -d DEPLOYMENT [--probe [--scan-speed]] [--json]\n"
    "       pelox5-check -a [--probe [--scan-speed]] [--json]\n"
    "\n"
    "Checks everything a download of the deployment needs, in the order a run\n"
    "needs it, and prints one line per check with the cause and the fix of each\n"
    "failure. It writes nothing, and sends the controller nothing but with --probe.\n"
    "\n"
    "  -d, --deployment NAME  the deployment to check\n"
    "  -a, --all              every deployment of the project, then a summary\n"
    "      --probe            also wake the controller as a run does, then send quit\n"
    "      --scan-speed       with --probe, on a serial port: when no prompt comes,\n"
    "                         try the other speeds and report the one that answers\n"
    "      --json             the checks as a JSON array\n"
    "  -h, --help             this text\n"
    "\n"
    "Exit status: 0 every check passed (warnings allowed), 1 a check failed,\n"
    "2 a usage error.\n";

struct Options {
  std::string deployment;
  bool all = false;
  bool probe = false;
  bool scanSpeed = false;
  bool json = false;
  bool help = false;
};

Options Parse(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "-a" || arg == "--all") {
      o.all = true;
    } else if (arg == "--probe") {
      o.probe = true;
    } else if (arg == "--scan-speed") {
      o.scanSpeed = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "-d" || arg == "--deployment" || arg.rfind("--deployment=", 0) == 0) {
      if (arg.rfind("--deployment=", 0) == 0) {
        o.deployment = arg.substr(13);
      } else {
        if (i + 1 >= args.size()) throw UsageError{arg + " needs a deployment name"};
        o.deployment = args[++i];
      }
      if (o.deployment.empty()) throw UsageError{arg + " needs a deployment name"};
    } else {
      throw UsageError{"unexpected argument \"" + arg + "\""};
    }
  }
  if (o.help) return o;
  if (o.all && !o.deployment.empty()) throw UsageError{"-a and -d exclude each other"};
  if (!o.all && o.deployment.empty()) throw UsageError{"-d DEPLOYMENT or -a is needed"};
  if (o.scanSpeed && !o.probe) throw UsageError{"--scan-speed works only with --probe"};
  return o;
}

// The checks of one deployment after the project's own. An error no check
// expected ends the list with a failed line, keeping the lines before it.
void CheckSite(CheckList& list, SiteCheck::Site& site, const Options& o) try {
  if (!SiteCheck::CheckDeployment(list, site)) return;
  SiteCheck::CheckSettings(list, site);
  SiteCheck::CheckPort(list, site);
  SiteCheck::CheckRecordFile(list, site);
  SiteCheck::CheckDownloads(list, site);
  SiteCheck::CheckSessions(list, site);
  SiteCheck::CheckRecordFields(list, site);
  SiteCheck::CheckJournal(list, site);
  SiteCheck::CheckTimer(list, site);
  if (o.probe) SiteCheck::Probe(list, site, o.scanSpeed);
} catch (const std::exception& e) {
  list.Fail("pelox5-check", std::string("the checks stopped on an unexpected error: ") + e.what());
}

bool UseColour() {
  const char* noColour = std::getenv("NO_COLOR");
  return ::isatty(STDOUT_FILENO) == 1 && (noColour == nullptr || *noColour == '\0');
}

std::string TextLine(const SiteCheck::CheckLine& line, bool colour) {
  std::string mark = SiteCheck::MarkName(line.mark);
  mark.resize(8, ' ');
  if (colour) {
    const char* code = line.mark == Mark::kOk ? "32" : line.mark == Mark::kWarning ? "33" : "31";
    mark = std::string("\x1b[") + code + "m" + SiteCheck::MarkName(line.mark) + "\x1b[0m" +
           mark.substr(std::string(SiteCheck::MarkName(line.mark)).size());
  }
  std::string text = mark + line.what + ": " + line.detail;
  if (!line.fix.empty()) text += " -- fix: " + line.fix;
  return text + "\n";
}

nlohmann::json JsonLine(const SiteCheck::CheckLine& line, const std::string& deployment) {
  nlohmann::json j = {{"deployment", deployment},
                      {"check", line.what},
                      {"mark", SiteCheck::MarkName(line.mark)},
                      {"detail", line.detail}};
  if (!line.fix.empty()) j["fix"] = line.fix;
  return j;
}

std::string Summary(const std::vector<CheckList>& lists) {
  int failed = 0, warnings = 0;
  for (const CheckList& list : lists) {
    if (list.Failed()) {
      ++failed;
      continue;
    }
    for (const SiteCheck::CheckLine& line : list.lines)
      if (line.mark == Mark::kWarning) {
        ++warnings;
        break;
      }
  }
  return std::to_string(lists.size()) +
         " checked: " + std::to_string(static_cast<int>(lists.size()) - failed) + " passed (" +
         std::to_string(warnings) + " with warnings), " + std::to_string(failed) + " failed\n";
}

}  // namespace

int Run(const std::vector<std::string>& args, Clock& clock) {
  std::string fault;
  const std::optional<Options> parsed = ParseArgs(args, Parse, fault);
  if (!parsed) {
    WriteAll(STDERR_FILENO, "pelox5-check: " + fault + "\n\n" + kUsage);
    return 2;
  }
  const Options& o = *parsed;
  if (o.help) {
    WriteAll(STDOUT_FILENO, kUsage);
    return 0;
  }

  // The project's own checks come first, once; then one list per deployment.
  CheckList project;
  SiteCheck::Site base(clock);
  base.name = o.deployment;
  std::vector<CheckList> lists;
  if (SiteCheck::CheckProject(project, base)) {
    std::vector<std::string> names = o.all ? SiteCheck::DeploymentNames(base.location.projectFolder)
                                           : std::vector<std::string>{o.deployment};
    if (names.empty())
      project.Fail(
          "deployments", base.location.projectFolder + " holds no deployment folder",
          "create one: " + base.location.projectFolder + "/NAME/cfg/" + base.location.cfgName);
    for (const std::string& name : names) {
      SiteCheck::Site site = base;
      site.name = name;
      CheckList list;
      list.deployment = name;
      CheckSite(list, site, o);
      lists.push_back(std::move(list));
    }
  }

  std::string out;
  if (o.json) {
    nlohmann::json all = nlohmann::json::array();
    // The project's lines belong to every deployment of -a: null there.
    for (const auto& line : project.lines) {
      nlohmann::json j = JsonLine(line, o.deployment);
      if (o.all) j["deployment"] = nullptr;
      all.push_back(std::move(j));
    }
    for (const CheckList& list : lists)
      for (const auto& line : list.lines) all.push_back(JsonLine(line, list.deployment));
    out = JsonDocument::ReportText(all);
  } else {
    const bool colour = UseColour();
    for (const auto& line : project.lines) out += TextLine(line, colour);
    for (const CheckList& list : lists) {
      if (o.all) out += "\n" + list.deployment + ":\n";
      for (const auto& line : list.lines) out += TextLine(line, colour);
    }
    if (o.all) out += "\n" + Summary(lists);
  }
  WriteAll(STDOUT_FILENO, out);

  bool failed = project.Failed();
  for (const CheckList& list : lists) failed = failed || list.Failed();
  return failed ? 1 : 0;
}

}  // namespace CheckCommand
