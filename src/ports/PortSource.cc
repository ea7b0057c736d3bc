#include "ports/PortSource.h"

#include <map>

#include "ports/NetPort.h"
#include "ports/NetworkPortText.h"
#include "ports/PortSourceUtils.h"
#include "ports/SerPort.h"
#include "ports/posix/SerialDeviceList.h"

namespace PortSourceUtils {

PortSource::PortSource(const std::string& portText, int32_t baud, int32_t parity, int32_t bits,
                       int32_t stop) {
  if (std::optional<NetworkPortText> net = ParseNetworkPortText(portText)) {
    if (net->port < 1024) {
      throw InvalidPortException(
          "GetNewPortSource(): Invalid network port:TCPSocket.InvalidPortError");
    }
    nPort = std::make_unique<NetPort>();
    mType = 0;
    nPort->SetAddress(net->address);
    nPort->SetPort(net->port);
    return;
  }

  sPort = std::make_unique<SerPort>();
  mType = 1;
  // Names compare with regard to case, as the file system does.
  std::vector<Posix::SerialDeviceEntry> devices = Posix::ListSerialDevices();
  std::map<std::string, size_t> table;
  for (size_t i = 0; i < devices.size(); ++i) table[devices[i].name] = i;
  auto found = table.find(portText);
  if (found != table.end()) {
    sPort->SetDevice(devices[found->second].path);
  } else if (Posix::IsVirtualSerialDevice(portText)) {
    // Pseudo-terminals (socat, ser2net, tests) are not listed by the OS as serial
    // ports but are used exactly like them.
    sPort->SetDevice(portText);
  } else {
    throw InvalidPortException("PortSource.Constructor():" + portText +
                               " does not appear to be a valid serial port on this host.");
  }
  sPort->SetBaud(baud);
  sPort->SetParity(parity);
  sPort->SetBits(bits);
  sPort->SetStop(stop);
}

PortSource::PortSource(std::unique_ptr<PortBackend> backend) : mInjected(std::move(backend)) {}

PortSource::~PortSource() = default;

PortBackend& PortSource::Backend() {
  if (mType == 0) return *nPort;
  if (mType == 1) return *sPort;
  return *mInjected;
}

bool PortSource::IsConnected() { return Backend().IsConnected(); }

std::string PortSource::LookAhead() {
  PortBackend& backend = Backend();
  std::string text = backend.LookAhead();
  int32_t code = backend.LastErrorCode();
  if (code != 0) throw PortSourceException("LookAhead failed. LastError:" + std::to_string(code));
  return text;
}

int32_t PortSource::LastErrorCode() {
  int32_t code = Backend().LastErrorCode();
  return code > 0 ? -code : code;
}

void PortSource::Poll() { Backend().Poll(); }

void PortSource::Close() {
  if (mType == 1) sPort->SetConnected(false);
  Backend().Close();
}

void PortSource::Cancel() { mAbort = true; }

void PortSource::Purge(int32_t ms) {
  if (mType == 2) {
    mInjected->Purge(ms);
    return;
  }
  if (ms > 0) Sleep(ms);
  if (mType == 1) {
    // Take what the OS still holds too, then drop it all; a read error raises.
    sPort->Poll();
    sPort->ReadAll();
  } else {
    nPort->Purge(0);
  }
}

void PortSource::Write(const std::string& text) {
  if (!text.empty()) Backend().Write(text);
}

std::string PortSource::Read(int32_t count) { return Backend().Read(count); }

std::string PortSource::ReadAll() { return Backend().ReadAll(); }

void PortSource::Connect() { Backend().Connect(); }

void PortSource::WaitForData(int32_t ms) {
  Backend().WaitForData(ms);
  ProcessPendingEvents();
}

NetPort* PortSource::Net() { return nPort.get(); }

SerPort* PortSource::Serial() { return sPort.get(); }

}  // namespace PortSourceUtils
