#include "ports/posix/ByteQueue.h"

#include <algorithm>
#include <cstring>

namespace PortSourceUtils::Posix {

char* ByteQueue::Reserve(size_t count) {
  if (mCapacity - mTail >= count) return mData.get() + mTail;
  size_t live = Size();
  if (mHead > 0 && mCapacity - live >= count && live <= mCapacity / 2) {
    std::memmove(mData.get(), mData.get() + mHead, live);
  } else {
    size_t capacity = std::max({mCapacity * 2, live + count, size_t{4096}});
    auto data = std::make_unique<char[]>(capacity);
    if (live > 0) std::memcpy(data.get(), mData.get() + mHead, live);
    mData = std::move(data);
    mCapacity = capacity;
  }
  mHead = 0;
  mTail = live;
  return mData.get() + mTail;
}

void ByteQueue::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  std::memcpy(Reserve(bytes.size()), bytes.data(), bytes.size());
  Commit(bytes.size());
}

std::string ByteQueue::Take(size_t count) {
  count = std::min(count, Size());
  std::string out(mData.get() + mHead, count);
  Drop(count);
  return out;
}

void ByteQueue::Drop(size_t count) {
  mHead += std::min(count, Size());
  if (mHead == mTail) mHead = mTail = 0;
}

}  // namespace PortSourceUtils::Posix
