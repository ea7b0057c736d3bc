#include "ReplySource.h"

#include <utility>

namespace {

class TextReply : public ReplySource {
 public:
  explicit TextReply(std::string text) : mText(std::move(text)) {}
  bool Fill(std::string& out, size_t) override {
    out += mText;
    return false;
  }

 private:
  std::string mText;
};

class RecordsReply : public ReplySource {
 public:
  RecordsReply(std::string header, const RecordFormat& format, int64_t first, int64_t last,
               std::string trailer)
      : mHeader(std::move(header)),
        mFormat(format),
        mNext(first),
        mLast(last),
        mTrailer(std::move(trailer)) {}

  bool Fill(std::string& out, size_t budget) override {
    if (!mHeaderSent) {
      out += mHeader;
      mHeaderSent = true;
    }
    while (mNext <= mLast) {
      if (out.size() >= budget) return true;
      mFormat.Append(mNext++, out);
    }
    out += mTrailer;
    return false;
  }

 private:
  std::string mHeader;
  RecordFormat mFormat;
  bool mHeaderSent = false;
  int64_t mNext;
  int64_t mLast;
  std::string mTrailer;
};

class EndlessReply : public ReplySource {
 public:
  EndlessReply() {
    static constexpr char kPattern[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ,";
    for (size_t i = 0; i < 4096; ++i) mBlock += kPattern[i % (sizeof kPattern - 1)];
  }
  bool Fill(std::string& out, size_t budget) override {
    do {
      out += mBlock;
    } while (out.size() < budget);
    return true;
  }

 private:
  std::string mBlock;
};

class GarbageReply : public ReplySource {
 public:
  GarbageReply(std::unique_ptr<ReplySource> inner, char avoid, size_t minimum)
      : mInner(std::move(inner)), mAvoid(avoid), mMinimum(minimum) {}

  bool Fill(std::string& out, size_t budget) override {
    size_t start = out.size();
    bool more = mInner && mInner->Fill(out, budget);
    if (!more) mInner.reset();
    for (size_t i = start; i < out.size(); ++i) out[i] = NextByte();
    mProduced += out.size() - start;
    if (more) return true;
    while (mProduced < mMinimum) {
      out += NextByte();
      ++mProduced;
    }
    return false;
  }

 private:
  char NextByte() {
    mState = mState * 6364136223846793005ULL + 1442695040888963407ULL;
    char c = static_cast<char>(mState >> 56);
    return c == mAvoid ? static_cast<char>(c ^ 1) : c;
  }

  std::unique_ptr<ReplySource> mInner;
  char mAvoid;
  size_t mMinimum;
  size_t mProduced = 0;
  uint64_t mState = 0x5eed;
};

}  // namespace

std::unique_ptr<ReplySource> MakeTextReply(std::string text) {
  return std::make_unique<TextReply>(std::move(text));
}

std::unique_ptr<ReplySource> MakeRecordsReply(std::string header, const RecordFormat& format,
                                              int64_t first, int64_t last, std::string trailer) {
  return std::make_unique<RecordsReply>(std::move(header), format, first, last, std::move(trailer));
}

std::unique_ptr<ReplySource> MakeEndlessReply() { return std::make_unique<EndlessReply>(); }

std::unique_ptr<ReplySource> MakeGarbageReply(std::unique_ptr<ReplySource> inner, char avoid,
                                              size_t minimum) {
  return std::make_unique<GarbageReply>(std::move(inner), avoid, minimum);
}
