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
#include "ports/posix/TermiosSettings.h"
#include "support/FakeClock.h"

using namespace PortSourceUtils;

TEST(SpeedTable, TextCodeBitRateAndTermiosConstantAgree) {
  struct Row {
    const char* text;
    int32_t bitRate;
    speed_t constant;  // B0: set as a custom rate
  };
  const Row rows[] = {
      {"300", 300, B300},         {"600", 600, B600},       {"1200", 1200, B1200},
      {"1800", 1800, B1800},      {"2400", 2400, B2400},    {"3600", 3600, B0},
      {"4800", 4800, B4800},      {"7200", 7200, B0},       {"9600", 9600, B9600},
      {"14400", 14400, B0},       {"19200", 19200, B19200}, {"28800", 28800, B0},
      {"38400", 38400, B38400},   {"57600", 57600, B57600}, {"115200", 115200, B115200},
      {"230400", 230400, B230400}};
  ASSERT_EQ(kSerialSpeedCount, 16);
  for (int32_t code = 0; code < 16; ++code) {
    SCOPED_TRACE(rows[code].text);
    EXPECT_EQ(BaudStringToConstant(rows[code].text), code);
    EXPECT_EQ(BaudConstantToString(code), rows[code].text);
    EXPECT_EQ(BitRateOfCode(code), rows[code].bitRate);
    EXPECT_EQ(Posix::SpeedConstantOfCode(code), rows[code].constant);
  }
  for (const char* bad : {"9600 ", " 9600", "", "110", "09600", "9600.0"}) {
    EXPECT_EQ(BaudStringToConstant(bad), kUnknownBaudCode) << bad;
  }
  for (int32_t code : {-1, 16}) {
    EXPECT_EQ(BaudConstantToString(code), "") << code;
    EXPECT_EQ(BitRateOfCode(code), 0) << code;
    EXPECT_EQ(Posix::SpeedConstantOfCode(code), B0) << code;
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
