#pragma once
// pelox5-extract's publish to the central database, after the local part:
// the store's unpublished records go up, the numbers the central database
// holds for the deployment come back into the record recovery file. A central
// failure leaves the local part as it is and says how many records wait.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/Clock.h"

namespace ExtractCommand {

struct CentralRequest {
  std::string conninfo;
  std::string deployment;  // the cfg's Name
  std::string host;
  std::string storePath;
  std::string recoveryFile;  // "" when the cfg names none
  std::optional<int64_t> recordsLogged;
  std::function<void(const std::string&, const std::string&)> log;
};

struct CentralSummary {
  bool ok = false;
  std::string database;  // the connection's name, without its password
  int64_t sent = 0, fresh = 0, conflicts = 0;
  int64_t waiting = 0;  // records still not published
  std::optional<int64_t> waitingSince;
  std::string error;
  // The record recovery file's missing records after the central numbers
  // were added; none when it was not written.
  std::optional<int64_t> missing;
};

// Never raises for the central database; the store's and the record recovery
// file's errors pass through as Records::StoreError and RecoveryFileError.
CentralSummary PublishToCentral(const CentralRequest& request, Clock& clock);

// The name this host publishes under: `given`, else the system's host name.
std::string HostName(const std::string& given);

}  // namespace ExtractCommand
