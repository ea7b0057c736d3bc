#include "Dialogue.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "Replay.h"
#include "base/AsciiText.h"
#include "base/DialogueWords.h"
#include "base/WriteAll.h"

namespace {

constexpr char kCrLf[] = "\r\n";
constexpr size_t kGarbageMinimum = 32;

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

// A count or record number: decimal digits only, no sign; false when malformed
// or beyond int64.
bool ParseCount(const std::string& text, int64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end && value >= 0;
}

}  // namespace

void LineAssembler::Feed(std::string_view data, std::vector<std::string>& lines) {
  for (char c : data) {
    if (c == '\r' || c == '\n') {
      bool lfOfCrLf = c == '\n' && mAfterCr;
      mAfterCr = c == '\r';
      if (lfOfCrLf) continue;
      lines.push_back(std::move(mLine));
      mLine.clear();
      continue;
    }
    mAfterCr = false;
    if (mLine.size() < mMaxLine) mLine += c;
  }
}

void LineAssembler::Reset() {
  mLine.clear();
  mAfterCr = false;
}

Dialogue::Dialogue(const SimOptions& options)
    : mOptions(options),
      mFormat(static_cast<size_t>(options.recordSize)),
      // Garbage replaces a reply byte for byte but never shows the prompt.
      mPrompt(options.noPrompt || options.garbage ? "" : options.prompt) {}

Dialogue::Answer Dialogue::Respond(std::string_view line) {
  std::vector<std::string> words = Words(line);
  Answer answer;
  if (words.empty()) {
    if (mOptions.replay) return Replayed(line, words);
    answer.reply = Shaped(Text(""));
    return answer;
  }
  std::string command = AsciiText::Lower(words[0]);
  if (mOptions.replay) {
    words[0] = command;
    return Replayed(line, words);
  }
  if (command == DialogueWords::kQuit && words.size() == 1) {
    answer.quit = true;
  } else if (command == DialogueWords::kLogs && words.size() == 1) {
    answer.reply =
        Shaped(Text(std::string(DialogueWords::kRecordsLogged) + " " +
                    std::to_string(mOptions.records) + kCrLf + DialogueWords::kNextDownload + " " +
                    std::to_string(mOptions.NextRecord()) + kCrLf));
  } else if (command == DialogueWords::kGetData) {
    answer.reply = Shaped(GetData(words));
  } else if (command == DialogueWords::kGetLog) {
    answer.reply = Shaped(GetLog(words));
  } else {
    answer.reply = Shaped(Text(std::string(DialogueWords::kError) + " unknown command\r\n"));
  }
  return answer;
}

// Every reply starts with CR LF, then its lines, then the prompt.
std::unique_ptr<ReplySource> Dialogue::Text(std::string text) const {
  return MakeTextReply(kCrLf + text + mPrompt);
}

std::unique_ptr<ReplySource> Dialogue::Shaped(std::unique_ptr<ReplySource> reply) const {
  if (!mOptions.garbage) return reply;
  return MakeGarbageReply(std::move(reply), mOptions.prompt.back(), kGarbageMinimum);
}

std::unique_ptr<ReplySource> Dialogue::GetData(const std::vector<std::string>& words) {
  int64_t count = 0;
  if (words.size() != 2 || !ParseCount(words[1], count)) {
    return Text(std::string(DialogueWords::kError) + " usage: getdata COUNT\r\n");
  }
  if (mOptions.noNewlines) return MakeEndlessReply();
  ++mGetdataCount;
  bool withDone = mOptions.noDone >= 0 && mGetdataCount > mOptions.noDone;
  const int64_t last = mOptions.records;
  const int64_t first = count >= last ? 1 : last - count + 1;
  return MakeRecordsReply(kCrLf, mFormat, first, last,
                          (withDone ? std::string(DialogueWords::kDone) + "\r\n" : "") + mPrompt);
}

std::unique_ptr<ReplySource> Dialogue::GetLog(const std::vector<std::string>& words) const {
  int64_t from = 0, count = 0;
  if (words.size() != 3 || !ParseCount(words[1], from) || !ParseCount(words[2], count)) {
    return Text(std::string(DialogueWords::kError) + " usage: getlog FIRST COUNT\r\n");
  }
  const int64_t records = mOptions.records;
  if (count == 0 || from > records) return MakeRecordsReply(kCrLf, mFormat, 1, 0, mPrompt);
  // Written so that no sum can overflow: from <= records here.
  const int64_t last = count - 1 > records - from ? records : from + count - 1;
  return MakeRecordsReply(kCrLf, mFormat, std::max<int64_t>(from, 1), last, mPrompt);
}

Dialogue::Answer Dialogue::Replayed(std::string_view line, const std::vector<std::string>& words) {
  const ReplayScript& script = *mOptions.replay;
  const size_t count = script.Count();
  const std::string number = std::to_string(++mCommandCount);
  auto report = [](const std::string& text) {
    WriteAll(STDERR_FILENO, "pelox5-sim: replay: " + text + "\n");
  };
  Answer answer;
  if (!words.empty() && words[0] == DialogueWords::kQuit && words.size() == 1) {
    if (mReplayNext < count)
      report("quit (command " + number + ") after " + std::to_string(mReplayNext) + " of " +
             std::to_string(count) + " recorded replies");
    answer.quit = true;
    return answer;
  }
  const std::string shown = "command " + number + " \"" + std::string(line) + "\"";
  if (mReplayNext >= count) {
    report(shown + ": no recorded reply left; nothing is sent");
    return answer;
  }
  if (std::string instead = script.Mismatch(mReplayNext, words); !instead.empty())
    report(shown + " differs from the recording: recorded reply " +
           std::to_string(mReplayNext + 1) + " of " + std::to_string(count) + " is " + instead);
  answer.reply = Shaped(script.Reply(mReplayNext++));
  return answer;
}
