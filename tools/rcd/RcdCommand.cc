#include "RcdCommand.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "recovery/RangeText.h"
#include "recovery/RecordLog.h"
#include "recovery/RecordLogAdd.h"
#include "recovery/RequestPlan.h"

namespace RcdTool {

namespace {

using RecordRecoveryUtils::RangeEntry;
using RecordRecoveryUtils::RecordLog;

// The help states RecordRequestSize's default and range as text.
static_assert(RecordRecoveryUtils::kDefaultRequestSize == 30 &&
              RecordRecoveryUtils::kMaxRequestSize == 1000000);
constexpr const char* kHelp =
    "Usage: pelox5-rcd show FILE\n"
    "       pelox5-rcd missing FILE\n"
    "       pelox5-rcd add FILE N|A-B ...\n"
    "       pelox5-rcd plan FILE --logged N [--size C]\n"
    "       pelox5-rcd -h|--help\n"
    "Keeps a record recovery file: the record numbers already received, as ranges.\n"
    "\n"
    "  show     prints the received ranges, normalised (ascending, disjoint, not\n"
    "           adjacent), one \"min-max\" a line, then the lines \"first: N\" and\n"
    "           \"last: N\"; prints nothing when the file holds no range\n"
    "  missing  prints the missing ranges, one \"min-max\" a line: the gap before the\n"
    "           first range, counted from record 0, and every gap between two ranges\n"
    "  add      marks record N, or records A to B, received and writes the file back\n"
    "           atomically, one \"min-max\" a line; FILE may not exist yet; adds to\n"
    "           files in one folder wait for each other; a FILE holding a token that\n"
    "           is not N or A-B, or that may not be written, is left as it is\n"
    "  plan     prints the \"getlog FIRST COUNT\" requests a download run would send\n"
    "           for FILE to a controller that reports N records logged, asking at\n"
    "           most C records at a time (RecordRequestSize, default 30, 1 to\n"
    "           1000000), one a line, then \"total: R records in Q requests\"\n"
    "\n"
    "FILE is a path, or a file URL: \"file://\" + absolute path, %XX escapes decoded.\n"
    "Record numbers are 0 to 2147483647. In FILE, tokens are separated by \",\" and line\n"
    "ends; a token is N or A-B, in plain decimal digits. A byte-order mark at the start\n"
    "is ignored and an empty token adds nothing; any other token (\"abc\", \"-20\", a\n"
    "number beyond 2147483647, A greater than B) is skipped with a warning.\n"
    "FILE must be a regular file of at most 64 MiB.\n"
    "Exit status: 0 on success; 1 on a bad argument, a missing FILE for show and\n"
    "missing, or when FILE cannot be read or written.\n";

// "N" or "A-B" with A <= B, both 0 to 2147483647.
std::optional<RangeEntry> ParseRecords(std::string_view text) {
  size_t dash = text.find('-');
  std::optional<int32_t> min = RecordRecoveryUtils::PlainRecordNumber(text.substr(0, dash));
  std::optional<int32_t> max = dash == std::string_view::npos
                                   ? min
                                   : RecordRecoveryUtils::PlainRecordNumber(text.substr(dash + 1));
  if (!min || !max || *min > *max) return std::nullopt;
  return RangeEntry(*min, *max);
}

int Fail(std::FILE* err, const std::string& message) {
  std::fprintf(err, "pelox5-rcd: %s\n", message.c_str());
  return 1;
}

// The record log's own report of a failed read or write, on `out` as it has
// always been shown.
void ShowFailure(const std::string& report, std::FILE* out) {
  std::fprintf(out, "%s\n", report.c_str());
  std::fflush(out);
}

// Reads FILE; warns on `err` of each token it skipped. A failure is shown on `out`.
bool Read(RecordLog& log, const std::string& name, std::FILE* out, std::FILE* err) {
  if (!log.readRCD()) {
    ShowFailure(log.FailureText(), out);
    return false;
  }
  for (const std::string& text : RecordRecoveryUtils::SkippedTokenWarnings(log.Skipped(), name))
    std::fprintf(err, "pelox5-rcd: WARNING: %s\n", text.c_str());
  return true;
}

int Emit(const std::string& text, std::FILE* out, std::FILE* err) {
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fflush(out) != 0 || !ok) return Fail(err, "cannot write the output");
  return 0;
}

bool FileExists(const std::string& name) {
  std::optional<std::string> path = RecordRecoveryUtils::RecordLogPath(name);
  struct stat st {};
  return !path || ::stat(path->c_str(), &st) == 0;  // an unusable URL is reported by readRCD
}

int Show(RecordLog& log, std::FILE* out, std::FILE* err) {
  std::string text;
  RecordRecoveryUtils::AppendRangeLines(log.receivedRanges, text);
  if (!log.receivedRanges.empty())
    text += "first: " + std::to_string(log.mFirstRecord) +
            "\nlast: " + std::to_string(log.mLastRecord) + "\n";
  return Emit(text, out, err);
}

int Missing(RecordLog& log, std::FILE* out, std::FILE* err) {
  std::string text;
  RecordRecoveryUtils::AppendRangeLines(log.missingRanges, text);
  return Emit(text, out, err);
}

// "--name VALUE" or "--name=VALUE" among args[first..]: a whole number in
// [min, max]. Sets `error` and returns nullopt when it is bad or absent.
std::optional<int32_t> NumberOption(const std::vector<std::string>& args, size_t first,
                                    const std::string& name, int32_t min, int32_t max,
                                    std::optional<int32_t> fallback, std::string& error) {
  std::optional<std::string> text;
  for (size_t i = first; i < args.size(); ++i) {
    if (args[i] == "--" + name && i + 1 < args.size()) {
      text = args[++i];
    } else if (args[i].rfind("--" + name + "=", 0) == 0) {
      text = args[i].substr(name.size() + 3);
    }
  }
  if (!text) {
    if (!fallback) error = "plan: missing --" + name;
    return fallback;
  }
  std::optional<int32_t> value = RecordRecoveryUtils::PlainRecordNumber(*text);
  if (!value || *value < min || *value > max) {
    error = "plan: --" + name + " needs a whole number from " + std::to_string(min) + " to " +
            std::to_string(max) + ", not '" + *text + "'";
    return std::nullopt;
  }
  return value;
}

// The requests GetMissingRecords would send: the same plan, not a copy of it.
int Plan(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool valued = a == "--logged" || a == "--size";
    if (valued && i + 1 < args.size()) {
      ++i;
    } else if (a.rfind("--logged=", 0) != 0 && a.rfind("--size=", 0) != 0) {
      return Fail(err, "plan: unexpected argument '" + a + "'");
    }
  }
  std::string error;
  const std::optional<int32_t> logged =
      NumberOption(args, 2, "logged", 0, INT32_MAX, std::nullopt, error);
  if (!logged) return Fail(err, error);
  const std::optional<int32_t> size =
      NumberOption(args, 2, "size", 1, RecordRecoveryUtils::kMaxRequestSize,
                   RecordRecoveryUtils::kDefaultRequestSize, error);
  if (!size) return Fail(err, error);
  if (!FileExists(args[1])) return Fail(err, "plan: no such file: " + args[1]);
  RecordLog log(args[1]);
  if (!Read(log, args[1], out, err)) return 1;
  std::string text;
  int64_t records = 0, requests = 0;
  // A run asks for nothing while the file holds no range yet.
  if (!log.receivedRanges.empty()) {
    const RecordRecoveryUtils::MissingRequestPlan plan =
        RecordRecoveryUtils::PlanMissingRequests(log, *logged, *size);
    for (const RecordRecoveryUtils::PlannedRange& range : plan.ranges) {
      for (int64_t i = 0; i < plan.RequestsIn(range); ++i) {
        const RecordRecoveryUtils::RecordRequest request = plan.RequestAt(range, i);
        text += request.Command() + "\n";
        records += request.count;
        ++requests;
        // Flush as it goes: a plan over 2e9 records is long.
        if (text.size() >= 64 * 1024) {
          if (Emit(text, out, err) != 0) return 1;
          text.clear();
        }
      }
    }
  }
  text += "total: " + std::to_string(records) + " records in " + std::to_string(requests) +
          " requests\n";
  return Emit(text, out, err);
}

}  // namespace

int Run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (args.empty()) return Fail(err, "missing command; try pelox5-rcd --help");
  const std::string& command = args[0];
  if (command == "-h" || command == "--help") return Emit(kHelp, out, err);
  if (command != "show" && command != "missing" && command != "add" && command != "plan")
    return Fail(err, "unknown command '" + command + "'; try pelox5-rcd --help");
  if (args.size() < 2) return Fail(err, command + ": missing FILE");
  if (command == "plan") return Plan(args, out, err);
  const bool adding = command == "add";
  if (!adding && args.size() > 2)
    return Fail(err, command + ": unexpected argument '" + args[2] + "'");
  if (adding && args.size() < 3) return Fail(err, "add: missing records (N or A-B)");

  std::vector<RangeEntry> additions;
  for (size_t i = 2; i < args.size(); ++i) {
    std::optional<RangeEntry> range = ParseRecords(args[i]);
    if (!range)
      return Fail(err,
                  "add: bad record '" + args[i] + "' (want N or A-B, 0 to 2147483647, A <= B)");
    additions.push_back(*range);
  }
  if (!adding && !FileExists(args[1])) return Fail(err, command + ": no such file: " + args[1]);

  if (adding) {
    RecordLog log(args[1]);
    const RecordRecoveryUtils::AddOutcome added =
        RecordRecoveryUtils::AddToRecordLog(args[1], additions, log);
    if (added.ok) return 0;
    if (added.report.empty()) return Fail(err, "add: " + added.error);
    ShowFailure(added.report, out);
    return 1;
  }
  RecordLog log(args[1]);
  if (!Read(log, args[1], out, err)) return 1;
  if (command == "show") return Show(log, out, err);
  return Missing(log, out, err);
}

}  // namespace RcdTool
