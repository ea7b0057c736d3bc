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
#include "ports/SerPort.h"

using namespace PortSourceUtils;

namespace {

using PortTest::MessageOf;

// An in-memory backend that records what it was asked.
class RecordingBackend : public PortBackend {
 public:
  std::vector<std::string>* calls;
  int32_t errorCode = 0;
  std::string received;

  explicit RecordingBackend(std::vector<std::string>* log) : calls(log) {}
  void Connect() override { calls->push_back("Connect"); }
  bool IsConnected() override { return true; }
  std::string LookAhead() override { return received; }
  std::string Read(int32_t count) override {
    calls->push_back("Read " + std::to_string(count));
    return received.substr(0, static_cast<size_t>(count));
  }
  std::string ReadAll() override { return received; }
  void Write(const std::string& text) override { calls->push_back("Write " + text); }
  void Purge(int32_t ms) override { calls->push_back("Purge " + std::to_string(ms)); }
  void Poll() override { calls->push_back("Poll"); }
  int32_t LastErrorCode() override { return errorCode; }
  void Close() override { calls->push_back("Close"); }
  void WaitForData(int32_t ms) override { calls->push_back("Wait " + std::to_string(ms)); }
};

}  // namespace

TEST(PortSourceConstructor, NetworkTextsSelectATcpClient) {
  PortSource plain("192.168.1.20:4001", 8, 0, 3, 0);
  ASSERT_EQ(plain.Type(), 0);
  EXPECT_EQ(plain.Net()->Address(), "192.168.1.20");
  EXPECT_EQ(plain.Net()->Port(), 4001);
  EXPECT_EQ(plain.Serial(), nullptr);

  PortSource dashed("10-0-0-5:8080", -1, -1, -1, -1);  // the four integers are ignored
  ASSERT_EQ(dashed.Type(), 0);
  EXPECT_EQ(dashed.Net()->Address(), "10.0.0.5");
  EXPECT_EQ(dashed.Net()->Port(), 8080);

  PortSource lowest("192.168.1.20:1024", 8, 0, 3, 0);
  EXPECT_EQ(lowest.Net()->Port(), 1024);
}

TEST(PortSourceConstructor, RefusesPortsBelow1024) {
  const std::string message = "GetNewPortSource(): Invalid network port:TCPSocket.InvalidPortError";
  for (const char* text : {"192.168.1.20:1023", "10-0-0-5:80", "10.0.0.5:0"}) {
    EXPECT_EQ(MessageOf<InvalidPortException>([&] { PortSource p(text, 8, 0, 3, 0); }), message)
        << text;
  }
}

TEST(PortSourceConstructor, OversizedPortIsClampedThenFailsToConnect) {
  PortSource port("127.0.0.1:99999999999999", 8, 0, 3, 0);
  EXPECT_EQ(port.Net()->Port(), INT32_MAX);
  EXPECT_EQ(MessageOf<ConnectionException>([&] { port.Connect(); }),
            "Could not connect. LastError:-22");
  EXPECT_FALSE(port.IsConnected());
}

TEST(PortSourceConstructor, UnknownSerialNamesAreRefused) {
  for (const char* text : {"controller.example.org:4001", "/dev/no-such-tty", "/dev/null", ""}) {
    EXPECT_EQ(MessageOf<InvalidPortException>([&] { PortSource p(text, 8, 0, 3, 0); }),
              std::string("PortSource.Constructor():") + text +
                  " does not appear to be a valid serial port on this host.");
  }
}

TEST(PortSourceConstructor, PseudoTerminalsAreVirtualSerialPorts) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  PortSource port(name, 14, 1, 2, 2);
  ASSERT_EQ(port.Type(), 1);
  EXPECT_EQ(port.Serial()->Device(), name);
  EXPECT_EQ(port.Serial()->Settings().baud, 14);
  EXPECT_EQ(port.Serial()->Settings().parity, 1);
  EXPECT_EQ(port.Serial()->Settings().bits, 2);
  EXPECT_EQ(port.Serial()->Settings().stop, 2);
  EXPECT_FALSE(port.IsConnected());  // construction opens nothing
  close(slave);
  close(master);
}

TEST(PortSourceInjected, ForwardsAndChecks) {
  std::vector<std::string> calls;
  auto backend = std::make_unique<RecordingBackend>(&calls);
  RecordingBackend* fake = backend.get();
  PortSource port(std::move(backend));
  EXPECT_EQ(port.Type(), 2);

  port.Connect();
  port.Write("");  // nothing forwarded
  port.Write("logs\r");
  port.Purge(100);
  port.WaitForData(10);
  fake->received = "PELOX>";
  EXPECT_EQ(port.LookAhead(), "PELOX>");
  EXPECT_EQ(port.Read(3), "PEL");
  port.Close();
  EXPECT_EQ(calls, (std::vector<std::string>{"Connect", "Write logs\r", "Purge 100", "Wait 10",
                                             "Read 3", "Close"}));

  fake->errorCode = 5;  // a backend that reports a positive code is still shown negative
  EXPECT_EQ(port.LastErrorCode(), -5);
  fake->errorCode = -5;
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port.LookAhead(); }),
            "LookAhead failed. LastError:-5");
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
