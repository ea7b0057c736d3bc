#include "app/RunJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/UniqueFd.h"
#include "base/WriteAll.h"

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
  namespace Key = RunJournalFormat::Key;
  auto orNull = [](const auto& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  };
  nlohmann::ordered_json line;
  line[Key::kDeployment] = r.deployment;
  line[Key::kStart] = IsoTime(r.start);
  line[Key::kEnd] = IsoTime(r.end);
  line[Key::kDuration] = std::round(r.durationSeconds * 1000.0) / 1000.0;
  line[Key::kStatus] = r.status;
  line[Key::kOutcome] = r.outcome;
  line[Key::kFatal] = orNull(r.fatal);
  line[Key::kSession] = orNull(r.session);
  line[Key::kSessionBytes] = r.sessionBytes;
  line[Key::kPort] = orNull(r.port);
  line[Key::kVersion] = r.version;
  line[Key::kRecordsLogged] = orNull(r.recordsLogged);
  line[Key::kNextDownload] = orNull(r.nextDownload);
  line[Key::kGetdataRequests] = r.getdataRequests;
  line[Key::kGetlogRequests] = r.getlogRequests;
  line[Key::kRecordsRequested] = r.recordsRequested;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

namespace {

// Runs of one deployment append side by side: each holds the lock for one
// append. A holder that never lets go (a stopped process) costs this wait only.
constexpr int kLockWaitMs = 5000;

int LockForAppend(int fd) {
  for (int waited = 0;; waited += 10) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK && errno != EINTR) return errno;
    if (waited >= kLockWaitMs) return EWOULDBLOCK;
    ::usleep(10 * 1000);
  }
}

}  // namespace

int Append(const std::string& path, const std::string& line) {
  // Looked at before the open, since opening a device can have effects of its
  // own; O_NONBLOCK for a name swapped for a FIFO meanwhile, which would
  // otherwise block the open until something reads it.
  struct stat before {};
  if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
    return S_ISDIR(before.st_mode) ? EISDIR : kNotRegular;
  UniqueFd fd(::open(path.c_str(),
                     O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644));
  if (!fd.Valid()) return errno == ENXIO ? kNotRegular : errno;
  if (::fstat(fd.Get(), &before) != 0) return errno;
  if (!S_ISREG(before.st_mode)) return kNotRegular;
  if (int err = LockForAppend(fd.Get()); err != 0) return err;
  if (::fstat(fd.Get(), &before) != 0) return errno;
  // A line written in part (a full disk, a file-size limit) is cut off again,
  // so the journal only ever holds whole lines.
  if (int err = WriteAll(fd.Get(), line); err != 0) {
    if (::ftruncate(fd.Get(), before.st_size) != 0) return errno;
    return err;
  }
  return fd.Close() != 0 ? errno : 0;
}

std::string FailureText(int err) {
  if (err == kNotRegular) return "not a regular file (a FIFO or device); nothing written";
  return std::strerror(err);
}

}  // namespace RunJournal
