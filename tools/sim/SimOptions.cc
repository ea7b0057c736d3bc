#include "SimOptions.h"

#include <charconv>
#include <limits>

namespace {

int64_t ParseInteger(const std::string& name, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) {
    throw UsageError("--" + name + " needs a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not \"" + text + "\"");
  }
  return value;
}

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
  SimOptions o;
  std::string dataOption;  // the last option that --replay makes pointless
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) throw UsageError("unexpected argument \"" + arg + "\"");
    std::string name = arg.substr(2);
    std::string value;
    bool hasInlineValue = false;
    if (auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasInlineValue = true;
    }
    auto flag = [&](bool& target) {
      if (hasInlineValue) throw UsageError("--" + name + " takes no value");
      target = true;
    };
    auto text = [&]() -> std::string {
      if (hasInlineValue) return value;
      if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
      return args[++i];
    };
    auto number = [&](int64_t min, int64_t max) { return ParseInteger(name, text(), min, max); };

    if (name == "tcp") {
      o.link = SimOptions::Link::kTcp;
      o.tcpPort = static_cast<int>(number(0, 65535));
    } else if (name == "pty") {
      bool pty = false;
      flag(pty);
      o.link = SimOptions::Link::kPty;
    } else if (name == "link") {
      o.linkPath = text();
      if (o.linkPath.empty()) throw UsageError("--link needs a path");
    } else if (name == "speed") {
      o.speed = number(50, 4000000);
    } else if (name == "once") {
      flag(o.once);
    } else if (name == "records") {
      dataOption = "--" + name;
      o.records = number(0, kInt32Max);
    } else if (name == "next") {
      dataOption = "--" + name;
      o.next = number(0, kInt64Max);
    } else if (name == "record-size") {
      dataOption = "--" + name;
      o.recordSize = number(3, 65536);
    } else if (name == "prompt") {
      o.prompt = text();
      if (o.prompt.empty()) throw UsageError("--prompt needs a non-empty text");
    } else if (name == "send-on-connect") {
      o.sendOnConnect = text();
      o.hasSendOnConnect = true;
    } else if (name == "no-prompt") {
      flag(o.noPrompt);
    } else if (name == "close-after") {
      o.closeAfter = number(0, kInt64Max);
    } else if (name == "silent-after") {
      o.silentAfter = number(0, kInt64Max);
    } else if (name == "no-done") {
      dataOption = "--" + name;
      o.noDone = number(-1, kInt64Max);
    } else if (name == "garbage") {
      flag(o.garbage);
    } else if (name == "throttle") {
      o.throttle = number(1, kInt64Max / 2);
    } else if (name == "chunk") {
      o.chunk = number(1, kInt64Max);
    } else if (name == "echo") {
      flag(o.echo);
    } else if (name == "quit-reply") {
      o.quitReply = text();
    } else if (name == "no-newlines") {
      dataOption = "--" + name;
      flag(o.noNewlines);
    } else if (name == "replay") {
      o.replayPath = text();
      if (o.replayPath.empty()) throw UsageError("--replay needs a session file");
    } else if (name == "log-commands") {
      o.logCommands = text();
    } else if (name == "log-sent") {
      o.logSent = text();
    } else if (name == "log-timing") {
      o.logTiming = text();
    } else if (name == "line-writes") {
      flag(o.lineWrites);
    } else {
      throw UsageError("unknown option \"" + arg + "\"");
    }
  }
  if (o.help) return o;
  if (o.link == SimOptions::Link::kNone) throw UsageError("one of --tcp PORT or --pty is needed");
  if (!o.linkPath.empty() && o.link != SimOptions::Link::kPty) {
    throw UsageError("--link works only with --pty");
  }
  if (o.speed != 0 && o.link != SimOptions::Link::kPty) {
    throw UsageError("--speed works only with --pty");
  }
  if (!o.replayPath.empty() && !dataOption.empty()) {
    throw UsageError(dataOption + " has no effect with --replay: the replies are recorded ones");
  }
  return o;
}

std::string HelpText() {
  return R"(Usage: pelox5-sim (--tcp PORT | --pty [--link PATH] [--speed B]) [options]

A simulated Pelox 5 controller. It serves the controller's line dialogue on
127.0.0.1 over TCP or on a new pseudo-terminal. On start it prints where to
connect, as one line on standard output: "tcp 127.0.0.1:PORT" or
"pty /dev/pts/N". SIGTERM or SIGINT end it with status 0.

Dialogue (commands end with CR, LF or CR LF; case and surrounding blanks are
ignored; every reply starts with CR LF and ends with the prompt):
  (empty line)       the prompt: a carriage return wakes the controller
  logs               "Records logged: N" and "Next download is record K"
  getdata C          the last C records (all when C > N), "done", the prompt
  getlog F C         records F to F+C-1, those that exist, then the prompt
  quit               ends the connection (pty: ends the session)
  anything else      "ERROR: unknown command" or a usage line, the prompt

Link:
  --tcp PORT           serve on 127.0.0.1:PORT, one connection at a time;
                       0 picks a free port
  --pty                serve on a new pseudo-terminal (raw mode)
  --speed B            (with --pty) answer readably only while the client's
                       line is set to B bit/s; at any other speed every byte
                       sent is garbled as a line at the wrong speed garbles
                       it (high bit set, never text or the prompt)
  --link PATH          with --pty: make PATH a symbolic link to the terminal;
                       an existing symbolic link there is replaced; the link
                       is removed at exit
  --once               TCP: exit when the first connection ends;
                       pty: exit when "quit" arrives

Data:
  --records N          records held, numbered 1..N (default 100, 0 allowed)
  --next K             the K in "Next download is record K" (default N+1)
  --record-size BYTES  pad (blanks before CR LF) or cut every record line to
                       BYTES in total, CR LF included (3..65536)
  --prompt TEXT        the prompt (default "PELOX>")
  --send-on-connect CMD
                       act as if CMD had been received when a client
                       connects (pty: at start and after each "quit");
                       CR or LF separate several commands, so
                       $'getdata 100\rquit' closes after the reply

Replay:
  --replay SESSION_FILE
                       answer with the replies recorded in a raw session file
                       of pelox5-download, to reproduce a site's run in the
                       lab: the file is split after each prompt (--prompt);
                       the first part answers the wake-up, then one part per
                       command, in the order the commands come, whatever they
                       are; bytes after the last prompt answer the next
                       command without a prompt; "quit" is handled as usual.
                       A command that the recorded reply does not fit (a
                       different command sequence), a command with no reply
                       left, and replies left unused at "quit" are reported
                       on standard error. --records, --next, --record-size,
                       --no-done and --no-newlines do not apply; the link
                       options and the other faults do.

Faults (counts are per connection; pty: per session up to "quit"):
  --no-prompt          never send the prompt; input is still read
  --close-after B      close the connection after B bytes sent in total
  --silent-after B     send nothing more after B bytes; keep the connection
  --no-done R          answer the first R getdata commands without "done";
                       -1 for all of them
  --garbage            send garbage bytes (never the prompt) instead of every
                       reply: as many as the reply would have had, at least 32
  --throttle BPS       send at most BPS bytes per second, smoothly
  --chunk B            write at most B bytes at a time, each piece separately
  --line-writes        write each line of a reply (up to its line feed) with a
                       write of its own, as a controller sending line by line
  --echo               echo every byte received before replying
  --quit-reply TEXT    answer "quit" with TEXT and CR LF before closing
  --no-newlines        getdata sends an endless stream without line feeds
                       until the client disconnects

Logs:
  --log-commands FILE  append every command line received, one a line
  --log-sent FILE      append every byte sent, exactly as sent
  --log-timing FILE    append, for each command line received after a reply,
                       the microseconds from the reply's last byte sent to the
                       command's end arriving, one number a line

  -h, --help           this text

Record format (one line each, CR LF at the end):
  R000042,2026-01-01 00:41:00,15.54,2.26,598
  record number (at least 6 digits after "R"), time stamp (2026-01-01 00:00:00
  plus one minute per record after the first), and three values derived from
  the number.

Exit status: 0 when ended by a signal or by --once, 1 on a run-time error,
2 on a bad command line.
)";
}
