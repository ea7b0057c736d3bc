#include "base/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/UniqueFd.h"

namespace WholeFile {

namespace {

ReadOutcome Outcome(ReadResult result, size_t limit, int err = 0) {
  return ReadOutcome{result, err, limit};
}

}  // namespace

std::string ReadOutcome::Reason() const {
  switch (result) {
    case ReadResult::kRead:
      return "";
    case ReadResult::kMissing:
      return "no such file";
    case ReadResult::kNotRegular:
      return "not a regular file";
    case ReadResult::kTooLarge:
      return "larger than " + std::to_string(limit) + " bytes";
    case ReadResult::kFailed:
      break;
  }
  return std::strerror(err);
}

ReadOutcome Read(const std::string& path, size_t limit, std::string& text) {
  if (path.empty() || path.find('\0') != std::string::npos)
    return Outcome(ReadResult::kFailed, limit, path.empty() ? ENOENT : EINVAL);
  // Look before opening: opening a device can have effects of its own (a serial
  // line raises its modem lines), and a FIFO without a writer would block.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Outcome(ReadResult::kMissing, limit);
    return Outcome(ReadResult::kFailed, limit, err);
  }
  if (!S_ISREG(st.st_mode)) return Outcome(ReadResult::kNotRegular, limit);
  if (static_cast<unsigned long long>(st.st_size) > limit)
    return Outcome(ReadResult::kTooLarge, limit);

  // O_NONBLOCK: the name may have been swapped for a FIFO since the look.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.Valid()) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Outcome(ReadResult::kMissing, limit);
    return Outcome(ReadResult::kFailed, limit, err);
  }
  if (::fstat(fd.Get(), &st) != 0) return Outcome(ReadResult::kFailed, limit, errno);
  if (!S_ISREG(st.st_mode)) return Outcome(ReadResult::kNotRegular, limit);

  // Room for one byte beyond the limit tells a file that grew past it.
  std::string contents;
  const size_t want =
      static_cast<size_t>(st.st_size) < limit ? static_cast<size_t>(st.st_size) : limit;
  contents.resize(want + 1);
  size_t size = 0;
  for (;;) {
    if (size == contents.size()) {
      if (size > limit) break;
      contents.resize(size + 1 + std::min(size, limit - size));
    }
    ssize_t n = ::read(fd.Get(), contents.data() + size, contents.size() - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Outcome(ReadResult::kFailed, limit, errno);
    }
    if (n == 0) break;
    size += static_cast<size_t>(n);
  }
  if (size > limit) return Outcome(ReadResult::kTooLarge, limit);
  contents.resize(size);
  text = std::move(contents);
  return Outcome(ReadResult::kRead, limit);
}

}  // namespace WholeFile
