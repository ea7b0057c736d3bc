#include "app/RunJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "base/UniqueFd.h"

namespace RunJournal {

std::string IsoTime(std::time_t t) {
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) return "";
  const long offset = local.tm_gmtoff / 60;  // minutes east of UTC
  char text[48];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                        std::labs(offset) % 60);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : "";
}

std::string Line(const RunRecord& r) {
  auto orNull = [](const auto& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  };
  nlohmann::ordered_json line;
  line["deployment"] = r.deployment;
  line["start"] = IsoTime(r.start);
  line["end"] = IsoTime(r.end);
  line["duration_s"] = std::round(r.durationSeconds * 1000.0) / 1000.0;
  line["status"] = r.status;
  line["outcome"] = r.outcome;
  line["fatal"] = orNull(r.fatal);
  line["session"] = orNull(r.session);
  line["session_bytes"] = r.sessionBytes;
  line["port"] = orNull(r.port);
  line["version"] = r.version;
  line["records_logged"] = orNull(r.recordsLogged);
  line["next_download"] = orNull(r.nextDownload);
  line["getdata_requests"] = r.getdataRequests;
  line["getlog_requests"] = r.getlogRequests;
  line["records_requested"] = r.recordsRequested;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int Append(const std::string& path, const std::string& line) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.Valid()) return errno;
  ssize_t n;
  do {
    n = ::write(fd.Get(), line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  // A second write could land after another run's line: a short one is an error.
  if (static_cast<size_t>(n) != line.size()) return ENOSPC;
  return fd.Close() != 0 ? errno : 0;
}

}  // namespace RunJournal
