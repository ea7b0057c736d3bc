#pragma once
// Reading a whole file that users keep (preferences, deployment.cfg, record
// recovery files) into memory, bounded and without blocking: only regular
// files are read, so a path that names a FIFO, a device or a folder is refused
// before it is opened, and a file above the caller's limit is refused rather
// than read, so a wrong path cannot hang the process or exhaust its memory.

#include <cstddef>
#include <string>

namespace WholeFile {

// The limit for settings files (preferences, deployment.cfg): far above any
// real one, low enough that a mistaken file cannot exhaust memory.
constexpr size_t kSettingsLimit = size_t{1} << 20;

enum class ReadResult { kRead, kMissing, kNotRegular, kTooLarge, kFailed };

struct ReadOutcome {
  ReadResult result = ReadResult::kFailed;
  int err = 0;       // the errno behind kFailed, else 0
  size_t limit = 0;  // the limit the read was given

  bool Read() const { return result == ReadResult::kRead; }
  // Why the file was not read, in plain English: "no such file", "not a
  // regular file", "larger than 1048576 bytes", or the errno's text ("" for kRead).
  std::string Reason() const;
};

// Reads the whole file at `path` (symbolic links followed) into `text`, which
// changes only on kRead. kMissing when nothing is there; kNotRegular for a
// folder, FIFO, socket or device, which is never opened; kTooLarge when the
// file holds more than `limit` bytes (also when it grows past the limit while
// being read); kFailed, with `err`, when it cannot be opened or read (a path
// holding a NUL byte gives EINVAL).
ReadOutcome Read(const std::string& path, size_t limit, std::string& text);

}  // namespace WholeFile
