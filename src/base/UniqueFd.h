#pragma once
// Owns one file descriptor and closes it when destroyed or reset. Close errors
// are not reported here: callers that must know (a file being stored) close
// explicitly with Close() and check the result.

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : mFd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : mFd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return mFd; }
  bool Valid() const { return mFd >= 0; }
  // Gives up ownership without closing.
  int Release();
  // Closes the descriptor held, if any, and takes `fd`.
  void Reset(int fd = -1);
  // Closes the descriptor held; returns close()'s result (0, or -1 with errno).
  int Close();

 private:
  int mFd = -1;
};
