// The status line during long replies, seen on a terminal.

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/Sandbox.h"
#include "support/SimProcess.h"

TEST(ProgressLine, UpdatesInPlaceOnATerminalAndMakesWayForLogLines) {
  Sandbox box;
  // Two seconds of data: the line is redrawn however late the run gets its turns.
  SimProcess sim(box, {"--tcp", "0", "--records", "1400", "--throttle", "30000"});
  nlohmann::json cfg = {{"Name", "site1"},
                        {"Status", "Active"},
                        {"Port", sim.PortText()},
                        {"ConnectAttemptMaxTries", 2},
                        {"ConnectAttemptTimeout", 2},
                        {"RecordRequestSize", 1400}};
  box.AddDeployment("site1", cfg.dump());

  int status = -1;
  const std::string screen = RunOnTerminal(Sandbox::DownloadTool(), {"-d", "site1", "-l", "INFO"},
                                           box.ProcessOptions(), STDERR_FILENO, status);

  EXPECT_EQ(status, 0);
  auto first = screen.find("\r\033[Kgetdata: ");
  ASSERT_NE(first, std::string::npos) << screen;
  EXPECT_NE(screen.find(" lines, ", first), std::string::npos);
  EXPECT_NE(screen.find("\r\033[Kgetdata: ", first + 1), std::string::npos);  // redrawn
  // Every log line after the status line starts on an erased line.
  auto logLine = screen.find(": (INFO) : Accessing", first);
  if (logLine == std::string::npos) logLine = screen.find(": (WARNING) : ", first);
  ASSERT_NE(logLine, std::string::npos) << screen;
  EXPECT_NE(screen.rfind("\r\033[K", logLine), std::string::npos);
}
