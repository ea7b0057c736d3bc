#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "Connection.h"
#include "LineSpeed.h"
#include "Server.h"

namespace {

// A symbolic link to the terminal, removed again when it still points there.
class TerminalLink {
 public:
  TerminalLink(std::string path, const std::string& target) : mPath(std::move(path)) {
    if (mPath.empty()) return;
    if (::symlink(target.c_str(), mPath.c_str()) != 0) {
      char old[PATH_MAX];
      // Only a symbolic link is replaced, never a real file.
      if (errno != EEXIST || ::readlink(mPath.c_str(), old, sizeof old) < 0 ||
          ::unlink(mPath.c_str()) != 0 || ::symlink(target.c_str(), mPath.c_str()) != 0) {
        ThrowErrno("cannot make the link " + mPath, errno);
      }
    }
    mTarget = target;
  }
  ~TerminalLink() {
    if (mTarget.empty()) return;
    char now[PATH_MAX];
    ssize_t n = ::readlink(mPath.c_str(), now, sizeof now);
    if (n >= 0 && std::string(now, static_cast<size_t>(n)) == mTarget) ::unlink(mPath.c_str());
  }
  TerminalLink(const TerminalLink&) = delete;
  TerminalLink& operator=(const TerminalLink&) = delete;

 private:
  std::string mPath;
  std::string mTarget;
};

}  // namespace

void ServePty(const SimOptions& options, StopSignal& stop) {
  int masterFd = -1, slaveFd = -1;
  char name[PATH_MAX];
  if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) ThrowErrno("openpty", errno);
  UniqueFd master(masterFd);
  // Holding the slave open too keeps the master from reporting a hang-up (and
  // poll from returning at once) while no client has the terminal open.
  UniqueFd slave(slaveFd);
  termios raw{};
  if (::tcgetattr(slave.Get(), &raw) != 0) ThrowErrno("tcgetattr", errno);
  ::cfmakeraw(&raw);
  if (::tcsetattr(slave.Get(), TCSANOW, &raw) != 0) ThrowErrno("tcsetattr", errno);
  SetNonBlocking(master.Get());

  TerminalLink link(options.linkPath, name);
  AnnounceLink(std::string("pty ") + name);
  AppendFile commandLog(options.logCommands);
  AppendFile sentLog(options.logSent);
  AppendFile timingLog(options.logTiming);
  Session session(options, commandLog, sentLog);
  FaultShaper shaper(options);
  for (;;) {
    // The client's speed is read before each write: a client may change it at any time.
    auto garbled = [&] {
      return options.speed > 0 && TerminalBitRate(slave.Get()) != options.speed;
    };
    ConnectionEnd end =
        ServeConnection(master.Get(), false, session, shaper, stop, timingLog, garbled);
    if (end == ConnectionEnd::kStop) return;
    if (end == ConnectionEnd::kQuit && options.once) return;
    // A new session: replies the last client left unread must not reach the next.
    ::tcflush(slave.Get(), TCIFLUSH);
  }
}
