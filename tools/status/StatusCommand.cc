#include "StatusCommand.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "DeploymentStatus.h"
#include "FleetPage.h"
#include "FleetView.h"
#include "HtmlReport.h"
#include "StatusReport.h"
#include "base/AtomicFile.h"
#include "base/WriteAll.h"
#include "config/JsonDocument.h"
#include "config/ProjectLocation.h"
#include "options/ArgWalk.h"

namespace StatusCommand {

namespace {

enum class Form { kText, kJson, kPrometheus, kHtml };

struct Options {
  Form form = Form::kText;
  std::string deployment;
  std::string output;
  std::string html;
  bool all = false;
  std::string database;  // --database: the fleet view of this central database
  bool help = false;
};

Options Parse(const std::vector<std::string>& args) {
  Options o;
  bool formGiven = false;
  auto setForm = [&](Form form) {
    if (formGiven && o.form != form) throw UsageError{"--json and --prometheus exclude each other"};
    o.form = form;
    formGiven = true;
  };
  ArgWalk<UsageError> walk(args);
  while (walk.Next()) {
    const std::string& arg = walk.Name();
    if (arg == "-h" || arg == "--help") {
      walk.NoValue();
      o.help = true;
    } else if (arg == "--json") {
      walk.NoValue();
      setForm(Form::kJson);
    } else if (arg == "--prometheus") {
      walk.NoValue();
      setForm(Form::kPrometheus);
    } else if (arg == "-d" || arg == "--deployment") {
      o.deployment = walk.Value();
      if (o.deployment.empty()) throw UsageError{arg + " needs a deployment name"};
    } else if (arg == "--database") {
      o.database = walk.Value();
      if (o.database.empty()) throw UsageError{arg + " needs a connection string"};
    } else if (arg == "-o" || arg == "--output") {
      o.output = walk.Value();
      if (o.output.empty()) throw UsageError{arg + " needs a file name"};
    } else if (arg == "--html") {
      o.html = walk.Value();
      if (o.html.empty()) throw UsageError{arg + " needs a file name"};
    } else if (arg == "-a" || arg == "--all") {
      walk.NoValue();
      o.all = true;
    } else {
      throw UsageError{"unexpected argument \"" + walk.Given() + "\""};
    }
  }
  if (o.all && !o.deployment.empty()) throw UsageError{"-a and -d exclude each other"};
  if (!o.database.empty() && !o.deployment.empty())
    throw UsageError{"--database and -d exclude each other"};
  if (!o.database.empty() && o.all)
    throw UsageError{"--database shows the central database's fleet: not with -a"};
  if (!o.html.empty()) {
    if (formGiven || !o.output.empty())
      throw UsageError{"--html writes its own file: not with --json, --prometheus or -o"};
    o.form = Form::kHtml;
    o.output = o.html;
  }
  return o;
}

// The message on standard error; where the report was due on standard output
// as JSON, that output is still one JSON document: {"error": message}.
int Fail(const std::string& message, int status, const Options* report = nullptr) {
  WriteAll(STDERR_FILENO, "pelox5-status: " + message + "\n");
  if (report && report->form == Form::kJson && report->output.empty())
    (void)WriteAll(STDOUT_FILENO, JsonDocument::ReportText(nlohmann::json{{"error", message}}, -1));
  return status;
}

// Colours only for a person at a terminal who has not asked for none.
bool UseColour() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return ::isatty(STDOUT_FILENO) == 1 && !(noColor && *noColor) &&
         !(term && std::strcmp(term, "dumb") == 0);
}

// The report to FILE (replaced atomically) or to standard output.
int Write(const Options& options, const std::string& report) {
  if (!options.output.empty()) {
    if (int32_t code = AtomicFile::Replace(options.output, report); code != 0)
      return Fail("cannot write " + options.output + " (error " + std::to_string(code) + ")",
                  kNeedsAttention);
  } else if (int err = WriteAll(STDOUT_FILENO, report); err != 0) {
    return Fail(std::string("cannot write the report: ") + std::strerror(err), kNeedsAttention);
  }
  return kAllComplete;
}

std::string FleetReport(const Options& options, int64_t now) {
  Central::Connection db = Central::Connection::Open(options.database, "pelox5-status");
  const std::vector<FleetView::FleetDeployment> fleet = FleetView::Collect(db);
  switch (options.form) {
    case Form::kJson:
      return FleetView::Json(fleet, now);
    case Form::kPrometheus:
      return FleetView::Prometheus(fleet);
    case Form::kHtml:
      return FleetPage::Page(fleet, now);
    case Form::kText:
      break;
  }
  return FleetView::Text(fleet, now);
}

}  // namespace

std::string HelpText() {
  return R"(Usage: pelox5-status [-a | -d NAME] [--json | --prometheus] [-o FILE]
       pelox5-status [-a | -d NAME] --html FILE
       pelox5-status --database CONNINFO [--json | --prometheus] [-o FILE]
       pelox5-status --database CONNINFO --html FILE

Shows the state of every deployment of the project folder that pelox5-download
uses (found from the same preferences file), one line each: its Status item (or
why its cfg cannot be read), port, the last run (age and outcome), the age of
the last complete run, the number and total size of its session files, the
records missing from its record recovery file, the controller's last known
record count, and the records and conflicts in its record store (kept by
pelox5-extract). Nothing is created or changed.

  -a, --all              every deployment (the default)
  -d, --deployment NAME  only this deployment (its folder name in lower case)
      --json             a JSON array of the same, one object per deployment
      --prometheus       gauges in the node exporter's textfile format
      --database CONNINFO  instead, every deployment of this central
                         PostgreSQL database (a libpq connection string):
                         its hosts, stored and missing records, conflicts
                         and last publish (with --html, as a page)
  -o, --output FILE      write the report to FILE instead of standard output,
                         replacing it atomically (a temporary file in the same
                         folder, renamed over it)
      --html FILE        write a web page of the same to FILE (replaced
                         atomically): the table, then per deployment its
                         record coverage, records per day, last 50 runs and
                         last extraction; one file with nothing to fetch
  -h, --help             this text

The last runs are read from the end of each deployment's runs.jsonl (at most
8 MiB back). Colours are used only when standard output is a terminal and
NO_COLOR is not set.

Exit status: 0 when the last run of every Active deployment completed; 1 when
one did not or never ran, when a deployment's cfg cannot be read, when the
project folder cannot be found, or, with --database, when the central database
cannot be used; 2 on a bad command line.
)";
}

int Run(const std::vector<std::string>& args, Clock& clock) {
  std::string fault;
  const std::optional<Options> parsed = ParseArgs(args, Parse, fault);
  if (!parsed) return Fail(fault + "\nTry \"pelox5-status --help\".", kUsage);
  const Options& options = *parsed;
  if (options.help) {
    return WriteAll(STDOUT_FILENO, HelpText()) == 0 ? kAllComplete : kNeedsAttention;
  }

  if (!options.database.empty()) {
    std::string report;
    try {
      report = FleetReport(options, clock.WallSeconds());
    } catch (const Central::CentralError& e) {
      return Fail(e.Message, kNeedsAttention, &options);
    }
    return Write(options, report);
  }

  const int64_t now = clock.WallSeconds();
  std::vector<DeploymentStatus> list;
  try {
    ProjectLocation::Location location = ProjectLocation::Find();
    list = CollectStatus(location, options.deployment,
                         options.form == Form::kHtml ? HtmlReport::PageDetail(now) : Detail{});
    if (!options.deployment.empty() && list.empty())
      return Fail(
          "no deployment folder \"" + options.deployment + "\" in " + location.projectFolder,
          kNeedsAttention, &options);
  } catch (const ProjectLocation::LocationError& e) {
    return Fail(e.Message, kNeedsAttention, &options);
  } catch (const std::exception& e) {
    // Whatever else stops the collection ends as a failure, never as an abort.
    return Fail(std::string("cannot collect the status: ") + e.what(), kNeedsAttention, &options);
  }

  // Warnings go to standard error: the report keeps its form for scripts.
  for (const DeploymentStatus& d : list)
    for (const std::string& text : d.rcdWarnings)
      (void)WriteAll(STDERR_FILENO, "pelox5-status: WARNING: " + text + "\n");

  std::string report;
  switch (options.form) {
    case Form::kText:
      report = StatusReport::Text(list, now, options.output.empty() && UseColour());
      break;
    case Form::kJson:
      report = StatusReport::Json(list, now);
      break;
    case Form::kPrometheus:
      report = StatusReport::Prometheus(list);
      break;
    case Form::kHtml:
      report = HtmlReport::Page(list, now);
      break;
  }
  if (int status = Write(options, report); status != kAllComplete) return status;

  for (const DeploymentStatus& d : list)
    if (d.NeedsAttention()) return kNeedsAttention;
  return kAllComplete;
}

}  // namespace StatusCommand
