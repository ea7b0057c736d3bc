#include "Session.h"

#include <vector>

Session::Session(const SimOptions& options, AppendFile& commandLog, AppendFile& sentLog)
    : mOptions(options), mCommandLog(commandLog), mSentLog(sentLog), mDialogue(options) {
  mOut.reserve(kBlock + 64 * 1024);
}

void Session::Start() {
  mDialogue.Reset();
  mLines.Reset();
  mQueue.clear();
  mReply.reset();
  mOut.clear();
  mOutPos = 0;
  mQuit = false;
  mMuted = false;
  // Fed like received input (not echoed), so "getdata 5\rquit" is two commands.
  if (mOptions.hasSendOnConnect) {
    std::vector<std::string> lines;
    mLines.Feed(mOptions.sendOnConnect + "\r", lines);
    for (std::string& line : lines) Queue(std::move(line));
  }
}

void Session::Receive(std::string_view data) {
  if (mOptions.echo && !mMuted) mOut.append(data);
  std::vector<std::string> lines;
  mLines.Feed(data, lines);
  for (std::string& line : lines) Queue(std::move(line));
}

void Session::Queue(std::string line) {
  mCommandLog.Append(line + "\n");
  if (!mQuit) mQueue.push_back(std::move(line));
}

std::string_view Session::Pending() {
  while (mOutPos == mOut.size()) {
    mOut.clear();
    mOutPos = 0;
    if (mReply) {
      if (!mReply->Fill(mOut, kBlock)) mReply.reset();
      if (mMuted) mOut.clear();
      continue;
    }
    if (mQueue.empty() || mQuit) break;
    Dialogue::Answer answer = mDialogue.Respond(mQueue.front());
    mQueue.pop_front();
    if (answer.quit) {
      mQuit = true;
      mQueue.clear();
      if (mOptions.quitReply.empty() || mMuted) break;
      mReply = MakeTextReply(mOptions.quitReply + "\r\n");
      continue;
    }
    if (!mMuted) mReply = std::move(answer.reply);
  }
  std::string_view pending = std::string_view(mOut).substr(mOutPos);
  if (mOptions.lineWrites) {
    const size_t lineFeed = pending.find('\n');
    if (lineFeed != std::string_view::npos) pending = pending.substr(0, lineFeed + 1);
  }
  return pending;
}

void Session::Sent(size_t n) {
  mSentLog.Append(std::string_view(mOut).substr(mOutPos, n));
  mOutPos += n;
  // Keep the buffer from growing when echoed bytes keep arriving mid-block.
  if (mOutPos > kBlock) {
    mOut.erase(0, mOutPos);
    mOutPos = 0;
  }
}

void Session::Mute() {
  mMuted = true;
  mReply.reset();
  mOut.clear();
  mOutPos = 0;
}

bool Session::Idle() { return Pending().empty() && !mReply && (mQueue.empty() || mQuit); }
