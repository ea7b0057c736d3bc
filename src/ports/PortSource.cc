#include "ports/PortSource.h"

#include <algorithm>
#include <climits>
#include <map>

#include "ports/NetPort.h"
#include "ports/NetworkPortText.h"
#include "ports/PortSourceUtils.h"
#include "ports/SerPort.h"
#include "ports/posix/SerialDeviceList.h"

namespace PortSourceUtils {

PortSource::PortSource(const std::string& portText, const SerialSettings& serial) {
  if (std::optional<NetworkPortText> net = ParseNetworkPortText(portText)) {
    if (net->port < 1024) {
      throw InvalidPortException(
          "GetNewPortSource(): Invalid network port:TCPSocket.InvalidPortError");
    }
    if (!net->numbersInRange) {
      throw InvalidPortException("GetNewPortSource(): Invalid network port:" + portText +
                                 " is out of range (address numbers 0 to 255, port up to 65535)");
    }
    auto netPort = std::make_unique<NetPort>();
    netPort->SetAddress(net->address);
    netPort->SetPort(net->port);
    mBackend = std::move(netPort);
    return;
  }

  auto serPort = std::make_unique<SerPort>();
  // Names compare with regard to case, as the file system does.
  std::vector<Posix::SerialDeviceEntry> devices = Posix::ListSerialDevices();
  std::map<std::string, size_t> table;
  for (size_t i = 0; i < devices.size(); ++i) table[devices[i].name] = i;
  auto found = table.find(portText);
  if (found != table.end()) {
    serPort->SetDevice(devices[found->second].path);
  } else if (Posix::IsVirtualSerialDevice(portText)) {
    // Pseudo-terminals (socat, ser2net, tests) are not listed by the OS as serial
    // ports but are used exactly like them.
    serPort->SetDevice(portText);
  } else {
    throw InvalidPortException("PortSource.Constructor():" + portText +
                               " does not appear to be a valid serial port on this host.");
  }
  serPort->SetSettings(serial);
  mBackend = std::move(serPort);
}

PortSource::PortSource(std::unique_ptr<PortBackend> backend) : mBackend(std::move(backend)) {
  if (!mBackend) throw PortSourceException("PortSource: no backend given.");
}

PortSource::~PortSource() = default;

bool PortSource::IsConnected() { return mBackend->IsConnected(); }

std::string PortSource::LookAhead() {
  std::string text = mBackend->LookAhead();
  int32_t code = mBackend->LastErrorCode();
  if (code != 0) throw PortSourceException("LookAhead failed. LastError:" + std::to_string(code));
  return text;
}

int32_t PortSource::LastErrorCode() {
  int32_t code = mBackend->LastErrorCode();
  return code > 0 ? -code : code;
}

void PortSource::Poll() { mBackend->Poll(); }

void PortSource::Close() { mBackend->Close(); }

void PortSource::Cancel() { mAbort = true; }

void PortSource::Purge(int32_t ms) { mBackend->Purge(ms); }

void PortSource::Write(const std::string& text) {
  if (!text.empty()) mBackend->Write(text);
}

std::string PortSource::Read(int32_t count) { return mBackend->Read(count); }

std::string PortSource::ReadAll() { return mBackend->ReadAll(); }

void PortSource::Connect() { mBackend->Connect(); }

void PortSource::SetPendingEvents(std::function<void()> turn) {
  mBackend->SetPendingEvents(turn);
  mPendingEvents = std::move(turn);
}

void PortSource::SetConnectTimeout(int32_t seconds) {
  const int64_t ms = std::clamp<int64_t>(TimeoutMs(seconds), 0, INT32_MAX);
  mBackend->SetConnectTimeoutMs(static_cast<int32_t>(ms));
}

void PortSource::WaitForData(int32_t ms, const WaitCue& cue) {
  mBackend->WaitForData(ms, cue);
  if (mPendingEvents) mPendingEvents();
}

NetPort* PortSource::Net() { return dynamic_cast<NetPort*>(mBackend.get()); }

SerPort* PortSource::Serial() { return dynamic_cast<SerPort*>(mBackend.get()); }

}  // namespace PortSourceUtils
