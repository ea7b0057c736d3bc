// The built simulator as a process: its start line, the dialogue over TCP and
// over a pseudo-terminal, the fault options and the logs it keeps.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RecordFormat.h"
#include "SimLink.h"
#include "TempDir.h"
#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

std::string Records(int64_t first, int64_t last, size_t size = 0) {
  std::string text;
  for (int64_t n = first; n <= last; ++n) text += RecordFormat(size).Line(n);
  return text;
}

int RunToExit(const std::vector<std::string>& args, std::string* output) {
  std::string command = Sandbox::Simulator();
  for (const std::string& a : args) command += " '" + a + "'";
  command += " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(SimTcpTest, ServesTheDialogueToConnectionsInSequence) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--records", "50", "--next", "41"});
  for (int round = 0; round < 2; ++round) {
    SimLink link = SimLink::Tcp(sim.Port());
    link.Send("\r");
    EXPECT_EQ(link.ReadUntil("PELOX>"), "\r\nPELOX>");
    link.Send("logs\r");
    EXPECT_EQ(link.ReadUntil("PELOX>"),
              "\r\nRecords logged: 50\r\nNext download is record 41\r\nPELOX>");
    link.Send("getdata 30\r\n");
    EXPECT_EQ(link.ReadUntil("PELOX>"), "\r\n" + Records(21, 50) + "done\r\nPELOX>");
    link.Send("getlog 49 5\n");
    EXPECT_EQ(link.ReadUntil("PELOX>"), "\r\n" + Records(49, 50) + "PELOX>");
    link.Send("quit\r");
    EXPECT_EQ(link.ReadToEnd(), "");
  }
  EXPECT_EQ(sim.Terminate(), 0);
}

TEST(SimTcpTest, OnceEndsWithTheFirstConnection) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--once"});
  {
    SimLink link = SimLink::Tcp(sim.Port());
    link.Send("\r");
    link.ReadUntil("PELOX>");
  }
  EXPECT_EQ(sim.WaitExit(5000), 0);
}

TEST(SimTcpTest, BigRepliesStreamWhole) {
  Sandbox box;
  // 200,000 records of 100 bytes: the reply passes through many buffer blocks.
  SimProcess sim(box, {"--tcp", "0", "--records", "200000", "--record-size", "100", "--once",
                       "--send-on-connect", "getdata 300000\rquit"});
  SimLink link = SimLink::Tcp(sim.Port());
  std::string all = link.ReadToEnd(20000);
  ASSERT_EQ(all.size(), 2 + 200000u * 100 + 6 + 6);
  EXPECT_EQ(all.substr(2, 100), RecordFormat(100).Line(1));
  EXPECT_EQ(all.substr(2 + 199999u * 100, 100), RecordFormat(100).Line(200000));
  EXPECT_EQ(all.substr(all.size() - 12), "done\r\nPELOX>");
}

TEST(SimPtyTest, ServesLaterClientsAndQuitEndsOnce) {
  Sandbox box;
  TempDir dir;
  std::string linkPath = dir.Path() + "/ttySIM";
  SimProcess sim(box, {"--pty", "--once", "--link", linkPath, "--records", "3", "--prompt", "C>"});
  char target[256] = {};
  ASSERT_GT(::readlink(linkPath.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), sim.PtyPath());
  {
    SimLink first = SimLink::Pty(linkPath);
    first.Send("\r");
    EXPECT_EQ(first.ReadUntil("C>"), "\r\nC>");
  }
  SimLink second = SimLink::Pty(sim.PtyPath());
  second.Send("GetData 2\r");
  EXPECT_EQ(second.ReadUntil("C>"), "\r\n" + Records(2, 3) + "done\r\nC>");
  second.Send("quit\r");
  EXPECT_EQ(sim.WaitExit(5000), 0);
  struct stat info;
  EXPECT_NE(::lstat(linkPath.c_str(), &info), 0) << "the link outlived the simulator";
}

TEST(SimFaultTest, NoDoneLeavesOutDoneForTheFirstReplies) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--records", "4", "--no-done", "1"});
  for (int round = 0; round < 2; ++round) {
    SimLink link = SimLink::Tcp(sim.Port());
    link.Send("getdata 2\r");
    EXPECT_EQ(link.ReadUntil("PELOX>"), "\r\n" + Records(3, 4) + "PELOX>");
    link.Send("getdata 2\r");
    EXPECT_EQ(link.ReadUntil("PELOX>"), "\r\n" + Records(3, 4) + "done\r\nPELOX>");
  }
}

TEST(SimFaultTest, CloseAfterSendsExactlyThatManyBytes) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--records", "100", "--close-after", "1000"});
  SimLink link = SimLink::Tcp(sim.Port());
  link.Send("getdata 100\r");
  std::string all = link.ReadToEnd();
  EXPECT_EQ(all, ("\r\n" + Records(1, 100)).substr(0, 1000));
}

TEST(SimFaultTest, SilentAfterStopsSendingButStillListens) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--silent-after", "5"});
  SimLink link = SimLink::Tcp(sim.Port());
  link.Send("logs\r");
  EXPECT_EQ(link.ReadUntil("\r\nRec"), "\r\nRec");
  link.Send("quit\r");
  EXPECT_EQ(link.ReadToEnd(), "");
  EXPECT_EQ(sim.CommandsThrough("quit"), "logs\nquit\n");
}

TEST(SimFaultTest, ChunkedEchoedReplyMatchesTheSentLog) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--records", "20", "--chunk", "7", "--echo",
                       "--send-on-connect", "logs"});
  SimLink link = SimLink::Tcp(sim.Port());
  std::string received = link.ReadUntil("PELOX>");
  link.Send("\r\ngetdata 20\r");
  received += link.ReadUntil("done\r\nPELOX>");
  link.Send("quit\r");
  received += link.ReadToEnd();
  EXPECT_EQ(received.substr(0, 20), "\r\nRecords logged: 20");
  EXPECT_NE(received.find("PELOX>\r\ngetdata 20\r\r\nPELOX>\r\n" + Records(1, 20) + "done"),
            std::string::npos);
  EXPECT_EQ(sim.SentBytes(), received);
  EXPECT_EQ(sim.CommandsThrough("quit"), "logs\n\ngetdata 20\nquit\n");
}

TEST(SimFaultTest, NoNewlinesStreamsUntilTheClientLeaves) {
  Sandbox box;
  SimProcess sim(box, {"--tcp", "0", "--no-newlines"});
  {
    SimLink link = SimLink::Tcp(sim.Port());
    link.Send("getdata 1\r");
    std::string part = link.ReadAtLeast(1000000);
    EXPECT_EQ(part.find_first_of("\r\n"), std::string::npos);
  }
  // The simulator notices the departure and serves the next client.
  SimLink next = SimLink::Tcp(sim.Port());
  next.Send("\r");
  EXPECT_EQ(next.ReadUntil("PELOX>"), "\r\nPELOX>");
}

TEST(SimCommandLineTest, HelpAndErrors) {
  std::string help;
  EXPECT_EQ(RunToExit({"--help"}, &help), 0);
  for (const char* flag : {"--tcp",         "--pty",          "--link",
                           "--once",        "--records",      "--next",
                           "--record-size", "--prompt",       "--send-on-connect",
                           "--no-prompt",   "--close-after",  "--silent-after",
                           "--no-done",     "--garbage",      "--throttle",
                           "--chunk",       "--echo",         "--no-newlines",
                           "--quit-reply",  "--log-commands", "--log-sent",
                           "--speed"}) {
    EXPECT_NE(help.find(flag), std::string::npos) << flag;
  }
  for (std::vector<std::string> bad : {std::vector<std::string>{},
                                       {"--tcp"},
                                       {"--tcp", "70000"},
                                       {"--tcp", "0", "--bogus"},
                                       {"--pty", "--records", "-1"},
                                       {"--tcp", "0", "--link", "/tmp/x"},
                                       {"--tcp", "0", "--speed", "9600"},
                                       {"--tcp=0", "--record-size", "2"}}) {
    std::string output;
    EXPECT_EQ(RunToExit(bad, &output), 2) << output;
    EXPECT_EQ(output.rfind("pelox5-sim: ", 0), 0u) << output;
  }
}
