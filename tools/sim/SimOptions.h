#pragma once
// The simulator's command line: what to serve, on which link, and which faults
// to inject. ParseSimOptions checks every value; HelpText documents them all.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SysIo.h"
#include "base/DialogueWords.h"

class ReplayScript;

// A command line that cannot be used; Message says why.
PELOX5_DECLARE_ERROR(UsageError, SimError);

struct SimOptions {
  enum class Link { kNone, kTcp, kPty };
  Link link = Link::kNone;
  int tcpPort = 0;       // with kTcp; 0 picks a free port
  std::string linkPath;  // with kPty: symlink to the slave ("" = none)
  bool once = false;
  int64_t speed = 0;  // with kPty: the bit rate the client must set (0: any)

  int64_t records = 100;
  int64_t next = -1;       // -1: records + 1
  int64_t recordSize = 0;  // 0: natural length
  std::string prompt = DialogueWords::kDefaultPrompt;
  std::string sendOnConnect;
  bool hasSendOnConnect = false;

  bool noPrompt = false;
  int64_t closeAfter = -1;   // -1: never
  int64_t silentAfter = -1;  // -1: never
  int64_t noDone = 0;        // getdata replies without "done"; -1: all
  bool garbage = false;
  int64_t throttle = 0;     // bytes per second; 0: unlimited
  int64_t chunk = 0;        // largest single write; 0: unlimited
  bool lineWrites = false;  // each line of a reply is a write of its own
  bool echo = false;
  std::string quitReply;  // sent, with CR LF, in answer to "quit" ("" = nothing)
  bool noNewlines = false;

  // --replay: the session file, and its replies once main has loaded them.
  std::string replayPath;
  std::shared_ptr<const ReplayScript> replay;

  std::string logCommands;
  std::string logSent;
  std::string logTiming;

  bool help = false;

  int64_t NextRecord() const { return next >= 0 ? next : records + 1; }
};

// Parses argv[1..]; options take their value as the next argument or after "=".
// Raises UsageError on an unknown option, a missing or malformed value, or a
// value out of range.
SimOptions ParseSimOptions(const std::vector<std::string>& args);

// The text of --help, ending with a line feed.
std::string HelpText();
