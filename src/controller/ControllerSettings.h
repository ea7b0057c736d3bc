#pragma once
// What a Controller needs to reach the controller and run its dialogue. A run
// and pelox5-check build it from deployment.cfg (config/DeploymentSettings.h);
// the defaults are those of a deployment.cfg that sets nothing.

#include <cstdint>
#include <string>

#include "base/DialogueWords.h"
#include "ports/SerialSettings.h"
#include "recovery/RequestPlan.h"

// Every member has an initializer, so a designated initializer may name only
// what it changes.
struct ControllerSettings {
  // A serial device name or "a.b.c.d:port"; empty until read.
  std::string portName{};
  // Used for a serial port only.
  PortSourceUtils::SerialSettings serial{};
  std::string prompt = DialogueWords::kDefaultPrompt;
  int32_t connectAttemptMaxTries = 10;
  // Seconds; 0 is a bound under one second.
  int32_t connectAttemptTimeout = 5;
  int32_t recordRequestSize = RecordRecoveryUtils::kDefaultRequestSize;
};
