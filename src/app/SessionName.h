#pragma once
// The name of a raw session file: "raw." + deployment + "." + year and day of the
// year + "." + hour, minute and second, e.g. raw.SITE1.2026341.095922.

#include <ctime>
#include <string>

namespace SessionName {

// `deployment` has its surrounding blanks removed; `local` is a local time.
std::string Format(const std::string& deployment, const std::tm& local);

}  // namespace SessionName
