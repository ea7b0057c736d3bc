#include "Replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "base/DialogueWords.h"

namespace {

constexpr size_t kScanBlock = 1 << 20;

// Streams the bytes [begin, end) of a file descriptor that someone else owns.
class FileRangeReply : public ReplySource {
 public:
  FileRangeReply(int fd, std::string path, uint64_t begin, uint64_t end)
      : mFd(fd), mPath(std::move(path)), mNext(begin), mEnd(end) {}

  bool Fill(std::string& out, size_t budget) override {
    while (mNext < mEnd && out.size() < budget) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(mEnd - mNext, budget));
      const size_t at = out.size();
      out.resize(at + want);
      ssize_t n = ::pread(mFd, out.data() + at, want, static_cast<off_t>(mNext));
      out.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ThrowErrno("cannot read " + mPath, errno);
      // The file shrank since it was scanned: the rest of the reply is gone.
      if (n == 0) mNext = mEnd;
      mNext += static_cast<uint64_t>(n);
    }
    return mNext < mEnd;
  }

 private:
  int mFd;
  std::string mPath;
  uint64_t mNext, mEnd;
};

bool IsLineBreakOrBlank(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

}  // namespace

ReplayScript::ReplayScript(const std::string& path, const std::string& prompt)
    : mPath(path), mPrompt(prompt) {
  mFd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!mFd.Valid()) ThrowErrno("cannot open " + path, errno);
  struct stat st {};
  if (::fstat(mFd.Get(), &st) != 0) ThrowErrno("cannot read " + path, errno);
  if (!S_ISREG(st.st_mode)) throw SimError(path + " is not a regular file");

  // Finds every prompt, also one that straddles two blocks; matches do not overlap.
  std::string buffer;
  uint64_t bufferStart = 0, offset = 0;
  size_t from = 0;
  std::string block(kScanBlock, '\0');
  for (;;) {
    ssize_t n = ::pread(mFd.Get(), block.data(), block.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowErrno("cannot read " + path, errno);
    if (n == 0) break;
    offset += static_cast<uint64_t>(n);
    buffer.append(block, 0, static_cast<size_t>(n));
    for (size_t at = buffer.find(mPrompt, from); at != std::string::npos;
         at = buffer.find(mPrompt, from)) {
      from = at + mPrompt.size();
      mEnds.push_back(bufferStart + from);
    }
    const size_t keep = buffer.size() >= mPrompt.size() ? buffer.size() - mPrompt.size() + 1 : 0;
    const size_t drop = std::max(from, keep);
    buffer.erase(0, drop);
    bufferStart += drop;
    from = 0;
  }
  if (offset > Begin(mEnds.size())) mEnds.push_back(offset);
}

std::unique_ptr<ReplySource> ReplayScript::Reply(size_t index) const {
  return std::make_unique<FileRangeReply>(mFd.Get(), mPath, Begin(index), mEnds[index]);
}

std::string ReplayScript::Read(uint64_t offset, uint64_t end, size_t n) const {
  std::string text(static_cast<size_t>(std::min<uint64_t>(n, end - offset)), '\0');
  ssize_t got;
  do {
    got = ::pread(mFd.Get(), text.data(), text.size(), static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) ThrowErrno("cannot read " + mPath, errno);
  text.resize(static_cast<size_t>(got));
  return text;
}

ReplayScript::ReplyKind ReplayScript::Describe(size_t index) const {
  const uint64_t begin = Begin(index), end = mEnds[index];
  const std::string head = Read(begin, end, 256);
  const std::string tail = end - begin > 256 ? Read(end - 64, end, 64) : head;
  // Everything but the prompt is line breaks and blanks: a wake-up's reply, or
  // a getlog that found no records.
  const bool whole = head.ends_with(mPrompt) && end - begin == head.size();
  if (whole && std::all_of(head.begin(), head.end() - static_cast<ptrdiff_t>(mPrompt.size()),
                           IsLineBreakOrBlank))
    return {ReplyKind::kPrompt};
  if (head.find(DialogueWords::kRecordsLogged) != std::string::npos) return {ReplyKind::kLogs};
  if (!tail.ends_with(mPrompt)) return {ReplyKind::kCut};
  if (tail.ends_with(DialogueWords::kDone + ("\r\n" + mPrompt))) return {ReplyKind::kGetdata};
  size_t at = 0;
  while (at < head.size() && IsLineBreakOrBlank(head[at])) ++at;
  if (at >= head.size() || head[at] != 'R') return {ReplyKind::kOther};
  ReplyKind records{ReplyKind::kRecords};
  const char* digits = head.data() + at + 1;
  std::from_chars(digits, digits + std::min<size_t>(20, head.size() - at - 1), records.firstRecord);
  return records;
}

std::string ReplayScript::Mismatch(size_t index, const std::vector<std::string>& words) const {
  const ReplyKind kind = Describe(index);
  const std::string command = words.empty() ? "" : words[0];
  bool fits = true;
  if (command.empty()) {
    fits = index == 0 || kind.type == ReplyKind::kPrompt;
  } else if (command == DialogueWords::kLogs) {
    fits = kind.type == ReplyKind::kLogs;
  } else if (command == DialogueWords::kGetData) {
    fits = kind.type != ReplyKind::kLogs && kind.type != ReplyKind::kPrompt;
  } else if (command == DialogueWords::kGetLog) {
    fits = kind.type != ReplyKind::kLogs && kind.type != ReplyKind::kGetdata;
    if (fits && kind.type == ReplyKind::kRecords && words.size() > 1) {
      int64_t first = 0;
      std::from_chars(words[1].data(), words[1].data() + words[1].size(), first);
      fits = kind.firstRecord == std::max<int64_t>(first, 1);
    }
  }
  if (fits) return "";
  switch (kind.type) {
    case ReplyKind::kPrompt:
      return "a prompt alone (a wake-up's reply)";
    case ReplyKind::kLogs:
      return "the reply to logs";
    case ReplyKind::kGetdata:
      return "the reply to getdata";
    case ReplyKind::kCut:
      return "a reply cut short";
    case ReplyKind::kRecords:
      return "records from " + std::to_string(kind.firstRecord);
    case ReplyKind::kOther:
      break;
  }
  return "another reply";
}
