#include "recovery/RecordLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "base/AtomicFile.h"
#include "base/FolderItem.h"
#include "base/UniqueFd.h"
#include "recovery/RangeText.h"

namespace RecordRecoveryUtils {

namespace {

enum class ReadOutcome { kRead, kMissing, kFailed };

// Reads the whole file at `path` into `contents` in as few reads as its size
// allows. On kFailed, `err` holds the errno.
ReadOutcome ReadWholeFile(const std::string& path, std::string& contents, int& err) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    err = errno;
    return (err == ENOENT || err == ENOTDIR) ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    err = errno;
    return ReadOutcome::kFailed;
  }
  contents.clear();
  size_t size = 0;
  contents.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096);
  for (;;) {
    if (size == contents.size()) contents.resize(contents.size() * 2);
    ssize_t n = ::read(fd.Get(), contents.data() + size, contents.size() - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      contents.clear();
      return ReadOutcome::kFailed;
    }
    if (n == 0) break;
    size += static_cast<size_t>(n);
  }
  contents.resize(size);
  return ReadOutcome::kRead;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

RecordLog::RecordLog(std::string path) : mFilename(std::move(path)) {}

std::optional<std::string> RecordLogPath(const std::string& name) {
  if (name.find("file:") == std::string::npos) return name;
  const std::string scheme = "file://";
  if (name.compare(0, scheme.size(), scheme) != 0 || name.size() <= scheme.size() ||
      name[scheme.size()] != '/')
    return std::nullopt;
  std::string path;
  path.reserve(name.size() - scheme.size());
  for (size_t i = scheme.size(); i < name.size(); ++i) {
    if (name[i] != '%') {
      path.push_back(name[i]);
      continue;
    }
    int high = i + 2 < name.size() ? HexValue(name[i + 1]) : -1;
    int low = i + 2 < name.size() ? HexValue(name[i + 2]) : -1;
    if (high < 0 || low < 0) return std::nullopt;
    char decoded = static_cast<char>(high * 16 + low);
    if (decoded == '\0') return std::nullopt;
    path.push_back(decoded);
    i += 2;
  }
  return path;
}

bool RecordLog::readRCD() {
  receivedRanges.clear();
  missingRanges.clear();
  std::optional<std::string> path = RecordLogPath(mFilename);
  if (!path) {
    std::printf("readRCD(): not a usable file URL: %s\n", mFilename.c_str());
    std::fflush(stdout);
    return false;
  }
  std::string contents;
  int err = 0;
  switch (ReadWholeFile(*path, contents, err)) {
    case ReadOutcome::kMissing:
      return true;
    case ReadOutcome::kFailed:
      std::printf("readRCD(): couldnt read %s LastError:%d\n", path->c_str(),
                  static_cast<int>(FolderItem::CodeFromErrno(err)));
      std::fflush(stdout);
      return false;
    case ReadOutcome::kRead:
      break;
  }
  ParseRangeText(contents, receivedRanges);
  cleanupRanges();
  return true;
}

bool RecordLog::writeRCD() {
  cleanupRanges();
  if (receivedRanges.empty()) return true;
  std::optional<std::string> path = RecordLogPath(mFilename);
  if (!path) {
    std::printf("writeRCD(): not a usable file URL: %s\n", mFilename.c_str());
    std::fflush(stdout);
    return false;
  }
  std::string contents;
  contents.reserve(receivedRanges.size() * 22);
  AppendRangeLines(receivedRanges, contents);
  int32_t code = AtomicFile::Replace(*path, contents);
  if (code != 0) {
    std::printf("writeRCD(): couldnt write %s, the old file is unchanged LastError:%d\n",
                path->c_str(), static_cast<int>(code));
    std::fflush(stdout);
    return false;
  }
  return true;
}

}  // namespace RecordRecoveryUtils
