#pragma once
// A FIFO of bytes for receive and send buffers. Appending and taking from the
// front are amortised linear: taken bytes are only skipped, and the live bytes
// move to the front only when the space is needed again.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace PortSourceUtils::Posix {

class ByteQueue {
 public:
  size_t Size() const { return mTail - mHead; }
  bool Empty() const { return mTail == mHead; }
  std::string_view View() const { return {mData.get() + mHead, Size()}; }

  void Append(std::string_view bytes);
  // Room for at least `count` more bytes at the back; fill it, then Commit.
  char* Reserve(size_t count);
  void Commit(size_t count) { mTail += count; }

  // Removes and returns up to `count` bytes from the front.
  std::string Take(size_t count);
  void Drop(size_t count);
  void Clear() { mHead = mTail = 0; }

 private:
  std::unique_ptr<char[]> mData;
  size_t mCapacity = 0;
  size_t mHead = 0;
  size_t mTail = 0;
};

}  // namespace PortSourceUtils::Posix
