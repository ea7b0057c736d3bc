#include "Replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

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

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

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

std::string ReplayScript::Describe(size_t index) const {
  const uint64_t begin = Begin(index), end = mEnds[index];
  const std::string head = Read(begin, end, 256);
  const std::string tail = end - begin > 256 ? Read(end - 64, end, 64) : head;
  // Everything but the prompt is line breaks and blanks: a wake-up's reply, or
  // a getlog that found no records.
  std::string body = EndsWith(head, mPrompt) && end - begin == head.size()
                         ? head.substr(0, head.size() - mPrompt.size())
                         : std::string("x");
  if (std::all_of(body.begin(), body.end(), IsLineBreakOrBlank)) return "prompt";
  if (head.find("Records logged:") != std::string::npos) return "logs";
  if (!EndsWith(tail, mPrompt)) return "cut";
  if (EndsWith(tail, "done\r\n" + mPrompt)) return "getdata";
  size_t at = 0;
  while (at < head.size() && IsLineBreakOrBlank(head[at])) ++at;
  if (at < head.size() && head[at] == 'R') return "record " + head.substr(at + 1, 20);
  return "other";
}

std::string ReplayScript::Mismatch(size_t index, const std::vector<std::string>& words) const {
  const std::string kind = Describe(index);
  const std::string command = words.empty() ? "" : words[0];
  bool fits = true;
  if (command.empty()) {
    fits = index == 0 || kind == "prompt";
  } else if (command == "logs") {
    fits = kind == "logs";
  } else if (command == "getdata") {
    fits = kind != "logs" && kind != "prompt";
  } else if (command == "getlog") {
    fits = kind != "logs" && kind != "getdata";
    int64_t first = 0, recorded = 0;
    if (fits && kind.rfind("record ", 0) == 0 && words.size() > 1) {
      const std::string& want = words[1];
      std::from_chars(want.data(), want.data() + want.size(), first);
      const std::string digits = kind.substr(7);
      std::from_chars(digits.data(), digits.data() + digits.size(), recorded);
      fits = recorded == std::max<int64_t>(first, 1);
    }
  }
  if (fits) return "";
  if (kind == "prompt") return "a prompt alone (a wake-up's reply)";
  if (kind == "logs") return "the reply to logs";
  if (kind == "getdata") return "the reply to getdata";
  if (kind == "cut") return "a reply cut short";
  if (kind.rfind("record ", 0) == 0) {
    const std::string digits = kind.substr(7);
    int64_t recorded = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), recorded);
    return "records from " + std::to_string(recorded);
  }
  return "another reply";
}
