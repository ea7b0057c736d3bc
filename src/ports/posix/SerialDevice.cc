#include "ports/posix/SerialDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "ports/PortSourceUtils.h"
#include "ports/posix/CustomSpeed.h"

namespace PortSourceUtils::Posix {
namespace {

// How long closing waits for bytes still in the OS's output queue before the
// original settings (perhaps another speed) are put back.
constexpr int32_t kDrainWaitMs = 500;
constexpr int32_t kDrainStepMs = 10;

int32_t DataBits(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

}  // namespace

SerialDevice::~SerialDevice() { CloseDevice(); }

int32_t SerialDevice::Open(const std::string& path, const SerialSettings& settings) {
  CloseDevice();
  mSettingsProblem.clear();
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  // Set once this open holds the device exclusively: only then is it ours to
  // clear. A device another program holds keeps its exclusive use.
  bool exclusive = false;
  auto fail = [this, &fd, &exclusive](int err) {
    if (fd.Valid()) {
      RestoreSettings(fd.Get());
      if (exclusive) ::ioctl(fd.Get(), TIOCNXCL);
    }
    SetError(CodeFromErrno(err));
    return LastError();
  };
  if (!fd.Valid()) return fail(errno);
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return fail(errno);
  if (::ioctl(fd.Get(), TIOCEXCL) == 0) {
    exclusive = true;
  } else if (errno != EINVAL && errno != ENOTTY) {
    return fail(errno);
  }

  termios t{};
  if (::tcgetattr(fd.Get(), &t) != 0) return fail(errno);
  mOriginal = t;
  mOriginalRate = ReadOutputBitRate(fd.Get());
  mHaveOriginal = true;
  bool customSpeed = false;
  if (!BuildTermios(settings, t, &customSpeed)) return fail(EINVAL);
  if (::tcsetattr(fd.Get(), TCSANOW, &t) != 0) return fail(errno);
  if (customSpeed) {
    int32_t code = SetCustomSpeed(fd.Get(), BitRateOfCode(settings.baud));
    if (code != 0) return fail(-code);
  }
  mSettingsProblem = CheckSettings(fd.Get(), settings);
  if (!mSettingsProblem.empty()) return fail(EINVAL);
  Attach(std::move(fd));
  return 0;
}

std::string SerialDevice::CheckSettings(int fd, const SerialSettings& settings) {
  termios now{};
  if (::tcgetattr(fd, &now) != 0) return "settings cannot be read back";
  const int32_t wantedBits = DataBitCount(settings.dataBits);
  if (DataBits(now.c_cflag) != wantedBits) {
    return "character size " + std::to_string(wantedBits) + " data bits reads back as " +
           std::to_string(DataBits(now.c_cflag));
  }
  const int32_t wantedRate = BitRateOfCode(settings.baud);
  const int32_t rate = ReadOutputBitRate(fd);
  if (rate < 0) return "speed cannot be read back";
  if (rate != 0 && rate != wantedRate) {
    return "speed " + std::to_string(wantedRate) + " bit/s reads back as " + std::to_string(rate) +
           " bit/s";
  }
  return "";
}

void SerialDevice::RestoreSettings(int fd) {
  if (!mHaveOriginal) return;
  mHaveOriginal = false;
  // Failures are harmless here: a device that is gone keeps no settings.
  for (int32_t waited = 0; waited < kDrainWaitMs; waited += kDrainStepMs) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    Sleep(kDrainStepMs);
  }
  ::tcsetattr(fd, TCSANOW, &mOriginal);
  if (mOriginalRate > 0 && ReadOutputBitRate(fd) != mOriginalRate) {
    SetCustomSpeed(fd, mOriginalRate);
  }
}

void SerialDevice::CloseDevice() {
  if (IsOpen()) {
    RestoreSettings(Fd());
    // TIOCEXCL outlives our descriptor while another side (a pty master) holds
    // the terminal; clear it so the device can be opened again. Failure is harmless.
    ::ioctl(Fd(), TIOCNXCL);
  }
  Close();
}

}  // namespace PortSourceUtils::Posix
