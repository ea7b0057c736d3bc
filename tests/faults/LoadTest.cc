// Many runs at once: separate deployments against separate simulators, and
// two runs competing for one serial device.

#include <csignal>
#include <thread>

#include "FaultRun.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class Load : public FaultTest {};

}  // namespace

TEST_F(Load, ThirtyTwoDeploymentsAtOnce) {
  const int kRuns = 32;
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int i = 0; i < kRuns; ++i) {
    std::string name = "site" + std::to_string(i);
    sims.push_back(std::make_unique<SimProcess>(
        box, std::vector<std::string>{"--tcp", "0", "--records", std::to_string(100 + 10 * i)}));
    Deploy(name, Cfg(name, sims.back()->PortText()));
    WriteRcd(name, "1-20,40-60\n");
  }
  std::vector<std::unique_ptr<PendingRun>> runs;
  for (int i = 0; i < kRuns; ++i)
    runs.push_back(std::make_unique<PendingRun>(box, "site" + std::to_string(i)));
  for (int i = 0; i < kRuns; ++i) {
    RunOutcome r = runs[i]->Finish(60s);
    SCOPED_TRACE("site" + std::to_string(i));
    EXPECT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(r.session, sims[i]->SentBytes());
    EXPECT_NE(sims[i]->Commands().find("getlog 21 19\n"), std::string::npos);
  }
  json prefs = json::parse(ReadFile(box.PrefsFile()), nullptr, false);
  EXPECT_TRUE(prefs.is_object()) << ReadFile(box.PrefsFile());
}

TEST_F(Load, ASecondRunOnABusySerialDeviceFailsCleanly) {
  // 2,000 records of 100 bytes at 1,000 bytes/s: the first run would hold the
  // device for minutes. It is stopped only after the second run has ended, so
  // the device is busy for all of the second run's attempts however slowly the
  // machine runs either of them.
  SimProcess sim(box, {"--pty", "--records", "2000", "--record-size", "100", "--throttle", "1000"});
  json cfg = Cfg("serial", sim.PortText());
  cfg["Baud"] = "115200";
  cfg["RecordRequestSize"] = 2000;
  cfg.erase("ExtractReceivedRecordFile");
  Deploy("serial", cfg);

  PendingRun first(box, "serial");
  for (int i = 0; i < 6000 && sim.Commands().find("getdata") == std::string::npos; ++i)
    std::this_thread::sleep_for(5ms);
  ASSERT_NE(sim.Commands().find("getdata"), std::string::npos);
  PendingRun second(box, "serial");
  RunOutcome busy = second.Finish(60s);
  first.Process().Signal(SIGTERM);
  RunOutcome stopped = first.Finish();

  EXPECT_EQ(busy.status, 1);
  EXPECT_TRUE(busy.Logged("(FATAL) : Connect(): PortSourceTimeoutError\n"));
  EXPECT_EQ(stopped.status, 1);
  EXPECT_TRUE(stopped.Logged("(FATAL) : Stopped by SIGTERM"));
  EXPECT_EQ(sim.Commands(), "\nlogs\ngetdata 2000\n");

  // Two session files: the first run's holds what it received, the other nothing.
  auto files = box.SessionFiles("serial");
  ASSERT_EQ(files.size(), 2u);
  std::string a = ReadFile(files[0]), b = ReadFile(files[1]);
  EXPECT_TRUE(a.empty() || b.empty());
  EXPECT_NE((a + b).find("Records logged: 2000"), std::string::npos);
  EXPECT_TRUE(IsPrefix(a + b, sim.SentBytes()));
}
