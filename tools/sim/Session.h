#pragma once
// One connection's dialogue state, independent of any descriptor: received
// bytes go in, the bytes to send come out. Commands are answered in order of
// arrival; a reply streams through one reusable buffer of about kBlock bytes.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "Dialogue.h"
#include "SimOptions.h"
#include "SysIo.h"

class Session {
 public:
  static constexpr size_t kBlock = 256 * 1024;
  // Commands waiting beyond this stop the intake (WantsInput) until answered.
  static constexpr size_t kMaxQueued = 1024;

  // Keeps references to all three, which must outlive the Session.
  Session(const SimOptions& options, AppendFile& commandLog, AppendFile& sentLog);

  // Begins a connection: clears all state, then acts on --send-on-connect.
  void Start();
  // Takes received bytes: echoes them when asked, logs and queues each command.
  void Receive(std::string_view data);
  // The bytes to send next; empty when there is nothing to send. Valid until
  // the next call of any other member.
  std::string_view Pending();
  // The first n bytes of Pending() were sent: logs them and drops them.
  void Sent(size_t n);
  // From now on nothing is sent: replies are dropped, commands still handled.
  void Mute();

  bool QuitReceived() const { return mQuit; }
  bool WantsInput() const { return mQueue.size() < kMaxQueued; }
  // Nothing left to send and no command waiting.
  bool Idle();

 private:
  void Queue(std::string line);

  const SimOptions& mOptions;
  AppendFile& mCommandLog;
  AppendFile& mSentLog;
  Dialogue mDialogue;
  LineAssembler mLines;
  std::deque<std::string> mQueue;
  std::unique_ptr<ReplySource> mReply;
  std::string mOut;
  size_t mOutPos = 0;
  bool mQuit = false;
  bool mMuted = false;
};
