// Feeds arbitrary controller output, in chunks chosen by the input, through a
// scripted port into the receive loops and GetRecentData. Only port exceptions may
// leave them, and the bytes handed over plus those still buffered must be exactly
// the start of what the controller sent.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controller/Controller.h"
#include "ports/PortSource.h"
#include "support/ScriptedPort.h"

namespace {

// Input layout: byte 0 holds the scenario (bits 0-1), whether handlers drain (bit 2)
// and how many chunk lengths follow (bits 3-5); then those lengths, then the payload,
// cut into chunks of those lengths in turn.
struct Script {
  int scenario = 0;
  bool drain = true;
  std::vector<std::string> chunks;
  std::string payload;
};

Script Parse(const uint8_t* data, size_t size) {
  Script s;
  if (size == 0) return s;
  s.scenario = data[0] & 3;
  s.drain = (data[0] & 4) == 0;
  const size_t count = (data[0] >> 3) & 7;
  std::vector<size_t> lengths;
  size_t at = 1;
  for (size_t i = 0; i < count && at < size; ++i, ++at) lengths.push_back(1 + data[at] * 4u);
  if (lengths.empty()) lengths.push_back(1 << 20);
  s.payload.assign(reinterpret_cast<const char*>(data + at), size - at);
  for (size_t from = 0, i = 0; from < s.payload.size(); ++i) {
    const size_t length = lengths[i % lengths.size()];
    s.chunks.push_back(s.payload.substr(from, length));
    from += length;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Script script = Parse(data, size);
  if (script.chunks.empty()) return 0;

  // Time moves only as the scripted port says: no input ever waits on the wall clock.
  FakeClock clock;
  Controller controller(Clock::Get(), {.connectAttemptMaxTries = 1});
  auto backend = std::make_unique<ScriptedPort>(clock);
  for (const std::string& chunk : script.chunks) backend->Arrive(chunk);
  backend->dropWhenDrained = true;
  controller.mPort = std::make_unique<PortSourceUtils::PortSource>(std::move(backend));

  std::string handedOver;
  auto handler = [&](Controller& c) {
    if (script.drain) handedOver += c.ReadRawData();
  };
  controller.RawDataAvailable = handler;
  controller.GotPrompt = handler;

  try {
    switch (script.scenario) {
      case 0:
        controller.waitForPrompt(controller.Settings().prompt, 0, 13);
        break;
      case 1:
        controller.waitForDonePrompt(controller.Settings().prompt, 0, 13);
        break;
      default:
        controller.GetRecentData(30, 0);
        break;
    }
  } catch (const PortSourceUtils::PortSourceException&) {
    // Time-outs and a dropped port end the dialogue; nothing else may escape.
  }

  const std::string received = handedOver + controller.rawBuffer;
  if (received.size() > script.payload.size() ||
      script.payload.compare(0, received.size(), received) != 0) {
    __builtin_trap();
  }
  return 0;
}
