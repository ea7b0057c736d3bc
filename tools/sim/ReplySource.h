#pragma once
// A reply produced piece by piece, so that a reply of any size streams through
// one reusable buffer instead of being held in memory whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "RecordFormat.h"

class ReplySource {
 public:
  virtual ~ReplySource() = default;
  // Appends the next part of the reply to out, stopping once out holds about
  // `budget` bytes (a record in progress is finished first). Returns true while
  // more is to come; false once the reply is complete.
  virtual bool Fill(std::string& out, size_t budget) = 0;
};

// A fixed text.
std::unique_ptr<ReplySource> MakeTextReply(std::string text);

// header, records first..last of `format` (none when first > last), trailer.
// `format` is copied.
std::unique_ptr<ReplySource> MakeRecordsReply(std::string header, const RecordFormat& format,
                                              int64_t first, int64_t last, std::string trailer);

// Printable bytes without any line feed or carriage return, for ever.
std::unique_ptr<ReplySource> MakeEndlessReply();

// The bytes of `inner` replaced one for one by pseudo-random bytes, topped up to
// at least `minimum` bytes. No byte equals `avoid` (the prompt's last byte), so
// the garbage can never end with the prompt.
std::unique_ptr<ReplySource> MakeGarbageReply(std::unique_ptr<ReplySource> inner, char avoid,
                                              size_t minimum);
