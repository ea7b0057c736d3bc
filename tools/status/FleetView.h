#pragma once
// pelox5-status --database: every deployment of the central database, with
// the hosts that publish it, its records, the records missing up to the
// controller's last logged count, its conflicts and its last publish.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "central/CentralDatabase.h"

namespace FleetView {

struct FleetDeployment {
  std::string name;
  std::vector<std::string> hosts;
  int64_t records = 0;
  int64_t conflicts = 0;
  std::optional<int64_t> recordsLogged;
  int64_t missing = 0;                 // as the record recovery file counts them
  std::optional<int64_t> lastPublish;  // unix seconds
};

// By name; none when the database holds none of our tables. Raises
// Central::CentralError.
std::vector<FleetDeployment> Collect(Central::Connection& db);

std::string Text(const std::vector<FleetDeployment>& list, int64_t now);
std::string Json(const std::vector<FleetDeployment>& list, int64_t now);
std::string Prometheus(const std::vector<FleetDeployment>& list);

}  // namespace FleetView
