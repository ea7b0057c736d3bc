#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "PortTestSupport.h"
#include "ports/PortSource.h"
#include "ports/SerPort.h"
#include "ports/posix/TermiosSettings.h"

using namespace PortSourceUtils;
using PortTest::MessageOf;
using PortTest::ReadBytes;
using PortTest::WaitUntil;
using PortTest::WriteBytes;

namespace {

// A pseudo-terminal: the tool opens the slave by name, the test plays the device
// on the master.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&mMaster, &slave, name, nullptr, nullptr), 0);
    close(slave);
    mName = name;
  }
  void TearDown() override {
    if (mMaster >= 0) close(mMaster);
  }

  std::unique_ptr<PortSource> Open(int32_t baud = 8) {
    auto port = std::make_unique<PortSource>(mName, SerialSettings{.baud = baud});
    port->Connect();
    return port;
  }
  // The device sends `bytes`; waits until the port holds all it has received.
  void Send(PortSource& port, const std::string& bytes, size_t expectedBuffered) {
    ASSERT_TRUE(WriteBytes(mMaster, bytes));
    ASSERT_TRUE(WaitUntil(port, [&] { return port.LookAhead().size() >= expectedBuffered; }));
  }

  // Whether the terminal is in exclusive use (a root test may open it anyway).
  bool Exclusive() const {
    const int fd = open(mName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY;
    int exclusive = 0;
    const bool read = ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    close(fd);
    return read && exclusive != 0;
  }

  int mMaster = -1;
  std::string mName;
};

}  // namespace

TEST_F(SerialPortTest, AppliesRawModeAndSpeed) {
  auto port = Open(14);
  EXPECT_TRUE(port->IsConnected());
  termios t{};
  ASSERT_EQ(tcgetattr(mMaster, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_EQ(cfgetispeed(&t), B115200);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialPortTest, EveryBaudCodeOpensIncludingRatesWithoutAConstant) {
  for (int32_t code = 0; code < 16; ++code) {
    auto port = Open(code);
    EXPECT_TRUE(port->IsConnected()) << code;
    port->Close();
  }
  PortSource bad(mName, {.baud = 16});
  EXPECT_EQ(MessageOf<ConnectionException>([&] { bad.Connect(); }),
            "SerPort.Connect(): Could not connect. LastError:-22");
}

TEST_F(SerialPortTest, TheDevicesOwnSettingsComeBackWhenItCloses) {
  termios before{};
  ASSERT_EQ(tcgetattr(mMaster, &before), 0);
  before.c_lflag |= ICANON | ECHO;
  cfsetospeed(&before, B1200);
  cfsetispeed(&before, B1200);
  ASSERT_EQ(tcsetattr(mMaster, TCSANOW, &before), 0);

  for (int32_t baud : {14, 7}) {  // a standard rate and one set as a custom rate
    auto port = Open(baud);
    termios during{};
    ASSERT_EQ(tcgetattr(mMaster, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    port->Close();
    termios after{};
    ASSERT_EQ(tcgetattr(mMaster, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B1200) << baud;
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO)) << baud;
  }
}

TEST_F(SerialPortTest, SettingsTheDeviceDoesNotTakeAreRefusedNamingTheDevice) {
  // A pseudo-terminal always keeps 8 data bits.
  PortSource sevenBits(mName, {.dataBits = DataBits::k7});
  EXPECT_EQ(MessageOf<InvalidPortException>([&] { sevenBits.Connect(); }),
            "SerPort.Connect(): " + mName +
                " did not take the line settings: character size 7 data bits reads back as 8");
  EXPECT_FALSE(sevenBits.IsConnected());
  auto port = Open();  // the failed attempt left the device free
  EXPECT_TRUE(port->IsConnected());
}

TEST(TermiosSettings, DataBitsParityStopBitsAndFlowControl) {
  termios t{};
  bool custom = false;
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (DataBits bits : {DataBits::k5, DataBits::k6, DataBits::k7, DataBits::k8}) {
    ASSERT_TRUE(Posix::BuildTermios({.dataBits = bits}, t, &custom));
    EXPECT_EQ(t.c_cflag & CSIZE, sizes[static_cast<int>(bits)]);
  }
  ASSERT_TRUE(
      Posix::BuildTermios({.parity = Parity::kOdd, .stopBits = StopBits::kTwo}, t, &custom));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB),
            static_cast<tcflag_t>(PARENB | PARODD | CSTOPB));
  ASSERT_TRUE(Posix::BuildTermios({.parity = Parity::kEven}, t, &custom));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB), static_cast<tcflag_t>(PARENB));
  ASSERT_TRUE(Posix::BuildTermios({.stopBits = StopBits::kOneAndHalf}, t, &custom));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), static_cast<tcflag_t>(CSTOPB));
  EXPECT_FALSE(custom);
  ASSERT_TRUE(Posix::BuildTermios({.flow = FlowControl::kRtsCts}, t, &custom));
  EXPECT_EQ(t.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  ASSERT_TRUE(Posix::BuildTermios({.flow = FlowControl::kXonXoff}, t, &custom));
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  ASSERT_TRUE(Posix::BuildTermios({.baud = 7}, t, &custom));  // 7200 bit/s
  EXPECT_TRUE(custom);
  // Values outside the enumerators, as a cast from a stored number can make them.
  EXPECT_FALSE(Posix::BuildTermios({.parity = static_cast<Parity>(3)}, t, &custom));
  EXPECT_FALSE(Posix::BuildTermios({.dataBits = static_cast<DataBits>(4)}, t, &custom));
  EXPECT_FALSE(Posix::BuildTermios({.stopBits = static_cast<StopBits>(3)}, t, &custom));
  EXPECT_FALSE(Posix::BuildTermios({.flow = static_cast<FlowControl>(3)}, t, &custom));
  EXPECT_FALSE(Posix::BuildTermios({.baud = -1}, t, &custom));
}

TEST_F(SerialPortTest, BytesPassUnchangedBothWays) {
  auto port = Open();
  const std::string command("getdata\r\n\x00\x03\x1a\xff", 13);
  port->Write(command);
  EXPECT_EQ(ReadBytes(mMaster, command.size()), command);
  port->Write("");  // sends nothing, raises nothing

  const std::string reply("1,2\r\n\x00\x03\x11\x13\xffPELOX>", 16);
  Send(*port, reply, reply.size());
  EXPECT_EQ(port->LookAhead(), reply);  // left in place
  EXPECT_EQ(port->LookAhead(), reply);
  EXPECT_EQ(port->Read(4), "1,2\r");
  EXPECT_EQ(port->Read(0), "");
  EXPECT_EQ(port->ReadAll(), reply.substr(4));
  EXPECT_EQ(port->ReadAll(), "");
  EXPECT_EQ(port->LastErrorCode(), 0);
}

TEST_F(SerialPortTest, PurgeDropsWhatArrivedIncludingDuringTheWait) {
  auto port = Open();
  Send(*port, "stale", 5);
  port->Purge(0);
  EXPECT_EQ(port->LookAhead(), "");

  // Bytes still on their way through the OS when Purge runs are dropped too.
  ASSERT_TRUE(WriteBytes(mMaster, "late"));
  auto start = std::chrono::steady_clock::now();
  port->Purge(100);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  Send(*port, "fresh", 5);
  EXPECT_EQ(port->ReadAll(), "fresh");
}

TEST_F(SerialPortTest, ASecondOpenIsRefusedUntilTheFirstCloses) {
  auto first = Open();
  PortSource second(mName);
  EXPECT_EQ(MessageOf<ConnectionException>([&] { second.Connect(); }),
            "SerPort.Connect(): Could not connect. LastError:-11");
  EXPECT_FALSE(second.IsConnected());
  EXPECT_TRUE(Exclusive());  // the refused open left the first one's hold alone
  first->Close();
  EXPECT_FALSE(first->IsConnected());
  second.Connect();
  EXPECT_TRUE(second.IsConnected());
}

TEST_F(SerialPortTest, HangUpDeliversTheLastBytesThenRaises) {
  auto port = Open();
  Send(*port, "last", 4);
  close(mMaster);  // hangs the line up
  mMaster = -1;
  // The wait sees the hang-up at once, then sleeps the rest: no spin, no hang.
  auto start = std::chrono::steady_clock::now();
  port->WaitForData(50);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // Bytes received before the hang-up come first; the error follows them.
  EXPECT_EQ(port->LookAhead(), "last");
  EXPECT_EQ(port->Read(4), "last");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port->LookAhead(); }),
            "LookAhead failed. LastError:-5");
  EXPECT_EQ(port->LastErrorCode(), -5);
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port->Read(10); }), "Read failed. LastError:-5");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port->ReadAll(); }),
            "Serport.ReadAll failed  LastError:-5");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port->Write("quit\r"); }),
            "Write failed . LastError:-5");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { port->Purge(0); }),
            "Serport.ReadAll failed  LastError:-5");
  EXPECT_TRUE(port->IsConnected());  // the flag, not the line
}
