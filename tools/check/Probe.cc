#include "Probe.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/Clock.h"
#include "controller/Controller.h"
#include "ports/PortSourceExceptions.h"
#include "ports/PortSourceUtils.h"
#include "ports/SerialSettings.h"

namespace SiteCheck {

namespace {

// The codes of the speed table, most common speed first: 9600, 19200, 38400,
// 57600, 115200, 4800, 2400, 1200, 230400, 600, 300, 14400, 28800, 7200, 3600, 1800.
constexpr int32_t kScanOrder[] = {8, 10, 12, 13, 14, 6, 4, 2, 15, 1, 0, 9, 11, 7, 5, 3};
static_assert(std::size(kScanOrder) == std::size(PortSourceUtils::kSerialSpeeds));
// Wake-ups at each speed of a scan.
constexpr int32_t kScanTries = 2;
// The end of what came before the prompt that a report shows.
constexpr size_t kShownBytes = 60;

struct Wake {
  bool portAcquired = false;
  std::string portError;
  bool gotPrompt = false;
  int32_t wakeUps = 0;
  double seconds = 0;
  std::string before;  // what came before the prompt
};

// Opens the port and wakes the controller as a run does, with `settings`; sends
// "quit" when the prompt came.
Wake WakeController(Clock& clock, const ControllerSettings& settings) {
  Wake wake;
  Controller controller(clock, settings);
  std::string received;
  controller.RawDataAvailable = [&](Controller& c) { received += c.ReadRawData(); };
  controller.GotPrompt = [&](Controller& c) { received += c.ReadRawData(); };
  controller.LogSink = [&](const std::string&, const std::string& text) {
    if (text.rfind("GetPrompt(): Attempt", 0) == 0) ++wake.wakeUps;
  };
  try {
    controller.GetPort();
  } catch (const PortSourceUtils::PortSourceException& e) {
    wake.portError = e.Message;
    std::replace(wake.portError.begin(), wake.portError.end(), '\n', ' ');
    return wake;
  }
  wake.portAcquired = true;
  const int64_t startMs = clock.MonotonicMs();
  try {
    controller.GetPrompt(settings.connectAttemptMaxTries, settings.connectAttemptTimeout);
    wake.gotPrompt = true;
  } catch (const PortSourceUtils::PortSourceException&) {
    // No prompt after every wake-up.
  }
  wake.seconds = static_cast<double>(clock.MonotonicMs() - startMs) / 1000.0;
  if (wake.gotPrompt) {
    if (received.size() >= settings.prompt.size())
      received.resize(received.size() - settings.prompt.size());
    wake.before = received;
    try {
      controller.SendQuit();
    } catch (const PortSourceUtils::PortSourceException&) {
      // The prompt came; a link gone right after it is not this check's concern.
    }
  }
  controller.mPort->Close();
  return wake;
}

// Bytes as a readable text: control and non-ASCII bytes escaped.
std::string Shown(const std::string& bytes) {
  const bool cut = bytes.size() > kShownBytes;
  const std::string tail = cut ? bytes.substr(bytes.size() - kShownBytes) : bytes;
  std::string out = cut ? "..." : "";
  for (unsigned char c : tail) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

}  // namespace

void Probe(CheckList& list, const Site& site, bool scanSpeed) {
  if (!site.portOk) {
    list.Fail("probe", "not tried: the port did not pass its checks");
    return;
  }
  const ControllerSettings& settings = site.controller;
  const std::string configured = PortSourceUtils::BaudConstantToString(settings.serial.baud);
  const std::string speed = site.serial ? " at " + configured + " bit/s" : "";
  const Wake wake = WakeController(site.clock, settings);
  if (!wake.portAcquired) {
    list.Fail("probe", "the port could not be acquired: " + wake.portError,
              "see the port lines above; another program may have taken it");
    return;
  }
  if (wake.gotPrompt) {
    list.Ok("probe", "prompt after " + Seconds(wake.seconds) + speed + " (wake-up " +
                         std::to_string(wake.wakeUps) + " of " +
                         std::to_string(settings.connectAttemptMaxTries) + "), before it: \"" +
                         Shown(wake.before) + "\"; quit sent");
    return;
  }
  const std::string cause = "no prompt '" + settings.prompt + "' after " +
                            std::to_string(wake.wakeUps) + " wake-ups" + speed;
  if (!site.serial) {
    list.Fail("probe", cause,
              "check the bridge's line settings, the cable and the controller's power, and "
              "\"Prompt\"");
    return;
  }
  if (!scanSpeed) {
    list.Fail("probe", cause,
              "check the cable, the controller's power and \"Prompt\"; try the other speeds "
              "with: pelox5-check --probe --scan-speed -d " +
                  site.name);
    return;
  }
  list.Fail("probe", cause);
  // A shorter look at each speed; nothing but the speed changes between them.
  ControllerSettings tried = settings;
  tried.connectAttemptMaxTries = kScanTries;
  for (const int32_t code : kScanOrder) {
    if (code == settings.serial.baud) continue;
    tried.serial.baud = code;
    const Wake at = WakeController(site.clock, tried);
    if (at.portAcquired && at.gotPrompt) {
      const std::string text = PortSourceUtils::BaudConstantToString(code);
      list.Fail("speed scan", "the controller answers at " + text + " bit/s, not at " + configured,
                "write in deployment.cfg: \"Baud\": \"" + text + "\"");
      return;
    }
  }
  list.Fail("speed scan", "no prompt at any speed of the table",
            "check the cable, the adapter, the controller's power and \"Prompt\"");
}

}  // namespace SiteCheck
