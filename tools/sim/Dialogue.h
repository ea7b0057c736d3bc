#pragma once
// The controller's side of the dialogue: command lines in, replies out.
// LineAssembler cuts the input into command lines; Dialogue answers one line.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "RecordFormat.h"
#include "ReplySource.h"
#include "SimOptions.h"

// Cuts a byte stream into lines ended by CR, LF or CR LF (the LF of a CR LF
// ends nothing more). A line longer than maxLine keeps its first maxLine bytes.
class LineAssembler {
 public:
  explicit LineAssembler(size_t maxLine = 4096) : mMaxLine(maxLine) {}
  // Appends every line that `data` completes to `lines`, without its terminator.
  void Feed(std::string_view data, std::vector<std::string>& lines);
  void Reset();

 private:
  size_t mMaxLine;
  std::string mLine;
  bool mAfterCr = false;
};

class Dialogue {
 public:
  // Keeps a reference to options, which must outlive the Dialogue.
  explicit Dialogue(const SimOptions& options);

  struct Answer {
    std::unique_ptr<ReplySource> reply;  // none for "quit"
    bool quit = false;
  };
  // The answer to one command line (without its terminator). Case and blanks
  // around words do not matter.
  Answer Respond(std::string_view line);

  // Starts a new connection: the count of getdata replies without "done"
  // restarts, and a replay starts again from its first recorded reply.
  void Reset() {
    mGetdataCount = 0;
    mCommandCount = 0;
    mReplayNext = 0;
  }

 private:
  std::unique_ptr<ReplySource> Text(std::string text) const;
  std::unique_ptr<ReplySource> Shaped(std::unique_ptr<ReplySource> reply) const;
  std::unique_ptr<ReplySource> GetData(const std::vector<std::string>& words);
  std::unique_ptr<ReplySource> GetLog(const std::vector<std::string>& words) const;
  // With --replay: the next recorded reply; differences go to standard error.
  Answer Replayed(std::string_view line, const std::vector<std::string>& words);

  const SimOptions& mOptions;
  RecordFormat mFormat;
  std::string mPrompt;
  int64_t mGetdataCount = 0;
  int64_t mCommandCount = 0;
  size_t mReplayNext = 0;
};
