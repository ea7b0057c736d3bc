// A download through a real serial-to-TCP bridge: the tool talks TCP to ser2net,
// which drives the simulated controller's pseudo-terminal as a serial device.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/Sandbox.h"
#include "support/SimProcess.h"

namespace {

const char* kSer2net = "/usr/sbin/ser2net";

// A loopback port that was free a moment ago.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

TEST(Ser2net, DownloadsThroughTheBridge) {
  if (!std::filesystem::exists(kSer2net)) GTEST_SKIP() << "ser2net is not installed";
  Sandbox box;
  SimProcess sim(box, {"--pty", "--records", "60"});
  int port = FreePort();
  std::string config = box.Root() + "/ser2net.yaml";
  WriteFile(config, "%YAML 1.1\n---\nconnection: &sim\n  accepter: tcp,127.0.0.1," +
                        std::to_string(port) + "\n  connector: serialdev," + sim.PortText() +
                        ",115200n81,local\n");
  Subprocess bridge(kSer2net, {"-n", "-d", "-c", config}, box.ProcessOptions());
  bool ready = false;
  for (int i = 0; i < 400 && !(ready = Accepts(port)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(ready) << bridge.Stderr();

  nlohmann::json cfg = {{"Name", "site1"},
                        {"Status", "Active"},
                        {"Port", "127.0.0.1:" + std::to_string(port)},
                        {"ConnectAttemptMaxTries", 3},
                        {"ConnectAttemptTimeout", 2},
                        {"ExtractReceivedRecordFile", "extract.rcd"}};
  box.AddDeployment("site1", cfg.dump(2));
  WriteFile(box.DeploymentFolder("site1") + "/extract.rcd", "1-20\n31-40\n");
  auto r = box.Download({"-d", "site1", "-l", "DEBUG"});
  ASSERT_EQ(r.status, 0) << WithoutTimeStamps(r.err);
  auto files = box.SessionFiles("site1");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadFile(files[0]), sim.SentBytes());
  EXPECT_EQ(sim.CommandsThrough("quit"), "\nlogs\ngetdata 30\ngetlog 0 1\ngetlog 21 10\nquit\n");
}
