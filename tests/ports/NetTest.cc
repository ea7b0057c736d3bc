#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>

#include "PortTestSupport.h"
#include "ports/NetPort.h"
#include "ports/PortSource.h"
#include "ports/PortSourceUtils.h"
#include "ports/posix/TcpSocket.h"
#include "support/FakeClock.h"

using namespace PortSourceUtils;
using PortTest::MessageOf;
using PortTest::ReadBytes;
using PortTest::WaitUntil;
using PortTest::WriteBytes;

namespace {

// A listening socket on 127.0.0.1 with a kernel-chosen port.
class Listener {
 public:
  explicit Listener(int backlog = 4) {
    mFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(mFd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(mFd, backlog) != 0 ||
        getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ADD_FAILURE() << "listener set-up failed";
    }
    mPort = ntohs(a.sin_port);
  }
  ~Listener() { close(mFd); }
  std::string Text() const { return "127.0.0.1:" + std::to_string(mPort); }
  int Port() const { return mPort; }
  int Accept() {
    pollfd p{mFd, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return -1;
    return accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int mFd = -1;
  int mPort = 0;
};

class NetPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mPort = std::make_unique<PortSource>(mListener.Text());
    mPort->Connect();
    ASSERT_TRUE(mPort->IsConnected());
    mPeer = mListener.Accept();
    ASSERT_GE(mPeer, 0);
  }
  void TearDown() override {
    if (mPeer >= 0) close(mPeer);
  }
  void Send(const std::string& bytes, size_t expectedBuffered) {
    ASSERT_TRUE(WriteBytes(mPeer, bytes));
    ASSERT_TRUE(WaitUntil(*mPort, [&] { return mPort->LookAhead().size() >= expectedBuffered; }));
  }

  Listener mListener;
  std::unique_ptr<PortSource> mPort;
  int mPeer = -1;
};

}  // namespace

TEST_F(NetPortTest, BytesPassUnchangedBothWays) {
  const std::string command("logs\r\n\x00\xff", 8);
  mPort->Write(command);
  EXPECT_EQ(ReadBytes(mPeer, command.size()), command);
  mPort->Write("");

  const std::string reply("12 records\r\n\x00\xffPELOX>", 20);
  Send(reply, reply.size());
  EXPECT_EQ(mPort->LookAhead(), reply);
  EXPECT_EQ(mPort->Read(3), "12 ");
  EXPECT_EQ(mPort->ReadAll(), reply.substr(3));
  EXPECT_EQ(mPort->LastErrorCode(), 0);
}

TEST_F(NetPortTest, PurgeDropsWhatArrivedIncludingDuringTheWait) {
  Send("stale", 5);
  mPort->Purge(0);
  EXPECT_EQ(mPort->LookAhead(), "");
  ASSERT_TRUE(WriteBytes(mPeer, "late"));
  mPort->Purge(100);
  Send("fresh", 5);
  EXPECT_EQ(mPort->ReadAll(), "fresh");
}

// The waits of a trickling reply, told apart by what ended them: input or the
// end of a pause. Counts, not durations: the bytes are in the socket before each
// wait, and a clock that stands still cannot end a pause early however slow the
// machine (a wait's polls still last their real time).
class TrickleTest : public ::testing::Test {
 protected:
  // The tool's socket, with its descriptor in reach of the test.
  struct ProbeSocket : Posix::TcpSocket {
    using Posix::TcpSocket::Fd;
  };

  void SetUp() override {
    ASSERT_EQ(mSocket.Connect("127.0.0.1", mListener.Port(), 2000), 0);
    mPeer = mListener.Accept();
    ASSERT_GE(mPeer, 0);
    // A first small piece: the waits after it gather.
    ASSERT_TRUE(WriteBytes(mPeer, "rec 1\r\n"));
    for (int i = 0; i < 200 && mSocket.Buffered() < 7; ++i) mSocket.WaitReadable(10);
    ASSERT_EQ(mSocket.ReadAll(), "rec 1\r\n");
  }
  void TearDown() override {
    if (mPeer >= 0) close(mPeer);
  }
  // Sends each piece with a write of its own and waits until the tool's socket
  // holds them all, unread.
  void Deliver(std::initializer_list<std::string> pieces) {
    int sent = 0, queued = 0;
    for (const std::string& piece : pieces) {
      ASSERT_TRUE(WriteBytes(mPeer, piece));
      sent += static_cast<int>(piece.size());
    }
    for (int i = 0; i < 2000 && queued < sent; ++i) {
      ASSERT_EQ(ioctl(mSocket.Fd(), FIONREAD, &queued), 0);
      if (queued < sent) poll(nullptr, 0, 1);
    }
    ASSERT_EQ(queued, sent);
  }
  // Delivers the pieces, then waits once; returns how that wait's polls ended.
  Posix::TcpSocket::WakeUps WaitAfter(std::initializer_list<std::string> pieces,
                                      const WaitCue& cue) {
    const Posix::TcpSocket::WakeUps before = mSocket.WaitWakeUps();
    Deliver(pieces);
    mSocket.WaitReadable(10, cue);
    return {mSocket.WaitWakeUps().byInput - before.byInput,
            mSocket.WaitWakeUps().byTimer - before.byTimer};
  }

  Listener mListener;
  ProbeSocket mSocket;
  int mPeer = -1;
};

TEST_F(TrickleTest, APromptEndsAGatheringWaitWithoutWaitingOutThePause) {
  FakeClock still;
  auto woke = WaitAfter({"rec 2\r\nPELOX>"}, {">"});
  EXPECT_EQ(mSocket.ReadAll(), "rec 2\r\nPELOX>");
  EXPECT_EQ(woke.byInput, 1u);
  EXPECT_EQ(woke.byTimer, 0u);

  // A piece without the cue is gathered until the pause is over.
  woke = WaitAfter({"rec 3\r\n"}, {">"});
  EXPECT_EQ(mSocket.ReadAll(), "rec 3\r\n");
  EXPECT_EQ(woke.byInput, 1u);
  EXPECT_EQ(woke.byTimer, 1u);
}

TEST_F(TrickleTest, BytesThatMustComeFirstCollectInTheSocketUnseen) {
  FakeClock still;
  // 100 bytes must come before the prompt can: these do not wake the wait, and
  // the end of its pause takes them all the same.
  auto woke = WaitAfter({"a\r\n", "b\r\n", "c\r\n"}, {">", 100});
  EXPECT_EQ(mSocket.ReadAll(), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(woke.byInput, 0u);
  EXPECT_EQ(woke.byTimer, 1u);

  // A pause that ran out below its mark saw a trickle, even one that brought
  // more than a few bytes: the next wait gathers again instead of waking for
  // the first piece.
  const std::string lines(1100, 'r');
  woke = WaitAfter({lines}, {">", 4000});
  EXPECT_EQ(mSocket.ReadAll(), lines);
  EXPECT_EQ(woke.byTimer, 1u);
  woke = WaitAfter({"d\r\n"}, {">", 4000});
  EXPECT_EQ(mSocket.ReadAll(), "d\r\n");
  EXPECT_EQ(woke.byInput, 0u);
  EXPECT_EQ(woke.byTimer, 1u);

  // With nothing more owed, the prompt wakes the wait at once.
  woke = WaitAfter({"PELOX>"}, {">"});
  EXPECT_EQ(mSocket.ReadAll(), "PELOX>");
  EXPECT_EQ(woke.byTimer, 0u);
}

TEST_F(NetPortTest, PeerCloseIsReportedAfterItsLastBytes) {
  ASSERT_TRUE(WriteBytes(mPeer, "bye"));
  close(mPeer);
  mPeer = -1;
  ASSERT_TRUE(WaitUntil(*mPort, [&] { return mPort->LookAhead().size() == 3; }));
  // Waiting after the close sleeps rather than spins.
  auto start = std::chrono::steady_clock::now();
  mPort->WaitForData(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_TRUE(mPort->IsConnected());
  EXPECT_EQ(mPort->Read(3), "bye");
  EXPECT_FALSE(mPort->IsConnected());
  EXPECT_EQ(mPort->LookAhead(), "");
  EXPECT_EQ(mPort->LastErrorCode(), 0);
}

TEST_F(NetPortTest, ResetByPeerRaisesWithItsCode) {
  linger hard{1, 0};
  setsockopt(mPeer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(mPeer);
  mPeer = -1;
  ASSERT_TRUE(WaitUntil(*mPort, [&] { return mPort->LastErrorCode() != 0; }));
  EXPECT_FALSE(mPort->IsConnected());
  EXPECT_EQ(MessageOf<PortSourceException>([&] { mPort->LookAhead(); }),
            "LookAhead failed. LastError:-104");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { mPort->Read(1); }), "Read failed. LastError:-104");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { mPort->ReadAll(); }),
            "Netport.ReadAll failed. LastError:-104");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { mPort->Write("quit\r"); }),
            "Write failed . LastError:-104");
  EXPECT_EQ(MessageOf<PortSourceException>([&] { mPort->Net()->BytesLeftToSend(); }),
            "BytesLeftToSend failed. LastError:-104");
}

TEST_F(NetPortTest, LargeTransfersCompleteBothWays) {
  // The blocking write must keep going while the peer reads, and reads must keep
  // pace with a peer that sends faster than one OS buffer holds.
  const size_t size = 8 * 1024 * 1024;
  std::string block(size, '\0');
  for (size_t i = 0; i < size; ++i) block[i] = static_cast<char>(i * 131 % 251);
  std::string echoed;
  std::thread peer([&] {
    echoed = ReadBytes(mPeer, size);
    WriteBytes(mPeer, block);
  });
  mPort->Write(block);
  std::string received;
  WaitUntil(*mPort, [&] {
    received += mPort->ReadAll();
    return received.size() >= size;
  });
  peer.join();
  EXPECT_TRUE(echoed == block);
  EXPECT_TRUE(received == block);
}

TEST(NetPortConnect, RefusedConnectionRaisesWithANegativeCode) {
  int port = 0;
  {
    Listener closed;
    port = closed.Port();
  }
  PortSource source("127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(MessageOf<ConnectionException>([&] { source.Connect(); }),
            "Could not connect. LastError:-111");
  EXPECT_FALSE(source.IsConnected());
  EXPECT_EQ(source.LastErrorCode(), -111);
}

// A listener that never accepts, its queue filled by one client: the next
// connect to it stays pending.
class HangingConnect : public ::testing::Test {
 protected:
  void SetUp() override {
    Aim(mFiller);
    mFiller.Connect();
    Aim(mPort);
  }
  void Aim(NetPort& port) {
    port.SetAddress("127.0.0.1");
    port.SetPort(mFull.Port());
  }

  Listener mFull{0};
  NetPort mFiller;
  NetPort mPort;
};

TEST_F(HangingConnect, AnUnansweredConnectIsBoundedInTime) {
  NetPort& port = mPort;
  port.SetConnectTimeoutMs(200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MessageOf<ConnectionException>([&] { port.Connect(); }),
            "Could not connect. LastError:-110");
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(200));
  EXPECT_LT(took, std::chrono::seconds(20));
}

TEST_F(HangingConnect, AStopRequestEndsAHangingConnectAtOnce) {
  NetPort& port = mPort;
  port.SetConnectTimeoutMs(30000);
  struct Stop {};
  int turns = 0;
  port.SetPendingEvents([&] {
    if (++turns == 2) throw Stop{};
  });
  EXPECT_THROW(port.Connect(), Stop);  // without the turns: a ConnectionException after 30 s
  EXPECT_FALSE(port.IsConnected());
}

TEST_F(NetPortTest, AStopRequestEndsABlockedWrite) {
  // The peer reads nothing, so the write blocks once the socket buffers are full.
  struct Stop {};
  int turns = 0;
  mPort->SetPendingEvents([&] {
    if (++turns == 3) throw Stop{};
  });
  EXPECT_THROW(mPort->Write(std::string(64 * 1024 * 1024, 'w')), Stop);
  EXPECT_TRUE(mPort->IsConnected());
}
