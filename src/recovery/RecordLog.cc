#include "recovery/RecordLog.h"

#include <cerrno>
#include <utility>

#include "base/AtomicFile.h"
#include "base/FolderItem.h"
#include "base/WholeFile.h"
#include "recovery/RangeText.h"

namespace RecordRecoveryUtils {

namespace {

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
  mReadFailure.clear();
  mFailureText.clear();
  mSkipped = SkippedTokens();
  mReadText.reset();
  std::optional<std::string> path = RecordLogPath(mFilename);
  if (!path) {
    mReadFailure = "not a usable file URL";
    mFailureText = "readRCD(): not a usable file URL: " + mFilename;
    return false;
  }
  std::string contents;
  WholeFile::ReadOutcome read = WholeFile::Read(*path, kMaxFileBytes, contents);
  if (read.result == WholeFile::ReadResult::kMissing) {
    mReadText.emplace();
    return true;
  }
  if (!read.Read()) {
    mReadFailure = read.Reason();
    mFailureText = "readRCD(): couldnt read " + *path + " (" + mReadFailure + ")";
    if (read.result == WholeFile::ReadResult::kFailed)
      mFailureText +=
          " LastError:" + std::to_string(static_cast<int>(FolderItem::CodeFromErrno(read.err)));
    return false;
  }
  ParseRangeText(contents, receivedRanges, &mSkipped);
  cleanupRanges();
  mReadText = std::move(contents);
  return true;
}

bool RecordLog::writeRCD() {
  mFailureText.clear();
  cleanupRanges();
  if (receivedRanges.empty()) return true;
  std::optional<std::string> path = RecordLogPath(mFilename);
  if (!path) {
    mFailureText = "writeRCD(): not a usable file URL: " + mFilename;
    return false;
  }
  std::string contents;
  contents.reserve(receivedRanges.size() * 22);
  AppendRangeLines(receivedRanges, contents);
  const std::string target = *path;
  bool& refused = mChangedMeanwhile;
  refused = false;
  // What a person appended while this run worked is merged in, not lost.
  const AtomicFile::LastLook lastLook = [&](std::string& text, bool& changed) -> int32_t {
    std::string now;
    WholeFile::ReadOutcome read = WholeFile::Read(target, kMaxFileBytes, now);
    if (read.result != WholeFile::ReadResult::kRead &&
        read.result != WholeFile::ReadResult::kMissing)
      return 0;  // replaced as planned; what cannot be read is no addition
    if (now == *mReadText) return 0;
    SkippedTokens skipped;
    std::vector<RangeEntry> added;
    ParseRangeText(now, added, &skipped);
    if (skipped.count > 0) {
      refused = true;
      return FolderItem::CodeFromErrno(EAGAIN);
    }
    receivedRanges.insert(receivedRanges.end(), added.begin(), added.end());
    cleanupRanges();
    text.clear();
    AppendRangeLines(receivedRanges, text);
    mReadText = std::move(now);
    changed = true;
    return 0;
  };
  int32_t code = mReadText ? AtomicFile::Replace(target, std::move(contents), lastLook)
                           : AtomicFile::Replace(target, contents);
  if (refused) {
    mFailureText = "writeRCD(): " + target +
                   " was changed meanwhile and now holds a token that is not N or A-B; the "
                   "file is left as it is";
    return false;
  }
  if (code != 0) {
    mFailureText = "writeRCD(): couldnt write " + *path +
                   ", the old file is unchanged LastError:" + std::to_string(code);
    return false;
  }
  return true;
}

}  // namespace RecordRecoveryUtils
