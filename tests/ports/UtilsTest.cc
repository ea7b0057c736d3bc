#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "base/DeadlinePoll.h"
#include "ports/PortSourceUtils.h"
#include "ports/posix/ByteQueue.h"
#include "support/FakeClock.h"

using namespace PortSourceUtils;

TEST(BaudStringToConstant, MapsTheTableAndNothingElse) {
  const char* texts[] = {"300",  "600",   "1200",  "1800",  "2400",  "3600",  "4800",   "7200",
                         "9600", "14400", "19200", "28800", "38400", "57600", "115200", "230400"};
  for (int32_t code = 0; code < 16; ++code) EXPECT_EQ(BaudStringToConstant(texts[code]), code);
  for (const char* bad : {"9600 ", " 9600", "", "110", "09600", "9600.0"}) {
    EXPECT_EQ(BaudStringToConstant(bad), -1) << bad;
  }
}

TEST(IsSerialPortRequested, NetworkTextsNeedFourNumbersAndAPort) {
  EXPECT_FALSE(isSerialPortRequested("10.1.2.3:4001"));
  EXPECT_FALSE(isSerialPortRequested("10a1b2c3:4001"));
  EXPECT_FALSE(isSerialPortRequested("pre10.0.0.5:4001post"));
  EXPECT_FALSE(isSerialPortRequested("10\n0\n0\n5:4001"));  // any separator, line ends too
  EXPECT_TRUE(isSerialPortRequested("/dev/ttyUSB0"));
  EXPECT_TRUE(isSerialPortRequested("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4.2:1.0-port0"));
  EXPECT_TRUE(isSerialPortRequested("controller.example.org:4001"));
  EXPECT_TRUE(isSerialPortRequested("10.0.0.5"));
  EXPECT_TRUE(isSerialPortRequested("10.0.0:4001"));
  EXPECT_TRUE(isSerialPortRequested(std::string(100000, '1') + ":4001"));  // no deep recursion
}

TEST(EndsWith, IgnoresCaseAndHandlesShortTexts) {
  EXPECT_TRUE(endsWith("anything", ""));
  EXPECT_TRUE(endsWith("", ""));
  EXPECT_FALSE(endsWith("MPT>", "PELOX>"));
  EXPECT_TRUE(endsWith("record 12\r\nPELOX>", "pelox>"));
  EXPECT_TRUE(endsWith("record 12\r\npelox>", "PELOX>"));
  EXPECT_FALSE(endsWith("PELOX> ", "PELOX>"));
}

TEST(Clock, NowSecondsAndSleepsReadTheInstalledClock) {
  FakeClock fake;
  fake.SetWallSeconds(1780000000);
  char expected[32];
  std::tm local = Clock::LocalTimeOf(1780000000);
  std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &local);
  EXPECT_EQ(now(), expected);
  EXPECT_TRUE(std::regex_match(now(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << now();

  const uint32_t first = nowUsecs();
  Sleep(2500);
  EXPECT_EQ(nowUsecs() - first, 2u);
  Sleep(0);
  Sleep(-5);
  EXPECT_EQ(nowUsecs() - first, 2u);
}

TEST(Clock, TheRealClockMovesAndSleeps) {
  RealClock real;
  const int64_t before = real.MonotonicMs();
  real.SleepMs(30);
  EXPECT_GE(real.MonotonicMs() - before, 30);
  const int64_t wall = real.WallSeconds();
  EXPECT_LE(std::abs(wall - static_cast<int64_t>(std::time(nullptr))), 1);
}

TEST(Sleep, WaitsAtLeastTheTimeAndNothingForZero) {
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  Sleep(0);
  Sleep(-5);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5));
  start = Clock::now();
  Sleep(25);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(25));
}

TEST(PollUntil, EndsAtTheDeadlineInSlicesEvenWhenTheClockStandsStill) {
  FakeClock still;  // never advanced: only the waited-out slices count
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int turns = 0;
  auto turn = [&] { ++turns; };
  EXPECT_EQ(PollUntil(fds[0], POLLIN, still.MonotonicMs() + 150, turn, 50), 0);
  EXPECT_EQ(turns, 2);  // between the three slices

  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(PollUntil(fds[0], POLLIN, still.MonotonicMs() + 150, turn, 50), POLLIN);

  struct Stop {};
  char c;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  EXPECT_THROW(PollUntil(
                   fds[0], POLLIN, still.MonotonicMs() + 5000, [] { throw Stop{}; }, 10),
               Stop);
  close(fds[0]);
  close(fds[1]);
}

TEST(ByteQueue, KeepsOrderAcrossGrowthAndCompaction) {
  Posix::ByteQueue queue;
  std::string expected;
  std::string taken;
  unsigned char next = 0;
  // Uneven appends and takes force both the move-to-front and the growth paths.
  for (int round = 0; round < 2000; ++round) {
    std::string chunk;
    for (int i = 0; i < (round * 37) % 5000; ++i) chunk.push_back(static_cast<char>(next++));
    queue.Append(chunk);
    expected += chunk;
    taken += queue.Take(static_cast<size_t>((round * 53) % 6000));
    ASSERT_EQ(queue.Size(), expected.size() - taken.size());
  }
  taken += queue.Take(queue.Size());
  EXPECT_EQ(taken, expected);
  EXPECT_TRUE(queue.Empty());
}
