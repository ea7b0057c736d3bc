#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "PortTestSupport.h"
#include "ports/NetPort.h"
#include "ports/PortSource.h"
#include "ports/PortSourceUtils.h"
#include "ports/SerPort.h"

using namespace PortSourceUtils;

namespace {

using PortTest::MessageOf;

// An in-memory backend with a receive buffer and an error code.
class MemoryBackend : public PortBackend {
 public:
  int32_t errorCode = 0;
  std::string received;
  std::string sent;
  int writes = 0;

  void Connect() override {}
  bool IsConnected() override { return true; }
  std::string LookAhead() override { return received; }
  std::string Read(int32_t count) override {
    std::string out = received.substr(0, static_cast<size_t>(count));
    received.erase(0, out.size());
    return out;
  }
  std::string ReadAll() override { return Read(INT32_MAX); }
  void Write(const std::string& text) override {
    ++writes;
    sent += text;
  }
  void Purge(int32_t) override { received.clear(); }
  void Poll() override {}
  int32_t LastErrorCode() override { return errorCode; }
  void Close() override {}
  void WaitForData(int32_t, const WaitCue&) override {}
};

}  // namespace

TEST(PortSourceConstructor, NetworkTextsSelectATcpClient) {
  PortSource plain("192.168.1.20:4001");
  ASSERT_NE(plain.Net(), nullptr);
  EXPECT_EQ(plain.Net()->Address(), "192.168.1.20");
  EXPECT_EQ(plain.Net()->Port(), 4001);
  EXPECT_EQ(plain.Serial(), nullptr);

  PortSource dashed("10-0-0-5:8080", {.baud = -1});  // the line settings are ignored
  ASSERT_NE(dashed.Net(), nullptr);
  EXPECT_EQ(dashed.Net()->Address(), "10.0.0.5");
  EXPECT_EQ(dashed.Net()->Port(), 8080);

  PortSource lowest("192.168.1.20:1024");
  EXPECT_EQ(lowest.Net()->Port(), 1024);
}

TEST(PortSourceConstructor, RefusesPortsBelow1024) {
  const std::string message = "GetNewPortSource(): Invalid network port:TCPSocket.InvalidPortError";
  for (const char* text : {"192.168.1.20:1023", "10-0-0-5:80", "10.0.0.5:0"}) {
    EXPECT_EQ(MessageOf<InvalidPortException>([&] { PortSource p(text); }), message) << text;
  }
}

TEST(PortSourceConstructor, RefusesNumbersOutOfRangeAtOnceNamingThePortText) {
  for (const char* text :
       {"127.0.0.1:99999", "999.1.1.1:5000", "127.0.0.1:99999999999999", "1.2.3.256:4001"}) {
    EXPECT_EQ(MessageOf<InvalidPortException>([&] { PortSource p(text); }),
              std::string("GetNewPortSource(): Invalid network port:") + text +
                  " is out of range (address numbers 0 to 255, port up to 65535)");
  }
  PortSource highest("255.255.255.255:65535");
  EXPECT_EQ(highest.Net()->Port(), 65535);
}

TEST(PortSourceConstructor, UnknownSerialNamesAreRefused) {
  for (const char* text : {"controller.example.org:4001", "/dev/no-such-tty", "/dev/null", ""}) {
    EXPECT_EQ(MessageOf<InvalidPortException>([&] { PortSource p(text); }),
              std::string("PortSource.Constructor():") + text +
                  " does not appear to be a valid serial port on this host.");
  }
}

TEST(PortSourceConstructor, PseudoTerminalsAreVirtualSerialPorts) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  const SerialSettings line{14, Parity::kOdd, DataBits::k7, StopBits::kTwo, FlowControl::kRtsCts};
  PortSource port(name, line);
  ASSERT_NE(port.Serial(), nullptr);
  EXPECT_EQ(port.Net(), nullptr);
  EXPECT_EQ(port.Serial()->Device(), name);
  EXPECT_EQ(port.Serial()->Settings().baud, 14);
  EXPECT_EQ(port.Serial()->Settings().parity, Parity::kOdd);
  EXPECT_EQ(port.Serial()->Settings().dataBits, DataBits::k7);
  EXPECT_EQ(port.Serial()->Settings().stopBits, StopBits::kTwo);
  EXPECT_EQ(port.Serial()->Settings().flow, FlowControl::kRtsCts);
  EXPECT_FALSE(port.IsConnected());  // construction opens nothing
  close(slave);
  close(master);
}

TEST(PortSourceChecks, ErrorsOfTheBackendAreShownNegativeAndStopALookAhead) {
  auto backend = std::make_unique<MemoryBackend>();
  MemoryBackend* fake = backend.get();
  PortSource port(std::move(backend));
  fake->received = "PELOX>";
  EXPECT_EQ(port.LookAhead(), "PELOX>");
  fake->errorCode = 5;  // a backend that reports a positive code is still shown negative
  EXPECT_EQ(port.LastErrorCode(), -5);
  fake->errorCode = -5;
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port.LookAhead(); }),
            "LookAhead failed. LastError:-5");
  EXPECT_EQ(port.Read(3), "PEL");  // the bytes stay for a read
}

TEST(PortSourceChecks, AnEmptyWriteSendsNothingAndEveryWaitGivesPendingEventsATurn) {
  auto backend = std::make_unique<MemoryBackend>();
  MemoryBackend* fake = backend.get();
  PortSource port(std::move(backend));
  port.Write("");
  EXPECT_EQ(fake->writes, 0);
  port.Write("logs\r");
  EXPECT_EQ(fake->sent, "logs\r");

  struct Stop {};
  int turns = 0;
  port.SetPendingEvents([&] {
    if (++turns == 2) throw Stop{};
  });
  port.WaitForData(10);
  EXPECT_EQ(turns, 1);
  EXPECT_THROW(port.WaitForData(10), Stop);  // a stop request ends the caller's wait
  EXPECT_THROW(PortSource(std::unique_ptr<PortBackend>()), PortSourceException);
}

TEST(SerPortErrors, ConnectMessages) {
  SerPort none;
  EXPECT_EQ(MessageOf<InvalidPortException>([&] { none.Connect(); }),
            "SerPort.Connect(): Invalid Serial Port. LastError:0");
  EXPECT_FALSE(none.IsConnected());

  SerPort missing;
  missing.SetDevice("/dev/no-such-tty");
  EXPECT_EQ(MessageOf<ConnectionException>([&] { missing.Connect(); }),
            "SerPort.Connect(): Could not connect. LastError:-2");
  EXPECT_FALSE(missing.IsConnected());
}
