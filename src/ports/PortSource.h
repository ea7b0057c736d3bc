#pragma once
// PortSource: the one byte-stream object through which the controller protocol
// talks to a device. Built from a port text: "a.b.c.d:port" selects a TCP client
// (NetPort), anything else names a serial device of the host (SerPort). It holds
// exactly one backend and sends every operation through it, so an injected test
// backend receives the same calls as a real one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ports/PortBackend.h"
#include "ports/PortSourceExceptions.h"
#include "ports/SerialSettings.h"

namespace PortSourceUtils {

class NetPort;
class SerPort;

class PortSource {
 public:
  // Chooses and configures the backend; opens nothing. `serial` is the line a
  // serial backend sets up; a network port ignores it. Raises InvalidPortException
  // for a network port below 1024, a network text whose numbers are out of range
  // (an address number above 255, a port above 65535) or a serial name the host
  // does not list.
  explicit PortSource(const std::string& portText, const SerialSettings& serial = {});
  // Uses the given backend as is (tests: a scripted in-memory port).
  explicit PortSource(std::unique_ptr<PortBackend> backend);
  ~PortSource();
  PortSource(const PortSource&) = delete;
  PortSource& operator=(const PortSource&) = delete;

  bool IsConnected();
  std::string LookAhead();
  int32_t LastErrorCode();
  void Poll();
  void Close();
  void Cancel();
  void Purge(int32_t ms);
  void Write(const std::string& text);
  std::string Read(int32_t count);
  std::string ReadAll();
  void Connect();
  // The longest one Connect may wait, in seconds (a network link; 0: under one
  // second, see TimeoutMs; less than 0: no wait).
  void SetConnectTimeout(int32_t seconds);
  // The application's turn at pending events, taken after each WaitForData and
  // while a Write or Connect waits (see PortBackend::SetPendingEvents).
  void SetPendingEvents(std::function<void()> turn);
  // Waits up to `ms` for data (see PortBackend::WaitForData for `cue`), then
  // lets pending events run.
  void WaitForData(int32_t ms, const WaitCue& cue = {});

  // The backend, if it is of that kind; null otherwise.
  NetPort* Net();
  SerPort* Serial();

 private:
  std::unique_ptr<PortBackend> mBackend;  // never null
  bool mAbort = false;
  std::function<void()> mPendingEvents;
};

}  // namespace PortSourceUtils
