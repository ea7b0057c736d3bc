#include "recovery/RecordLogLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/AtomicFile.h"
#include "base/Clock.h"

namespace RecordRecoveryUtils {

std::optional<FolderLock> FolderLock::Take(const std::string& path,
                                           std::chrono::milliseconds patience, std::string& error) {
  std::string file = path;
  AtomicFile::FollowLinks(file);  // a loop of links fails later, at the read
  const std::string folder = AtomicFile::FolderOf(file);
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) {
    error = "cannot lock the folder " + folder + ": " + std::strerror(errno);
    return std::nullopt;
  }
  Clock& clock = Clock::Get();
  const int64_t deadline = clock.MonotonicMs() + patience.count();
  for (;;) {
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) return FolderLock(std::move(fd));
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = "cannot lock the folder " + folder + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (clock.MonotonicMs() >= deadline) {
      error = "the folder " + folder + " stays locked by another writer";
      return std::nullopt;
    }
    clock.SleepMs(10);
  }
}

}  // namespace RecordRecoveryUtils
