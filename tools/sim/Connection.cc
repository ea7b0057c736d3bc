#include "Connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "LineSpeed.h"

namespace {

bool IsGone(int err) { return err == ECONNRESET || err == EPIPE || err == EIO || err == ENOTCONN; }

}  // namespace

ConnectionEnd ServeConnection(int fd, bool isSocket, Session& session, FaultShaper& shaper,
                              StopSignal& stop, AppendFile& timingLog,
                              const std::function<bool()>& garbled) {
  using Clock = FaultShaper::Clock;
  static char input[64 * 1024];
  shaper.Start(Clock::now());
  session.Start();
  bool inputOpen = true;
  // When the last reply byte went out, and whether a command end is still to be timed.
  Clock::time_point lastSent{};
  bool timing = false;

  for (;;) {
    if (stop.Requested()) return ConnectionEnd::kStop;
    std::string_view out = session.Pending();
    if (session.QuitReceived() && out.empty()) return ConnectionEnd::kQuit;
    FaultShaper::Plan plan = shaper.Next(out.size(), Clock::now());
    if (plan.close) return ConnectionEnd::kFaultClose;
    if (plan.mute) {
      session.Mute();
      out = session.Pending();
    }
    // A peer that sends nothing more (half-close) still gets what it asked for.
    if (!inputOpen && session.Idle()) return ConnectionEnd::kPeerClosed;

    pollfd pfd{fd, 0, 0};
    if (inputOpen && session.WantsInput()) pfd.events |= POLLIN;
    if (plan.bytes > 0) pfd.events |= POLLOUT;
    int timeout = plan.bytes == 0 && !out.empty() ? plan.waitMs : -1;
    int rc = stop.Wait(&pfd, 1, timeout);
    if (rc <= 0) continue;

    if (inputOpen && (pfd.revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = isSocket ? ::recv(fd, input, sizeof input, 0) : ::read(fd, input, sizeof input);
      if (n > 0) {
        const std::string_view data(input, static_cast<size_t>(n));
        if (timing && data.find('\r') != std::string_view::npos) {
          const auto us =
              std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - lastSent);
          timingLog.Append(std::to_string(us.count()) + "\n");
          timing = false;
        }
        session.Receive(data);
      } else if (n == 0) {
        inputOpen = false;
      } else if (IsGone(errno)) {
        return ConnectionEnd::kPeerClosed;
      } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        ThrowErrno("read", errno);
      }
    } else if (!inputOpen && (pfd.revents & (POLLHUP | POLLERR))) {
      return ConnectionEnd::kPeerClosed;
    }

    if ((pfd.revents & POLLOUT) && plan.bytes > 0) {
      out = session.Pending();
      size_t want = std::min(plan.bytes, out.size());
      if (want == 0) continue;
      std::string wrongSpeed;
      const char* data = out.data();
      if (garbled && garbled()) {
        wrongSpeed = GarbledAtWrongSpeed(out.substr(0, want));
        data = wrongSpeed.data();
      }
      ssize_t n = isSocket ? ::send(fd, data, want, MSG_NOSIGNAL) : ::write(fd, data, want);
      if (n > 0) {
        session.Sent(static_cast<size_t>(n));
        shaper.Sent(static_cast<size_t>(n));
        lastSent = Clock::now();
        timing = true;
      } else if (n < 0 && IsGone(errno)) {
        return ConnectionEnd::kPeerClosed;
      } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        ThrowErrno("write", errno);
      }
    }
  }
}
