#pragma once
// The raw session file: created exclusively (an existing file is never
// overwritten). Every chunk handed to Append goes to the file with write() at
// once, so a process that is killed loses nothing it had received; Close syncs
// it to disk.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/UniqueFd.h"

class SessionFile {
 public:
  // Result of Create: 0, or the errno of the failed open (EEXIST when the name is taken).
  static int Create(const std::string& path, SessionFile& out);

  SessionFile() = default;
  SessionFile(const SessionFile&) = delete;
  SessionFile& operator=(const SessionFile&) = delete;

  bool IsOpen() const { return mFd.Valid(); }
  // Writes bytes unchanged. Returns false (and keeps the error) when the OS
  // refuses them (disk full, file-size limit, I/O error); later calls then fail too.
  bool Append(std::string_view bytes);
  // Syncs to disk and closes. Returns false on any error; the file is closed either way.
  bool Close();
  // Text of the first error met, "" when none.
  const std::string& ErrorText() const { return mError; }
  uint64_t BytesWritten() const { return mBytes; }

 private:
  bool Fail(int err);

  UniqueFd mFd;
  std::string mError;
  uint64_t mBytes = 0;
};
