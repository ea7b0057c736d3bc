#pragma once
// The raw session file: created exclusively (an existing file is never
// overwritten), appended to with a user-space buffer, and flushed to disk on close.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/UniqueFd.h"

class SessionFile {
 public:
  // Result of Create: 0, or the errno of the failed open (EEXIST when the name is taken).
  static int Create(const std::string& path, SessionFile& out);

  SessionFile() = default;
  ~SessionFile();
  SessionFile(const SessionFile&) = delete;
  SessionFile& operator=(const SessionFile&) = delete;

  bool IsOpen() const { return mFd.Valid(); }
  // Appends bytes unchanged. Returns false (and keeps the error) when the OS
  // refuses them (disk full, file-size limit, I/O error).
  bool Append(std::string_view bytes);
  // Writes out the buffer. Returns false on an error.
  bool Flush();
  // Flushes, syncs to disk and closes. Returns false on any error; the file is
  // closed either way.
  bool Close();
  // Text of the first error met, "" when none.
  const std::string& ErrorText() const { return mError; }
  uint64_t BytesWritten() const { return mBytes; }

 private:
  bool Fail(int err);

  UniqueFd mFd;
  std::string mBuffer;
  std::string mError;
  uint64_t mBytes = 0;
};
