#pragma once
// errno to the port subsystem's error codes, and an owned file descriptor.

#include <cstdint>

namespace PortSourceUtils::Posix {

// 0 for 0, otherwise -|err|: the codes of the port subsystem are never positive.
int32_t CodeFromErrno(int err);

// Owns one file descriptor and closes it on destruction or Reset.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : mFd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : mFd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;

  int Get() const { return mFd; }
  bool Valid() const { return mFd >= 0; }
  int Release();
  // Closes the descriptor held, if any, and takes `fd`.
  void Reset(int fd = -1);

 private:
  int mFd = -1;
};

}  // namespace PortSourceUtils::Posix
