#pragma once
// A Controller wired to a scripted port, with its log lines, events and the data
// its handlers drained captured the way the application's session capture sees them.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controller/Controller.h"
#include "ports/PortSource.h"
#include "support/FakeClock.h"
#include "support/ScriptedPort.h"

class ControllerFixture : public ::testing::Test {
 protected:
  ControllerFixture() {
    auto backend = std::make_unique<ScriptedPort>(clock);
    port = backend.get();
    controller.mPort = std::make_unique<PortSourceUtils::PortSource>(std::move(backend));
    controller.LogSink = [this](const std::string& severity, const std::string& text) {
      logs.push_back(severity + " " + text);
    };
    controller.RawDataAvailable = [this](Controller& c) { Drain("raw", c); };
    controller.GotPrompt = [this](Controller& c) { Drain("prompt", c); };
  }

  void Drain(const std::string& event, Controller& c) {
    largestBuffer = std::max(largestBuffer, c.rawBuffer.size());
    const std::string data = c.ReadRawData();
    events.push_back(event + ":" + data);
    captured += data;
  }

  bool Logged(const std::string& line) const {
    for (const std::string& l : logs) {
      if (l == line) return true;
    }
    return false;
  }

  FakeClock clock;  // first in, last out: everything below reads it
  Controller controller{clock};
  ScriptedPort* port;  // owned by controller.mPort
  std::vector<std::string> logs;
  std::vector<std::string> events;
  std::string captured;
  size_t largestBuffer = 0;
};
