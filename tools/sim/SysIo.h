#pragma once
// Thin helpers over POSIX descriptors for the simulator: an owning descriptor,
// the one place where errno becomes a SimError, and an append-only log file.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/BaseError.h"
#include "base/UniqueFd.h"

// Any failure of the simulator's set-up or I/O. ErrorNumber is 0 or a negative
// code derived from errno (FolderItem::CodeFromErrno).
PELOX5_DECLARE_ERROR(SimError, BaseError);

// Raises SimError with `what` + ": " + the text of errno `err`.
[[noreturn]] void ThrowErrno(const std::string& what, int err);

// Sets O_NONBLOCK on fd; raises SimError on failure.
void SetNonBlocking(int fd);

// A file opened for appending (created 0644 when missing). Each Append goes to
// the OS at once, so readers see every completed call. Not opened when the path
// is empty: Append then does nothing.
class AppendFile {
 public:
  AppendFile() = default;
  // Raises SimError when the file cannot be opened.
  explicit AppendFile(const std::string& path);
  bool IsOpen() const { return mFd.Valid(); }
  // Writes all of data; raises SimError on a write failure.
  void Append(std::string_view data);

 private:
  UniqueFd mFd;
  std::string mPath;
};
