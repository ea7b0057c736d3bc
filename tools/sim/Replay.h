#pragma once
// A recorded session file used as the controller's replies: the bytes up to and
// including each prompt form one recorded reply, the first for the wake-up and
// then one per command in the order the commands came; bytes after the last
// prompt (a reply cut short) form a last reply without a prompt. Replies
// stream from the file, so a session of any size needs no more memory.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ReplySource.h"
#include "SysIo.h"

class ReplayScript {
 public:
  // Opens the session file at `path` and finds every `prompt` in it. Raises
  // SimError when the file cannot be opened or read.
  ReplayScript(const std::string& path, const std::string& prompt);

  size_t Count() const { return mEnds.size(); }
  // Recorded reply `index` (0-based, < Count()), streamed from the file. The
  // script must outlive the source.
  std::unique_ptr<ReplySource> Reply(size_t index) const;

  // "" when recorded reply `index` can be the answer to the command `words`
  // (the command line cut into words, the first in lower case); otherwise what
  // the reply looks like instead. Only what the reply shows is compared: the
  // kind of reply, and for getlog the first record number.
  std::string Mismatch(size_t index, const std::vector<std::string>& words) const;

 private:
  uint64_t Begin(size_t index) const { return index == 0 ? 0 : mEnds[index - 1]; }
  // Up to n bytes from `offset` on, not beyond `end`.
  std::string Read(uint64_t offset, uint64_t end, size_t n) const;
  // What recorded reply `index` shows: its kind, and for records the first
  // record number.
  struct ReplyKind {
    enum Type { kPrompt, kLogs, kGetdata, kRecords, kCut, kOther } type = kOther;
    int64_t firstRecord = 0;
  };
  ReplyKind Describe(size_t index) const;

  std::string mPath;
  std::string mPrompt;
  UniqueFd mFd;
  std::vector<uint64_t> mEnds;  // reply i is the bytes [Begin(i), mEnds[i])
};
