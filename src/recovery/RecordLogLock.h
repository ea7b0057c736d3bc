#pragma once
// Keeps two writers of one record recovery file apart: an exclusive flock on
// the folder that holds the file (links followed). The file itself cannot
// carry the lock, because each write replaces it with a new file.

#include <chrono>
#include <optional>
#include <string>

#include "base/UniqueFd.h"

namespace RecordRecoveryUtils {

class FolderLock {
 public:
  // Locks the folder of the file that `path` names, waiting up to `patience`
  // for another holder to finish. None, with `error` set, when the folder cannot
  // be opened or stays locked. The lock lasts as long as the object.
  static std::optional<FolderLock> Take(const std::string& path, std::chrono::milliseconds patience,
                                        std::string& error);

 private:
  explicit FolderLock(UniqueFd fd) : mFd(std::move(fd)) {}
  UniqueFd mFd;
};

}  // namespace RecordRecoveryUtils
