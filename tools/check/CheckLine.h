#pragma once
// One line of a pelox5-check report: a mark, what was checked, what was found
// and, where something is wrong, the fix (a command or the setting to change).

#include <string>
#include <vector>

namespace SiteCheck {

enum class Mark { kOk, kWarning, kFailed };

struct CheckLine {
  Mark mark = Mark::kOk;
  std::string what;    // e.g. "deployment.cfg", "serial device"
  std::string detail;  // what was found; for a failure the cause in plain words
  std::string fix;     // "" when nothing is to be done
};

// The lines of one deployment, in the order a run needs what they check.
class CheckList {
 public:
  void Ok(const std::string& what, const std::string& detail) { Add(Mark::kOk, what, detail, ""); }
  void Warn(const std::string& what, const std::string& detail, const std::string& fix = "") {
    Add(Mark::kWarning, what, detail, fix);
  }
  void Fail(const std::string& what, const std::string& detail, const std::string& fix = "") {
    Add(Mark::kFailed, what, detail, fix);
  }
  void Add(Mark mark, const std::string& what, const std::string& detail, const std::string& fix) {
    lines.push_back({mark, what, detail, fix});
  }
  bool Failed() const {
    for (const CheckLine& line : lines)
      if (line.mark == Mark::kFailed) return true;
    return false;
  }

  std::string deployment;  // the name as given (-d) or as found (-a)
  std::vector<CheckLine> lines;
};

// "ok", "warning", "failed".
const char* MarkName(Mark mark);

}  // namespace SiteCheck
